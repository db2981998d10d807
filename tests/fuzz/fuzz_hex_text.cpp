// Operator text to bytes with every destination size: nothing is written past
// the destination, nothing at all after an error, and a success gives exactly
// the digits typed.
#include <cstdint>
#include <cstdlib>
#include <cstring>

#include <QString>

#include "app/hex_text.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size) {
    const QString text = QString::fromUtf8(reinterpret_cast<const char *>(data), static_cast<qsizetype>(size));
    static const int kSizes[] = {0, 1, 4, 6, 16, 89, 128, 249};
    for (int dest_size : kSizes) {
        for (int min_bytes : {0, dest_size}) {
            unsigned char buffer[256 + 16];
            std::memset(buffer, 0xA5, sizeof buffer);
            const HexParse parsed = ConvertHexText(text, buffer, dest_size, min_bytes);
            for (std::size_t i = static_cast<std::size_t>(dest_size); i < sizeof buffer; ++i) {
                if (buffer[i] != 0xA5) std::abort();
            }
            if (parsed.error != HexTextError::kNone) {
                if (parsed.count != 0) std::abort();
                for (int i = 0; i < dest_size; ++i) {
                    if (buffer[i] != 0xA5) std::abort();
                }
                continue;
            }
            if (parsed.count < min_bytes || parsed.count > dest_size) std::abort();
            // Round trip: the bytes shown again read back the same.
            unsigned char again[256];
            const HexParse back = ConvertHexText(FormatHexBytes(buffer, parsed.count), again, 256);
            if (back.error != HexTextError::kNone || back.count != parsed.count ||
                std::memcmp(again, buffer, static_cast<std::size_t>(parsed.count)) != 0) {
                std::abort();
            }
        }
    }
    return 0;
}
