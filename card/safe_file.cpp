#include "card/safe_file.h"

namespace zelkor::card {

FileAccessError::FileAccessError(std::string file, FileProblem fault, int system_error, std::uint64_t limit)
    : FileError(std::move(file), fault, {.system_error = system_error, .limit = limit}) {}

std::string PartialPathFor(const std::string &path) {
    const auto name_start = path.find_last_of("/\\");
    const std::size_t base = name_start == std::string::npos ? 0 : name_start + 1;
    const auto dot = path.rfind('.');
    if (dot == std::string::npos || dot <= base) return path + ".partial";
    return path.substr(0, dot) + ".partial" + path.substr(dot);
}

std::string EscapeForMessage(std::string_view text, std::size_t max_bytes) {
    static constexpr char kDigits[] = "0123456789ABCDEF";
    std::string out;
    for (std::size_t i = 0; i < text.size(); ++i) {
        const auto byte = static_cast<unsigned char>(text[i]);
        const bool c1 = byte == 0xC2 && i + 1 < text.size() && static_cast<unsigned char>(text[i + 1]) >= 0x80 &&
                        static_cast<unsigned char>(text[i + 1]) <= 0x9F;
        std::string piece;
        if (byte < 0x20 || byte == 0x7F || byte == 0x9B) {
            piece = {'\\', 'x', kDigits[byte >> 4], kDigits[byte & 15]};
        } else if (c1) {
            const auto next = static_cast<unsigned char>(text[++i]);
            piece = {'\\', 'x', 'C', '2', '\\', 'x', kDigits[next >> 4], kDigits[next & 15]};
        } else {
            // A whole UTF-8 sequence at once, so a cut never splits one.
            std::size_t length = 1;
            while (i + length < text.size() && (static_cast<unsigned char>(text[i + length]) & 0xC0) == 0x80 &&
                   length < 4 && byte >= 0xC0)
                ++length;
            piece.assign(text.substr(i, length));
            i += length - 1;
        }
        if (out.size() + piece.size() > max_bytes) return out + "...";
        out += piece;
    }
    return out;
}

}  // namespace zelkor::card
