// The program's frame: the command table, the conventions every command
// shares (results on standard output, messages on standard error, exit
// status 0 success, 1 reader or card failure, 2 usage or file error), the
// capture of the library's trace and the stop request of Ctrl-C.
#pragma once

#include <functional>
#include <memory>
#include <stdexcept>
#include <stop_token>
#include <string>
#include <string_view>
#include <vector>

#include <CLI/CLI.hpp>

#include "cli/bilingual.h"
#include "cli/console.h"

namespace zelkor::cli {

// 3: the card work succeeded but its result could not be saved where asked;
// it went to a fallback file or to standard output (the messages say which).
enum ExitStatus : int { kExitSuccess = 0, kExitFailure = 1, kExitUsage = 2, kExitSaveFailed = 3 };

// A failure the program words itself; what() is the English text.
class ProgramError : public std::runtime_error {
public:
    explicit ProgramError(const std::string &english) : std::runtime_error(english) {}
    ProgramError(const std::string &english, std::string chinese)
        : std::runtime_error(english), chinese_(std::move(chinese)) {}
    explicit ProgramError(const Bilingual &text) : ProgramError(text.english, text.chinese) {}

    // English when no Chinese text was given.
    std::string Text(Language language) const {
        return language == Language::Chinese && !chinese_.empty() ? chinese_ : std::string(what());
    }

private:
    std::string chinese_;
};

// A problem with the command line or with a file named on it: exit status 2.
class UsageError : public ProgramError {
public:
    using ProgramError::ProgramError;
};

// The reader or the card failed: exit status 1.
class CardError : public ProgramError {
public:
    using ProgramError::ProgramError;
};

// FileError (exit status 2) unless `path` can later be replaced; checked
// before any card work so that a long read is never lost to a bad output
// name. Leaves an existing file as it is.
void CheckWritable(const std::string &path);

class Program {
public:
    Program();
    ~Program();
    Program(const Program &) = delete;
    Program &operator=(const Program &) = delete;

    CLI::App &app() { return app_; }
    // Runs `run` when `command` is the one given on the command line; its
    // result is the exit status.
    void Register(CLI::App *command, std::function<int()> run);
    // Parses the command line and runs the command; returns the exit status.
    int Run(int argc, char **argv);

    // --json on `command`.
    void AddJsonOption(CLI::App *command);
    // -v and --trace on `command`.
    void AddTraceOptions(CLI::App *command);

    bool json() const { return json_; }
    // Chosen from the locale when the program starts.
    Language language() const { return language_; }
    std::string Say(std::string english, std::string chinese) const {
        return cli::Say(language_, std::move(english), std::move(chinese));
    }
    Console &console() { return *console_; }
    std::stop_token stop_token() const { return stop_.get_token(); }
    // Results for standard output (never the library's trace).
    void Result(std::string_view text);
    void Result(std::string english, std::string chinese) { Result(Say(std::move(english), std::move(chinese))); }
    // A line for standard error.
    void Note(std::string_view text) { console_->Message(text); }
    void Note(std::string english, std::string chinese) { Note(Say(std::move(english), std::move(chinese))); }

private:
    int RunCommand(const CLI::App &command, const std::function<int()> &run);
    // UsageError when --trace names a file the command reads or writes, or a
    // file that could not be written.
    void CheckTraceFile(const CLI::App &command) const;

    CLI::App app_;
    const Language language_;
    std::unique_ptr<Console> console_;
    std::vector<std::pair<CLI::App *, std::function<int()>>> commands_;
    std::stop_source stop_;
    struct Capture;
    std::unique_ptr<Capture> capture_;
    bool json_ = false;
    bool verbose_ = false;
    std::string trace_file_;
};

}  // namespace zelkor::cli
