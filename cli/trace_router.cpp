#include "trace_router.h"

namespace zelkor::cli {

void TraceRouter::Accept(std::string_view gbk) {
    if (!verbose_ && file_path_.empty()) return;
    Emit(decoder_.Convert(gbk));
}

void TraceRouter::Finish() {
    if (!verbose_ && file_path_.empty()) return;
    Emit(decoder_.Finish());
    if (verbose_ && !partial_line_.empty()) console_.Message(partial_line_);
    partial_line_.clear();
    if (file_.is_open()) file_.flush();
}

void TraceRouter::WriteFile(const std::string &utf8) {
    if (file_path_.empty() || file_failed_) return;
    if (!file_.is_open()) {
        file_.open(file_path_, std::ios::binary | std::ios::trunc);
        if (!file_) {
            file_failed_ = true;
            console_.Message("zelkor: cannot write the trace file " + file_path_ + "\n");
            return;
        }
    }
    file_.write(utf8.data(), static_cast<std::streamsize>(utf8.size()));
    file_.flush();
}

void TraceRouter::Emit(const std::string &utf8) {
    if (utf8.empty()) return;
    WriteFile(utf8);
    if (!verbose_) return;
    // Only whole lines go to the console, so the progress line never splits one.
    partial_line_ += utf8;
    const auto end = partial_line_.rfind('\n');
    if (end == std::string::npos) return;
    console_.Message(std::string_view(partial_line_).substr(0, end + 1));
    partial_line_.erase(0, end + 1);
}

}  // namespace zelkor::cli
