// Cuts a stream of text into whole lines, so that nothing shown beside the
// trace (a progress line) lands in the middle of one.
#pragma once

#include <string>
#include <string_view>

namespace zelkor::capture {

class LineSplitter {
public:
    // The lines `text` completes, each with its "\n", in one piece; empty
    // while the current line goes on.
    std::string Add(std::string_view text);
    // The unfinished last line, if any; the splitter starts afresh.
    std::string Rest();

private:
    std::string partial_;
};

}  // namespace zelkor::capture
