#include "card/safe_file.h"

namespace zelkor::card {
namespace {

// what() for logs and for callers that do not look at the code; the program's
// front ends word each fault themselves.
std::string FaultKeyword(FileFault fault) {
    switch (fault) {
    case FileFault::NotFound: return "not found";
    case FileFault::NotRegularFile: return "not a regular file";
    case FileFault::IsDirectory: return "is a directory";
    case FileFault::TooLarge: return "too large";
    case FileFault::CannotRead: return "cannot read";
    case FileFault::OutOfMemory: return "out of memory";
    case FileFault::DirectoryMissing: return "directory missing";
    case FileFault::DirectoryNotWritable: return "directory not writable";
    case FileFault::ReadOnly: return "read-only";
    case FileFault::NameTooLong: return "name too long";
    case FileFault::CannotWrite: return "cannot write";
    case FileFault::CannotReplace: return "cannot replace";
    }
    return "file fault";
}

}  // namespace

FileAccessError::FileAccessError(std::string file, FileFault fault, int system_error, std::uint64_t limit)
    : FileError(std::move(file), FaultKeyword(fault)), fault_(fault), system_error_(system_error), limit_(limit) {}

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
