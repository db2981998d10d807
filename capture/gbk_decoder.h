// The library's GBK text as UTF-8, piece by piece: a character whose bytes
// arrive in two pieces is completed by the second; a byte that is not GBK
// becomes U+FFFD.
#pragma once

#include <memory>
#include <string>
#include <string_view>

namespace zelkor::capture {

// U+FFFD, which stands for a byte that is not GBK.
inline constexpr std::string_view kUtf8Replacement = "\xEF\xBF\xBD";

class GbkToUtf8 {
public:
    GbkToUtf8();
    ~GbkToUtf8();
    GbkToUtf8(const GbkToUtf8 &) = delete;
    GbkToUtf8 &operator=(const GbkToUtf8 &) = delete;

    // False when the system cannot convert GBK; Convert then passes bytes on unchanged.
    bool available() const;
    std::string Convert(std::string_view gbk);
    // Whatever is left of an incomplete character, as U+FFFD.
    std::string Finish();

private:
    struct State;
    std::unique_ptr<State> state_;
    std::string pending_;  // the start of a character split between pieces
};

}  // namespace zelkor::capture
