// Raw dumps (.bin, .mfd): 16 bytes per block from block 0, nothing else.
#include <algorithm>

#include "card/dump_format_io.h"

namespace zelkor::card::detail {

CardImage ReadBin(std::string_view bytes, std::string_view file) {
    const auto kind = bytes.size() % kBlockSize == 0 ? KindOfBlockCount(static_cast<int>(bytes.size() / kBlockSize)) : std::nullopt;
    if (!kind)
        throw FileError(std::string(file), FileProblem::RawDumpSize, {.actual = static_cast<std::int64_t>(bytes.size())});
    CardImage image = CardImage::Blank(*kind);
    for (int b = 0; b < image.block_count(); ++b) {
        Block block{};
        const auto at = static_cast<std::size_t>(b) * kBlockSize;
        std::transform(bytes.begin() + static_cast<std::ptrdiff_t>(at), bytes.begin() + static_cast<std::ptrdiff_t>(at + kBlockSize),
                       block.begin(), [](char c) { return static_cast<std::uint8_t>(c); });
        image.SetBlock(b, block);
    }
    image.TakeKeysFromTrailers();
    return image;
}

std::string WriteBin(const CardImage &source, std::vector<FileWarning> &warnings) {
    const CardImage image = WithTrailerKeys(source);
    WarnUnknownKeys(image, warnings);
    int unknown_data = 0;
    std::string out;
    out.reserve(static_cast<std::size_t>(image.block_count()) * kBlockSize);
    for (int b = 0; b < image.block_count(); ++b) {
        const auto i = static_cast<std::size_t>(b);
        if (!IsTrailer(b) && image.known_mask[i] != kAllKnown) ++unknown_data;
        if (IsTrailer(b) && (image.known_mask[i] & kAccessMask) != kAccessMask) ++unknown_data;
        for (std::uint8_t byte : image.blocks[i]) out += static_cast<char>(byte);  // unknown bytes are stored as zero
    }
    if (unknown_data != 0)
        Warn(warnings, FileWarningCode::UnknownBytesWrittenAsZeros).count = unknown_data;
    return out;
}

}  // namespace zelkor::card::detail
