// The emulator memory text of the Proxmark3 client: one block a line, 32 hex
// digits, block 0 first, nothing else. Like a raw dump it cannot mark unknown
// bytes.
#include "card/dump_format_io.h"
#include "card/hex.h"

namespace zelkor::card::detail {

CardImage ReadEml(std::string_view text, std::string_view file) {
    const std::string name(file);
    std::vector<Block> blocks;
    int line_number = 0;
    int last_block_line = 0;
    for (std::string_view raw : SplitLines(text)) {
        ++line_number;
        const std::string_view line = Trim(raw);
        if (line.empty()) continue;
        if (blocks.size() >= static_cast<std::size_t>(BlockCount(CardKind::Classic4K)))
            throw FileError(name, line_number, FileProblem::BeyondCard,
                            {.kind = std::string(KindName(CardKind::Classic4K)), .number = static_cast<int>(blocks.size())});
        const auto block = line.size() == 32 ? ParseHex(line) : std::nullopt;
        if (!block || block->size() != kBlockSize)
            throw FileError(name, line_number, FileProblem::BadBlockLine, {.found = std::string(line)});
        blocks.emplace_back();
        std::copy(block->begin(), block->end(), blocks.back().begin());
        last_block_line = line_number;
    }
    const auto kind = KindOfBlockCount(static_cast<int>(blocks.size()));
    if (!kind)
        throw FileError(name, last_block_line, FileProblem::BlockCount, {.actual = static_cast<std::int64_t>(blocks.size())});
    CardImage image = CardImage::Blank(*kind);
    for (int b = 0; b < image.block_count(); ++b) image.SetBlock(b, blocks[static_cast<std::size_t>(b)]);
    image.TakeKeysFromTrailers();
    return image;
}

std::string WriteEml(const CardImage &source, std::vector<FileWarning> &warnings) {
    // The same bytes as a raw dump, as text.
    const std::string raw = WriteBin(source, warnings);
    std::string out;
    for (std::size_t at = 0; at < raw.size(); at += kBlockSize) {
        out += ToHex(std::span<const std::uint8_t>(reinterpret_cast<const std::uint8_t *>(raw.data() + at), kBlockSize));
        out += '\n';
    }
    return out;
}

}  // namespace zelkor::card::detail
