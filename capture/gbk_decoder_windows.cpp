// GBK through code page 936, one character at a time.
#include "capture/gbk_decoder.h"

#include <windows.h>

namespace zelkor::capture {
namespace {

constexpr UINT kGbkCodePage = 936;

bool IsLeadByte(unsigned char byte) { return byte >= 0x81 && byte <= 0xFE; }

std::string Narrow(const wchar_t *wide, int count) {
    const int n = ::WideCharToMultiByte(CP_UTF8, 0, wide, count, nullptr, 0, nullptr, nullptr);
    std::string out(static_cast<std::size_t>(n > 0 ? n : 0), '\0');
    if (n > 0) ::WideCharToMultiByte(CP_UTF8, 0, wide, count, out.data(), n, nullptr, nullptr);
    return out;
}

// One GBK character (a lead and a trail byte) as UTF-8; empty when the
// system does not know it.
std::string ConvertCharacter(std::string_view gbk) {
    wchar_t wide[2];
    const int n = ::MultiByteToWideChar(kGbkCodePage, MB_ERR_INVALID_CHARS, gbk.data(), static_cast<int>(gbk.size()),
                                        wide, 2);
    return n > 0 ? Narrow(wide, n) : std::string();
}

}  // namespace

struct GbkToUtf8::State {};

GbkToUtf8::GbkToUtf8() : state_(std::make_unique<State>()) {}

GbkToUtf8::~GbkToUtf8() = default;

bool GbkToUtf8::available() const { return true; }

std::string GbkToUtf8::Convert(std::string_view gbk) {
    const std::string input = pending_ + std::string(gbk);
    pending_.clear();
    std::string out;
    std::size_t i = 0;
    while (i < input.size()) {
        const auto byte = static_cast<unsigned char>(input[i]);
        if (byte < 0x80) {
            out += input[i++];
            continue;
        }
        if (IsLeadByte(byte) && i + 1 == input.size()) {
            pending_ = input.substr(i);
            break;
        }
        const std::string character = IsLeadByte(byte) ? ConvertCharacter(std::string_view(input).substr(i, 2)) : "";
        if (character.empty()) {  // not GBK: one byte becomes U+FFFD
            out += kUtf8Replacement;
            ++i;
        } else {
            out += character;
            i += 2;
        }
    }
    return out;
}


}  // namespace zelkor::capture
