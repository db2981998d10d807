// Dump and key files from untrusted bytes: every format either reads the
// input or raises FileError, and whatever it reads writes and reads back the
// same in its own format.
#include <cstdint>
#include <cstdlib>
#include <string_view>

#include "card/dump_formats.h"
#include "card/key_files.h"

namespace zc = zelkor::card;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size) {
    if (size < 1) return 0;
    const std::string_view text(reinterpret_cast<const char *>(data) + 1, size - 1);
    const zc::DumpFormat formats[] = {zc::DumpFormat::Mct, zc::DumpFormat::Bin, zc::DumpFormat::Json, zc::DumpFormat::Flipper,
                                      zc::DumpFormat::Eml};
    const unsigned choice = data[0] % 9;
    try {
        if (choice == 5) {
            zc::ParseKeyDictionary(text, "fuzz");
        } else if (choice == 6) {
            const auto keys = zc::ParseKeyMap(text, "fuzz");
            if (zc::ParseKeyMap(zc::WriteKeyMap(keys), "again") != keys) std::abort();
        } else if (choice == 7) {
            if (zc::WriteKeyBinary(zc::ParseKeyBinary(text, "fuzz")) != text) std::abort();
        } else if (choice == 8) {
            if (const auto format = zc::FormatOfContents(text)) zc::ParseDump(text, *format, "fuzz");
        } else {
            const zc::DumpFormat format = formats[choice];
            const zc::CardImage image = zc::ParseDump(text, format, "fuzz");
            const zc::CardImage again = zc::ParseDump(zc::WriteDump(image, format, nullptr), format, "again");
            if (again.blocks != image.blocks || again.known_mask != image.known_mask || again.keys != image.keys) std::abort();
        }
    } catch (const zc::FileError &) {
    }
    return 0;
}
