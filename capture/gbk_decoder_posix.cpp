// GBK through the C library's iconv.
#include "capture/gbk_decoder.h"

#include <cerrno>

#include <iconv.h>

namespace zelkor::capture {
namespace {

const auto kNoConverter = reinterpret_cast<iconv_t>(-1);

}  // namespace

struct GbkToUtf8::State {
    iconv_t converter = kNoConverter;
};

GbkToUtf8::GbkToUtf8() : state_(std::make_unique<State>()) { state_->converter = ::iconv_open("UTF-8", "GBK"); }

GbkToUtf8::~GbkToUtf8() {
    if (state_->converter != kNoConverter) ::iconv_close(state_->converter);
}

bool GbkToUtf8::available() const { return state_->converter != kNoConverter; }

std::string GbkToUtf8::Convert(std::string_view gbk) {
    std::string input = pending_ + std::string(gbk);
    pending_.clear();
    if (!available()) return input;
    std::string out;
    char *src = input.data();
    std::size_t src_left = input.size();
    char buffer[4096];
    while (src_left > 0) {
        char *dst = buffer;
        std::size_t dst_left = sizeof buffer;
        const std::size_t rc = ::iconv(state_->converter, &src, &src_left, &dst, &dst_left);
        out.append(buffer, static_cast<std::size_t>(dst - buffer));
        if (rc != static_cast<std::size_t>(-1)) break;
        if (errno == E2BIG) continue;
        if (errno == EINVAL) {  // incomplete character at the end
            pending_.assign(src, src_left);
            break;
        }
        out += kUtf8Replacement;  // EILSEQ: skip one byte
        ++src;
        --src_left;
    }
    return out;
}


}  // namespace zelkor::capture
