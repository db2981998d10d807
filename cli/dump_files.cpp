#include "dump_files.h"

#include "card/dump_formats.h"

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

}  // namespace zelkor::cli
