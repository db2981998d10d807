#include "cli/program.h"

#include <filesystem>
#include <new>
#include <optional>

#include "capture/trace_capture.h"
#include "card/dump_formats.h"
#include "card/safe_file.h"
#include "cli/output_files.h"
#include "cli/platform.h"
#include "cli/trace_router.h"
#include "zelkor.h"

namespace zelkor::cli {

struct Program::Capture {
    capture::TraceCapture output;
    std::optional<TraceRouter> router;
};

Program::Program()
    : app_("zelkor: whole-card work with a serial contactless card reader", "zelkor"),
      language_(ProgramLanguage()),
      console_(std::make_unique<Console>(platform::StderrIsTerminal())),
      capture_(std::make_unique<Capture>()) {
    app_.require_subcommand(1, 1);
    app_.set_help_all_flag("--help-all", "Help on every command");
    app_.set_version_flag("--version", "zelkor " ZELKOR_VERSION_STRING);
}

Program::~Program() = default;

void Program::Register(CLI::App *command, std::function<int()> run) {
    commands_.emplace_back(command, std::move(run));
}

void Program::AddJsonOption(CLI::App *command) {
    command->add_flag("--json", json_, "Machine-readable output (JSON) on standard output");
}

void Program::AddTraceOptions(CLI::App *command) {
    command->add_flag("-v,--verbose", verbose_, "Show the library's trace of every exchange on standard error");
    command->add_option("--trace", trace_file_, "Write the library's trace (UTF-8) into FILE")
        ->type_name("FILE");
}

void Program::Result(std::string_view text) {
    const int descriptor = capture_->output.active() ? capture_->output.original_descriptor() : 1;
    platform::WriteTo(descriptor, text);
}

void CheckWritable(const std::string &path) { card::CheckOutputFile(path); }

namespace {

bool SameFile(const std::string &a, const std::string &b) {
    std::error_code error;
    if (std::filesystem::equivalent(a, b, error)) return true;
    const auto full_a = std::filesystem::weakly_canonical(a, error);
    if (error) return false;
    const auto full_b = std::filesystem::weakly_canonical(b, error);
    return !error && full_a == full_b;
}

}  // namespace

void Program::CheckTraceFile(const CLI::App &command) const {
    if (trace_file_.empty()) return;
    for (const CLI::Option *option : command.get_options()) {
        if (option->get_name() == "--trace" || option->get_type_name() != "FILE") continue;
        for (const std::string &file : option->results()) {
            if (SameFile(file, trace_file_))
                throw UsageError("--trace " + trace_file_ + " names a file the command reads or writes",
                                 "--trace " + trace_file_ + " 是本命令读写的文件");
        }
    }
    // A device (/dev/stderr, a terminal) takes a trace as it is.
    std::error_code error;
    const auto status = std::filesystem::status(trace_file_, error);
    if (!error && (std::filesystem::is_character_file(status) || std::filesystem::is_fifo(status))) return;
    card::CheckOutputFile(trace_file_);
}

int Program::Run(int argc, char **argv) {
    try {
        app_.parse(argc, argv);
    } catch (const CLI::ParseError &error) {
        // Help is a success; every other parse problem is a usage error.
        const int code = app_.exit(error);
        return code == 0 ? kExitSuccess : kExitUsage;
    }
    for (const auto &[command, run] : commands_) {
        if (command->parsed()) return RunCommand(*command, run);
    }
    Note("zelkor: no command given (zelkor --help lists them)", "zelkor：没有给出命令（zelkor --help 列出全部命令）");
    return kExitUsage;
}

int Program::RunCommand(const CLI::App &command, const std::function<int()> &run) {
    // Before any thread exists, so that only the watch thread takes Ctrl-C.
    platform::InterruptWatch interrupts(stop_, [this] {
        Note("zelkor: stopping after the current card operation (Ctrl-C again to quit at once)",
             "zelkor：当前的卡片操作完成后停止（再按一次 Ctrl-C 立即退出）");
    });
    try {
        CheckTraceFile(command);
    } catch (const card::FileError &e) {
        Note(Say("zelkor: --trace: ", "zelkor：--trace：") + FileErrorText(e));
        return kExitUsage;
    } catch (const UsageError &e) {
        Note(Say("zelkor: ", "zelkor：") + e.Text(language_));
        return kExitUsage;
    }
    // The library prints on standard output from its first call on; the
    // program's results keep the original standard output to themselves.
    // The trace file is created with the first trace line, which comes only
    // after the command has checked its arguments and files.
    capture_->router.emplace(*console_, verbose_, trace_file_, language_);
    capture::StartError error;
    if (!capture_->output.Start([router = &*capture_->router](std::string_view bytes) { router->Accept(bytes); },
                                {}, &error)) {
        Note(Say("zelkor: ", "zelkor：") + CaptureFailureText(error).In(language_));
        return kExitFailure;
    }
    int status = kExitFailure;
    try {
        status = run();
    } catch (const card::FileError &e) {
        Note(Say("zelkor: ", "zelkor：") + FileErrorText(e));
        status = kExitUsage;
    } catch (const std::bad_alloc &) {
        Note("zelkor: not enough memory", "zelkor：内存不足");
        status = kExitUsage;
    } catch (const UsageError &e) {
        Note(Say("zelkor: ", "zelkor：") + e.Text(language_));
        status = kExitUsage;
    } catch (const CardError &e) {
        Note(Say("zelkor: ", "zelkor：") + e.Text(language_));
        status = kExitFailure;
    } catch (const std::exception &e) {
        Note(Say("zelkor: unexpected failure: ", "zelkor：意外的错误：") + e.what());
        status = kExitFailure;
    }
    capture_->output.Stop();
    capture_->router->Finish();
    console_->ClearStatus();
    return status;
}

}  // namespace zelkor::cli
