// Where the library's trace goes once it is captured from standard output:
// converted from GBK to UTF-8, onto standard error with -v and into a file
// with --trace FILE; otherwise it is dropped.
#pragma once

#include <fstream>
#include <string>
#include <string_view>

#include "capture/gbk_decoder.h"
#include "capture/line_splitter.h"
#include "capture/trace_capture.h"
#include "cli/bilingual.h"
#include "cli/console.h"

namespace zelkor::cli {

class TraceRouter {
public:
    // `file_path` may be empty (no trace file). The file is created with the
    // first bytes of trace.
    TraceRouter(Console &console, bool verbose, std::string file_path, Language language)
        : console_(console), verbose_(verbose), file_path_(std::move(file_path)), language_(language) {}

    // Bytes as the library printed them; called on the capture thread.
    void Accept(std::string_view gbk);
    // After the capture stopped: the rest of an unfinished line.
    void Finish();

private:
    void Emit(const std::string &utf8);
    void WriteFile(const std::string &utf8);

    Console &console_;
    const bool verbose_;
    std::string file_path_;
    const Language language_;
    std::ofstream file_;
    bool file_failed_ = false;
    capture::GbkToUtf8 decoder_;
    capture::LineSplitter lines_;
};

// Why the trace could not be captured, for a note.
Bilingual CaptureFailureText(const capture::StartError &error);

}  // namespace zelkor::cli
