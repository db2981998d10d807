#include "dump_files.h"

#include "card/dump_formats.h"
#include "card/hex.h"

namespace zelkor::cli {

card::CardImage LoadDumpFile(const std::string &path) {
    card::CardImage image = card::LoadDump(path);
    if (!image.uid.empty() || image.blocks.empty()) return image;
    const auto &block = image.blocks[card::kManufacturerBlock];
    for (int i = 0; i < 5; ++i) {
        if (!image.ByteKnown(card::kManufacturerBlock, i)) return image;
    }
    const std::uint8_t check = block[0] ^ block[1] ^ block[2] ^ block[3];
    if (check == block[4]) image.uid.assign(block.begin(), block.begin() + 4);
    return image;
}

bool DumpFileHoldsUid(const std::string &path, const card::CardImage &loaded) {
    return !loaded.uid.empty() || card::FormatHasUidField(card::DumpFormatOfFile(path));
}

std::string UidLossWarning(const std::string &path, const card::CardImage &image) {
    const auto format = card::FormatForPath(path);
    if (!format || card::FormatHoldsUid(*format, image)) return {};
    return "UID " + card::ToHex(image.uid) + " not kept: a ." + std::string(card::FormatName(*format)) +
           " file holds a UID only as the 4 bytes and check byte of block 0";
}

}  // namespace zelkor::cli
