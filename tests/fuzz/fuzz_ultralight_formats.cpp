// Dump files of the UltraLight family from untrusted bytes: each format
// either reads the input or raises FileError, and whatever it reads writes
// and reads back the same in its own format (.bin keeps known pages only).
#include <cstdint>
#include <cstdlib>
#include <string_view>

#include "card/ultralight_formats.h"

namespace zc = zelkor::card;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size) {
    if (size < 1) return 0;
    const std::string_view text(reinterpret_cast<const char *>(data) + 1, size - 1);
    const zc::DumpFormat formats[] = {zc::DumpFormat::Bin, zc::DumpFormat::Json, zc::DumpFormat::Flipper};
    const zc::DumpFormat format = formats[data[0] % 3];
    try {
        if (!zc::IsUltraLightDump(text, format)) return 0;
        const zc::UltraLightImage image = zc::ParseUltraLightDump(text, format, "fuzz");
        const zc::UltraLightImage again = zc::ParseUltraLightDump(zc::WriteUltraLightDump(image, format, nullptr), format, "again");
        if (again.kind != image.kind || again.page_count() != image.page_count()) std::abort();
        if (format == zc::DumpFormat::Json && (again.pages != image.pages || again.known_mask != image.known_mask)) std::abort();
    } catch (const zc::FileError &) {
    }
    return 0;
}
