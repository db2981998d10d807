// Access bytes to conditions in words and back: every word decodes to rows
// the editor can show, and regenerating from those rows keeps the bits
// (trailer 111 becomes 110, the user byte 0x69, byte 6 recomputed).
#include <cstdint>
#include <cstdlib>

#include "app/access_bits.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size) {
    if (size < 4) return 0;
    unsigned char word[4] = {data[0], data[1], data[2], data[3]};
    const access_bits::Numbers numbers = access_bits::DecodeAccessNumbers(word);
    access_bits::Numbers matched{};
    for (int row = 0; row < access_bits::kRows; ++row) {
        if (numbers[static_cast<std::size_t>(row)] < 0 || numbers[static_cast<std::size_t>(row)] > 7) std::abort();
        const bool trailer = row == access_bits::kTrailerRow;
        const auto &words = trailer ? access_bits::TrailerConditions(numbers[static_cast<std::size_t>(row)])
                                    : access_bits::DataConditions(numbers[static_cast<std::size_t>(row)]);
        const auto &columns = trailer ? access_bits::kTrailerColumns : access_bits::kDataColumns;
        for (std::size_t c = 0; c < 4; ++c) {
            if (access_bits::ItemIndex(columns[c], words[c]) < 0) std::abort();
        }
        matched[static_cast<std::size_t>(row)] =
            trailer ? access_bits::MatchTrailerRow(words) : access_bits::MatchDataRow(words);
        const int expected = trailer && numbers[3] == 7 ? 6 : numbers[static_cast<std::size_t>(row)];
        if (matched[static_cast<std::size_t>(row)] != expected) std::abort();
    }
    const access_bits::Word regenerated = access_bits::EncodeControlWord(matched);
    if (access_bits::DecodeAccessNumbers(regenerated.data()) != matched) std::abort();
    if (regenerated[3] != access_bits::kUserByte) std::abort();
    // A generated word is always consistent: byte 6 and the low half of byte 7
    // are the complements of the plain bits.
    const unsigned char b6 = regenerated[0], b7 = regenerated[1], b8 = regenerated[2];
    if (b6 != static_cast<unsigned char>(~((b8 << 4) | (b7 >> 4)))) std::abort();
    if ((b7 & 0x0F) != ((~b8 >> 4) & 0x0F)) std::abort();
    (void)access_bits::AccessBitsWritable(word);
    return 0;
}
