// The text dump of the common Android tool: "+Sector: N" and one line of 32
// hex digits per block, '-' for an unknown digit.
#include <charconv>
#include <set>

#include "card/dump_format_io.h"

namespace zelkor::card::detail {

namespace {

constexpr std::string_view kSectorHeader = "+Sector: ";
constexpr std::string_view kDeadSector = "*No keys found or dead sector";

struct ParsedSector {
    int sector = 0;
    int line = 0;
    std::vector<MaskedBlock> blocks;
    bool dead = false;
};

int SectorNumber(std::string_view line, std::string_view file, int line_number) {
    const std::string_view digits = Trim(line.substr(kSectorHeader.size()));
    int sector = -1;
    const auto [end, ec] = std::from_chars(digits.data(), digits.data() + digits.size(), sector);
    if (ec != std::errc() || end != digits.data() + digits.size() || sector < 0 || sector >= 40)
        throw FileError(std::string(file), line_number, FileProblem::BadSectorHeader, {.found = std::string(line), .expected = 39});
    return sector;
}

// The tool lists every sector of the card, dead ones included: sectors 0 to
// 4 and no more are a Mini.
CardKind KindOfSectors(const std::set<int> &sectors) {
    const int highest = *sectors.rbegin();
    if (highest >= SectorCount(CardKind::Classic1K)) return CardKind::Classic4K;
    const int mini_sectors = SectorCount(CardKind::Mini);
    if (highest == mini_sectors - 1 && static_cast<int>(sectors.size()) == mini_sectors) return CardKind::Mini;
    return CardKind::Classic1K;
}

}  // namespace

CardImage ReadMct(std::string_view text, std::string_view file) {
    const std::string name(file);
    std::vector<ParsedSector> sectors;
    std::set<int> seen;
    int line_number = 0;
    for (std::string_view line : SplitLines(text)) {
        ++line_number;
        if (Trim(line).empty()) continue;
        if (line.starts_with(kSectorHeader)) {
            const int sector = SectorNumber(line, file, line_number);
            if (!seen.insert(sector).second) throw FileError(name, line_number, FileProblem::DuplicateSector, {.number = sector});
            sectors.push_back({sector, line_number, {}, false});
            continue;
        }
        if (sectors.empty()) throw FileError(name, line_number, FileProblem::BlockBeforeSector);
        ParsedSector &current = sectors.back();
        if (Trim(line) == kDeadSector) {
            if (!current.blocks.empty()) throw FileError(name, line_number, FileProblem::DeadSectorAfterBlocks);
            current.dead = true;
            continue;
        }
        const auto block = ParseMaskedBlock(Trim(line), '-');
        if (!block) throw FileError(name, line_number, FileProblem::BadBlockLine, {.found = std::string(line), .flag = true});
        if (current.dead || static_cast<int>(current.blocks.size()) >= BlocksInSector(current.sector))
            throw FileError(name, line_number, FileProblem::TooManyBlocks, {.number = current.sector});
        current.blocks.push_back(*block);
    }
    if (sectors.empty()) throw FileError(name, FileProblem::NoSectors);
    for (const ParsedSector &s : sectors) {
        if (!s.dead && static_cast<int>(s.blocks.size()) != BlocksInSector(s.sector))
            throw FileError(name, s.line, FileProblem::SectorBlockCount,
                            {.number = s.sector, .actual = static_cast<std::int64_t>(s.blocks.size()), .expected = BlocksInSector(s.sector)});
    }
    CardImage image = CardImage::Blank(KindOfSectors(seen));
    for (const ParsedSector &s : sectors) {
        for (std::size_t i = 0; i < s.blocks.size(); ++i)
            image.SetBlock(FirstBlock(s.sector) + static_cast<int>(i), s.blocks[i].data, s.blocks[i].mask);
    }
    image.TakeKeysFromTrailers();
    return image;
}

std::string WriteMct(const CardImage &source, std::vector<FileWarning> &) {
    const CardImage image = WithTrailerKeys(source);
    std::string out;
    for (int sector = 0; sector < image.sector_count(); ++sector) {
        out += std::string(kSectorHeader) + std::to_string(sector) + "\n";
        bool any_known = false;
        for (int b = FirstBlock(sector); b <= TrailerBlock(sector); ++b) any_known |= !image.BlockUnknown(b);
        if (!any_known) {
            out += std::string(kDeadSector) + "\n";
            continue;
        }
        for (int b = FirstBlock(sector); b <= TrailerBlock(sector); ++b) {
            const auto i = static_cast<std::size_t>(b);
            out += MaskedBlockText(image.blocks[i], image.known_mask[i], '-') + "\n";
        }
    }
    return out;
}

}  // namespace zelkor::card::detail
