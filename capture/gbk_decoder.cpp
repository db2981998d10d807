#include "capture/gbk_decoder.h"

namespace zelkor::capture {

std::string GbkToUtf8::Finish() {
    std::string rest;
    if (!pending_.empty()) rest = std::string(kUtf8Replacement);
    pending_.clear();
    return rest;
}

}  // namespace zelkor::capture
