#include "program.h"

#include <filesystem>
#include <fstream>
#include <optional>

#include "capture/trace_capture.h"
#include "card/dump_formats.h"
#include "platform.h"
#include "trace_router.h"

namespace zelkor::cli {

struct Program::Capture {
    capture::TraceCapture output;
    std::ofstream trace_file;
    std::optional<TraceRouter> router;
};

Program::Program()
    : app_("zelkor: whole-card work with a serial contactless card reader", "zelkor"),
      console_(std::make_unique<Console>(platform::StderrIsTerminal())),
      capture_(std::make_unique<Capture>()) {
    app_.require_subcommand(1, 1);
    app_.set_help_all_flag("--help-all", "Help on every command");
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

void CheckWritable(const std::string &path) {
    std::error_code error;
    const bool existed = std::filesystem::exists(path, error);
    std::ofstream probe(path, std::ios::binary | std::ios::app);
    const bool writable = static_cast<bool>(probe);
    probe.close();
    if (!existed && writable) std::filesystem::remove(path, error);
    if (!writable) throw UsageError("cannot write " + path);
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
        if (command->parsed()) return RunCommand(run);
    }
    Note("zelkor: no command given (zelkor --help lists them)");
    return kExitUsage;
}

int Program::RunCommand(const std::function<int()> &run) {
    // Before any thread exists, so that only the watch thread takes Ctrl-C.
    platform::InterruptWatch interrupts(stop_, [this] {
        Note("zelkor: stopping after the current card operation (Ctrl-C again to quit at once)");
    });
    std::ofstream *trace = nullptr;
    if (!trace_file_.empty()) {
        capture_->trace_file.open(trace_file_, std::ios::binary | std::ios::trunc);
        if (!capture_->trace_file) {
            Note("zelkor: cannot write the trace file " + trace_file_);
            return kExitUsage;
        }
        trace = &capture_->trace_file;
    }
    // The library prints on standard output from its first call on; the
    // program's results keep the original standard output to themselves.
    capture_->router.emplace(*console_, verbose_, trace);
    capture::StartError error;
    if (!capture_->output.Start([router = &*capture_->router](std::string_view bytes) { router->Accept(bytes); },
                                {}, &error)) {
        Note("zelkor: " + CaptureFailureText(error));
        return kExitFailure;
    }
    int status = kExitFailure;
    try {
        status = run();
    } catch (const card::FileError &e) {
        Note(std::string("zelkor: ") + e.what());
        status = kExitUsage;
    } catch (const UsageError &e) {
        Note(std::string("zelkor: ") + e.what());
        status = kExitUsage;
    } catch (const CardError &e) {
        Note(std::string("zelkor: ") + e.what());
        status = kExitFailure;
    } catch (const std::exception &e) {
        Note(std::string("zelkor: unexpected failure: ") + e.what());
        status = kExitFailure;
    }
    capture_->output.Stop();
    capture_->router->Finish();
    console_->ClearStatus();
    return status;
}

}  // namespace zelkor::cli
