#include "trace_router.h"

#include <cstring>

namespace zelkor::cli {

void TraceRouter::Accept(std::string_view gbk) {
    if (!verbose_ && file_ == nullptr) return;
    Emit(decoder_.Convert(gbk));
}

void TraceRouter::Finish() {
    if (!verbose_ && file_ == nullptr) return;
    Emit(decoder_.Finish());
    const std::string rest = lines_.Rest();
    if (verbose_ && !rest.empty()) console_.Message(rest);
    if (file_ != nullptr) file_->flush();
}

void TraceRouter::Emit(const std::string &utf8) {
    if (utf8.empty()) return;
    if (file_ != nullptr) {
        file_->write(utf8.data(), static_cast<std::streamsize>(utf8.size()));
        file_->flush();
    }
    if (!verbose_) return;
    // Only whole lines go to the console, so the progress line never splits one.
    const std::string lines = lines_.Add(utf8);
    if (!lines.empty()) console_.Message(lines);
}

std::string CaptureFailureText(const capture::StartError &error) {
    const std::string reason = std::strerror(error.system_error);
    switch (error.what) {
    case capture::StartFailure::kPipe: return "cannot create a pipe: " + reason;
    case capture::StartFailure::kRedirect: return "cannot redirect standard output: " + reason;
    case capture::StartFailure::kNone: break;
    }
    return "cannot capture standard output";
}

}  // namespace zelkor::cli
