#include "cli/dump_files.h"

#include "card/card_layout.h"
#include "card/dump_formats.h"
#include "card/hex.h"
#include "cli/platform.h"

namespace zelkor::cli {

card::CardImage LoadDumpFile(const std::string &path) {
    card::CardImage image = [&] {
        const platform::InterruptEndsAtOnce reading_files;
        return card::LoadDump(path);
    }();
    if (!image.uid.empty() || image.blocks.empty()) return image;
    const auto &block = image.blocks[card::kManufacturerBlock];
    for (int i = 0; i < 5; ++i) {
        if (!image.ByteKnown(card::kManufacturerBlock, i)) return image;
    }
    const std::uint8_t check = block[0] ^ block[1] ^ block[2] ^ block[3];
    if (check == block[4]) image.uid.assign(block.begin(), block.begin() + 4);
    return image;
}

bool HasUnknownBytes(const card::CardImage &image) {
    card::CardImage with_keys = image;
    with_keys.FillTrailerKeys();
    for (const card::ByteMask mask : with_keys.known_mask) {
        if (mask != card::kAllKnown) return true;
    }
    return false;
}

bool IsCompleteRead(const card::CardImage &image) {
    if (image.partial) return false;
    constexpr card::ByteMask kBesideKeys = static_cast<card::ByteMask>(~(card::kKeyAMask | card::kKeyBMask));
    for (int block = 0; block < image.block_count(); ++block) {
        const card::ByteMask needed = card::IsTrailer(block) ? kBesideKeys : card::kAllKnown;
        if ((image.known_mask[static_cast<std::size_t>(block)] & needed) != needed) return false;
    }
    return true;
}

void AddFillUnknownOption(CLI::App *command, std::string &fill) {
    command
        ->add_option("--fill-unknown", fill,
                     "Write unknown bytes as zeros into a format that cannot mark them (.bin .mfd); "
                     "without it such a file is refused")
        ->check(CLI::IsMember({"zeros"}))
        ->type_name("zeros");
}

bool DumpFileHoldsUid(const std::string &path, const card::CardImage &loaded) {
    return !loaded.uid.empty() || card::FormatHasUidField(card::DumpFormatOfFile(path));
}

}  // namespace zelkor::cli
