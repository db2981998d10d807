#include "output_files.h"

#include <system_error>

#include "card/safe_file.h"

namespace zelkor::cli {
namespace {

std::string SystemText(int error) {
    return error == 0 ? std::string() : ": " + std::system_category().message(error);
}

std::string FaultText(const card::FileAccessError &error) {
    const std::string reason = SystemText(error.system_error());
    switch (error.fault()) {
    case card::FileFault::NotFound: return "no such file";
    case card::FileFault::NotRegularFile: return "not a regular file (FIFOs, devices and sockets are refused)";
    case card::FileFault::IsDirectory: return "is a directory";
    case card::FileFault::TooLarge:
        return "larger than " + std::to_string(error.limit() / (1024 * 1024)) +
               " MiB, more than any dump or key file needs";
    case card::FileFault::CannotRead: return "cannot read" + reason;
    case card::FileFault::OutOfMemory: return "not enough memory to read it";
    case card::FileFault::DirectoryMissing: return "its directory does not exist";
    case card::FileFault::DirectoryNotWritable: return "its directory does not take new files" + reason;
    case card::FileFault::ReadOnly: return "the file is read-only";
    case card::FileFault::NameTooLong: return "the file name is too long";
    case card::FileFault::CannotWrite: return "cannot write" + reason;
    case card::FileFault::CannotReplace: return "cannot replace it" + reason;
    }
    return error.message();
}

}  // namespace

std::string FileErrorText(const card::FileError &error) {
    if (const auto *access = dynamic_cast<const card::FileAccessError *>(&error)) {
        return card::EscapeForMessage(access->file(), card::kMaxEchoedName) + ": " + FaultText(*access);
    }
    return error.what();
}

SavedResult SaveCardResult(Program &program, const std::string &output, std::string_view contents, bool complete,
                           std::string_view shown_instead) {
    SavedResult saved;
    saved.beside = !complete && card::OutputExists(output);
    saved.path = saved.beside ? card::PartialPathFor(output) : output;
    try {
        card::ReplaceFileContents(saved.path, contents);
        if (saved.beside) {
            program.Note("the result is incomplete: saved as " + saved.path + "; " + output + " was left as it was",
                         "结果不完整：已另存为 " + saved.path + "，" + output + " 保持不变");
        }
        return saved;
    } catch (const card::FileError &error) {
        program.Note(program.Say("zelkor: cannot save the result: ", "zelkor：无法保存结果：") + FileErrorText(error));
    }
    saved.saved_as_asked = false;
    saved.beside = false;
    try {
        saved.path = card::SaveFallbackFile(output, contents);
        program.Note("zelkor: the result was saved as " + saved.path + " instead",
                     "zelkor：结果已改为保存到 " + saved.path);
    } catch (const card::FileError &error) {
        program.Note(program.Say("zelkor: ", "zelkor：") + FileErrorText(error) +
                     program.Say("; the result follows on standard output", "；结果输出到标准输出"));
        saved.path.clear();
        program.Result(shown_instead.empty() ? contents : shown_instead);
    }
    return saved;
}

int ExitStatusAfterSaving(const SavedResult &saved, int status) {
    return saved.saved_as_asked ? status : kExitSaveFailed;
}

}  // namespace zelkor::cli
