#include "capture/line_splitter.h"

namespace zelkor::capture {

std::string LineSplitter::Add(std::string_view text) {
    partial_ += text;
    const auto end = partial_.rfind('\n');
    if (end == std::string::npos) return {};
    std::string lines = partial_.substr(0, end + 1);
    partial_.erase(0, end + 1);
    return lines;
}

std::string LineSplitter::Rest() {
    std::string rest;
    rest.swap(partial_);
    return rest;
}

}  // namespace zelkor::capture
