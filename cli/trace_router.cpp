#include "cli/trace_router.h"

#include <cstring>

namespace zelkor::cli {

void TraceRouter::Accept(std::string_view gbk) {
    if (!verbose_ && file_path_.empty()) return;
    Emit(decoder_.Convert(gbk));
}

void TraceRouter::Finish() {
    if (!verbose_ && file_path_.empty()) return;
    Emit(decoder_.Finish());
    const std::string rest = lines_.Rest();
    if (verbose_ && !rest.empty()) console_.Message(rest);
    if (file_.is_open()) file_.flush();
}

void TraceRouter::WriteFile(const std::string &utf8) {
    if (file_path_.empty() || file_failed_) return;
    if (!file_.is_open()) {
        file_.open(file_path_, std::ios::binary | std::ios::trunc);
        if (!file_) {
            file_failed_ = true;
            console_.Message(Say(language_, "zelkor: cannot write the trace file ", "zelkor：无法写入跟踪文件 ") +
                             file_path_ + "\n");
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
    const std::string lines = lines_.Add(utf8);
    if (!lines.empty()) console_.Message(lines);
}

Bilingual CaptureFailureText(const capture::StartError &error) {
    const std::string reason = std::strerror(error.system_error);
    switch (error.what) {
    case capture::StartFailure::kPipe: return {"cannot create a pipe: " + reason, "无法创建管道：" + reason};
    case capture::StartFailure::kRedirect:
        return {"cannot redirect standard output: " + reason, "无法重定向标准输出：" + reason};
    case capture::StartFailure::kNone: break;
    }
    return {"cannot capture standard output", "无法捕获标准输出"};
}

}  // namespace zelkor::cli
