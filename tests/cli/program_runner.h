// Runs the command-line program as a child process with a time limit and
// collects its exit status and both output streams.
#pragma once

#include <string>
#include <vector>

namespace cli_testing {

struct RunResult {
    int status = -1;      // exit status; 128 + signal when killed; -1 when it could not start
    bool timed_out = false;
    std::string out;      // standard output
    std::string err;      // standard error
};

class ProgramRunner {
public:
    explicit ProgramRunner(std::string program) : program_(std::move(program)) {}

    // Extra environment for every run ("NAME=value"). The locale (LANG,
    // LANGUAGE, LC_*) is never inherited: the program runs in English unless
    // given one here.
    void SetEnvironment(std::vector<std::string> variables) { environment_ = std::move(variables); }
    RunResult Run(const std::vector<std::string> &args, int timeout_ms = 60000) const;
    // Like Run, but sends `signal` once standard error contains `trigger`.
    RunResult RunAndInterrupt(const std::vector<std::string> &args, const std::string &trigger,
                              int timeout_ms = 60000, int signal = 2 /* SIGINT */) const;

private:
    std::string program_;
    std::vector<std::string> environment_;
};

}  // namespace cli_testing
