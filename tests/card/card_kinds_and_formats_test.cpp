// The MIFARE Mini in every dump format, the Proxmark3 .eml dump and key file,
// the Flipper ATQA of each file version, dictionaries as other tools write
// them, and the line or JSON path a malformed file is refused with.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "card/dump_diff.h"
#include "card/dump_formats.h"
#include "card/hex.h"
#include "card/key_files.h"

namespace zc = zelkor::card;

namespace {

const std::string kTrailer = "FFFFFFFFFFFFFF078069FFFFFFFFFFFF";

// A whole Mini, one block a line: UID 1D357AE9, SAK 09 in the maker bytes.
std::string MiniEml() {
    std::string text;
    for (int block = 0; block < 20; ++block) {
        if (block == 0) {
            text += "1d357ae9bb890400c846002000000017\n";  // lower case, as Proxmark3 writes it
        } else if (block % 4 == 3) {
            text += kTrailer + "\n";
        } else {
            text += std::string(30, '0') + (block < 10 ? "0" : "") + std::to_string(block) + "\n";
        }
    }
    return text;
}

const std::string kMiniMct =
    "+Sector: 0\n"
    "1D357AE9BB890400C846002000000017\n"
    "00000000000000000000000000000001\n"
    "--------------------------------\n"
    "FFFFFFFFFFFFFF078069FFFFFFFFFFFF\n"
    "+Sector: 1\n"
    "*No keys found or dead sector\n"
    "+Sector: 2\n"
    "*No keys found or dead sector\n"
    "+Sector: 3\n"
    "*No keys found or dead sector\n"
    "+Sector: 4\n"
    "00000000000000000000000000000016\n"
    "00000000000000000000000000000017\n"
    "00000000000000000000000000000018\n"
    "FFFFFFFFFFFFFF078069------------\n";

const std::string kMiniFlipper =
    "Filetype: Flipper NFC device\n"
    "Version: 4\n"
    "Device type: Mifare Classic\n"
    "UID: 1D 35 7A E9\n"
    "ATQA: 00 04\n"
    "SAK: 09\n"
    "Mifare Classic type: MINI\n"
    "Data format version: 2\n"
    "Block 0: 1D 35 7A E9 BB 89 04 00 C8 46 00 20 00 00 00 17\n"
    "Block 3: FF FF FF FF FF FF FF 07 80 69 FF FF FF FF FF FF\n"
    "Block 19: FF FF FF FF FF FF FF 07 80 69 ?? ?? ?? ?? ?? ??\n";

const std::string kMiniJson = R"({
  "Created": "proxmark3",
  "FileType": "mfcard",
  "Card": {"UID": "1D357AE9", "ATQA": "0400", "SAK": "09"},
  "blocks": {"0": "1D357AE9BB890400C846002000000017", "3": "FFFFFFFFFFFFFF078069FFFFFFFFFFFF"}
})";

struct KindSample {
    const char *name;
    zc::DumpFormat format;
    std::string text;
    int known_blocks;
};

std::vector<KindSample> MiniSamples() {
    zc::CardImage whole = zc::ParseDump(MiniEml(), zc::DumpFormat::Eml, "mini.eml");
    return {{"mini.eml", zc::DumpFormat::Eml, MiniEml(), 20},
            {"mini.bin", zc::DumpFormat::Bin, zc::WriteDump(whole, zc::DumpFormat::Bin, nullptr), 20},
            {"mini.mct", zc::DumpFormat::Mct, kMiniMct, 6},
            {"mini.nfc", zc::DumpFormat::Flipper, kMiniFlipper, 2},
            {"mini.json", zc::DumpFormat::Json, kMiniJson, 2}};
}

}  // namespace

TEST(MiniCard, EveryFormatReadsItAndEveryFormatThatCanHoldItKeepsIt) {
    const zc::DumpFormat formats[] = {zc::DumpFormat::Mct, zc::DumpFormat::Bin, zc::DumpFormat::Json,
                                      zc::DumpFormat::Flipper, zc::DumpFormat::Eml};
    for (const KindSample &sample : MiniSamples()) {
        SCOPED_TRACE(sample.name);
        const zc::CardImage image = zc::ParseDump(sample.text, sample.format, sample.name);
        EXPECT_EQ(image.kind, zc::CardKind::Mini);
        EXPECT_EQ(image.block_count(), 20);
        EXPECT_EQ(image.sector_count(), 5);
        EXPECT_EQ(image.KnownBlockCount(), sample.known_blocks);
        EXPECT_EQ(image.keys[0].a, zc::ParseKey("FFFFFFFFFFFF"));
        for (const zc::DumpFormat to : formats) {
            if (!zc::FormatKeepsUnknownBytes(to) && image.KnownBlockCount() != 20) continue;
            SCOPED_TRACE(std::string(zc::FormatName(to)));
            const std::string written = zc::WriteDump(image, to, nullptr);
            const zc::CardImage back = zc::ParseDump(written, to, "converted");
            EXPECT_EQ(back.kind, zc::CardKind::Mini);
            // A UID field filled from block 0 is no difference.
            const bool uids = zc::FormatHasUidField(to) && zc::FormatHasUidField(sample.format);
            EXPECT_TRUE(zc::DiffDumps(image, back, uids).equal());
            if (to == zc::DumpFormat::Bin) {
                EXPECT_EQ(written.size(), 320u);
            }
        }
    }
    // The usual identity of a Mini where the image has none.
    zc::CardImage bare = zc::ParseDump(MiniEml(), zc::DumpFormat::Eml, "mini.eml");
    const std::string nfc = zc::WriteDump(bare, zc::DumpFormat::Flipper, nullptr);
    EXPECT_NE(nfc.find("Mifare Classic type: MINI\n"), std::string::npos);
    EXPECT_NE(nfc.find("SAK: 09\n"), std::string::npos);
}

TEST(FlipperFiles, AtqaInCardOrderUpToVersion2AndTurnedFromVersion3) {
    struct Case {
        const char *version_line;
        const char *atqa_line;
    };
    const Case cases[] = {{"Version: 2\n", "ATQA: 04 00\n"}, {"Version: 3\n", "ATQA: 00 04\n"},
                          {"Version: 4\n", "ATQA: 00 04\n"}, {"", "ATQA: 00 04\n"}};
    for (const Case &c : cases) {
        SCOPED_TRACE(c.version_line);
        const std::string text = std::string("Filetype: Flipper NFC device\n") + c.version_line +
                                 "Device type: Mifare Classic\nUID: 01 02 03 04\n" + c.atqa_line +
                                 "SAK: 08\nMifare Classic type: 1K\n";
        const zc::CardImage image = zc::ParseDump(text, zc::DumpFormat::Flipper, "card.nfc");
        EXPECT_EQ(image.atqa, (std::array<std::uint8_t, 2>{0x04, 0x00}));
        const std::string written = zc::WriteDump(image, zc::DumpFormat::Flipper, nullptr);
        EXPECT_NE(written.find("Version: 4\n"), std::string::npos);
        EXPECT_NE(written.find("ATQA: 00 04\n"), std::string::npos);
    }
}

TEST(MalformedFiles, RefusedWithTheLineOrJsonPathOfTheFault) {
    struct Case {
        const char *name;
        zc::DumpFormat format;
        std::string text;
        std::string where;  // the start of what()'s fault position
    };
    std::string truncated = MiniEml();
    truncated.erase(truncated.rfind('\n', truncated.size() - 2) + 1);  // 19 blocks
    std::string bad_digit = MiniEml();
    bad_digit[33 * 2 + 5] = 'g';  // line 3
    std::string too_long(257 * 33, '0');
    for (std::size_t i = 32; i < too_long.size(); i += 33) too_long[i] = '\n';
    std::string mini_as_1k = kMiniFlipper;
    mini_as_1k.replace(mini_as_1k.find("MINI"), 4, "1K");
    std::string past_mini = kMiniFlipper + "Block 20: 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00\n";
    const Case cases[] = {
        {"truncated.eml", zc::DumpFormat::Eml, truncated, "truncated.eml:19: 19 blocks"},
        {"digit.eml", zc::DumpFormat::Eml, bad_digit, "digit.eml:3: expected a block"},
        {"long.eml", zc::DumpFormat::Eml, too_long, "long.eml:257: block 256 beyond a 4K card"},
        {"claims1k.nfc", zc::DumpFormat::Flipper, mini_as_1k, "claims1k.nfc:7: SAK 09 is a Mini card"},
        {"past.nfc", zc::DumpFormat::Flipper, past_mini, "past.nfc:12: block 20 beyond a Mini card"},
        {"version.nfc", zc::DumpFormat::Flipper, "Filetype: Flipper NFC device\nVersion: four\nDevice type: Mifare Classic\n"
                                                 "ATQA: 00 04\nMifare Classic type: 1K\n",
         "version.nfc:2: bad version"},
        {"past.json", zc::DumpFormat::Json, R"({"Card": {"SAK": "09"}, "blocks": {"0": ")" + kTrailer + R"(", "20": ")" + kTrailer + R"("}})",
         "past.json: at /blocks/20: block 20 beyond a Mini card"},
        {"odd.bin", zc::DumpFormat::Bin, std::string(321, '\0'), "odd.bin: size 321 bytes"},
        {"empty.eml", zc::DumpFormat::Eml, "\n", "empty.eml: 0 blocks"},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        try {
            zc::ParseDump(c.text, c.format, c.name);
            ADD_FAILURE() << "accepted";
        } catch (const zc::FileError &error) {
            EXPECT_EQ(std::string(error.what()).substr(0, c.where.size()), c.where) << error.what();
        }
    }
}

TEST(DumpFormats, FileWithoutAKnownExtensionIsKnownByItsContents) {
    const zc::CardImage image = zc::ParseDump(MiniEml(), zc::DumpFormat::Eml, "mini.eml");
    struct Case {
        std::string bytes;
        std::optional<zc::DumpFormat> format;
    };
    const Case cases[] = {{kMiniMct, zc::DumpFormat::Mct},
                          {"\r\n" + kMiniFlipper, zc::DumpFormat::Flipper},
                          {kMiniJson, zc::DumpFormat::Json},
                          {zc::WriteDump(image, zc::DumpFormat::Bin, nullptr), zc::DumpFormat::Bin},
                          {MiniEml(), zc::DumpFormat::Eml},
                          {"FFFFFFFFFFFF\nA0A1A2A3A4A5\n", std::nullopt},
                          {"{" + std::string(1023, '\0'), zc::DumpFormat::Bin}};  // a raw dump whose UID starts with 7B
    for (const Case &c : cases) EXPECT_EQ(zc::FormatOfContents(c.bytes), c.format) << c.bytes.substr(0, 20);
    EXPECT_EQ(zc::FormatForPath("dump.EML"), zc::DumpFormat::Eml);
}

TEST(DumpDiff, UidLeftOutWhenOneFileCannotHoldIt) {
    zc::CardImage with_uid = zc::ParseDump(kMiniFlipper, zc::DumpFormat::Flipper, "a.nfc");
    with_uid.uid = {0x04, 0x30, 0x68, 0x6A, 0x99, 0x66, 0x80};
    const zc::CardImage in_mct = zc::ParseDump(zc::WriteDump(with_uid, zc::DumpFormat::Mct, nullptr), zc::DumpFormat::Mct, "b.mct");
    EXPECT_FALSE(zc::FormatHoldsUid(zc::DumpFormat::Mct, with_uid));
    EXPECT_TRUE(zc::FormatHoldsUid(zc::DumpFormat::Json, with_uid));
    EXPECT_FALSE(zc::DiffDumps(with_uid, in_mct).equal());
    const zc::DumpDifference diff = zc::DiffDumps(with_uid, in_mct, false);
    EXPECT_TRUE(diff.equal());
    EXPECT_FALSE(diff.uids_compared);
}

TEST(KeyFiles, ProxmarkKeyFileHoldsKeyAOfEverySectorThenKeyB) {
    std::vector<zc::SectorKeys> keys(5);
    for (std::size_t s = 0; s < keys.size(); ++s) {
        keys[s].a = zc::Key{0xA0, 0, 0, 0, 0, static_cast<std::uint8_t>(s)};
        keys[s].b = zc::Key{0xB0, 0, 0, 0, 0, static_cast<std::uint8_t>(s)};
    }
    keys[4].b.reset();
    const std::string bytes = zc::WriteKeyBinary(keys);
    ASSERT_EQ(bytes.size(), 60u);
    EXPECT_EQ(static_cast<std::uint8_t>(bytes[6 * 4 + 5]), 4);      // key A of sector 4
    EXPECT_EQ(static_cast<std::uint8_t>(bytes[6 * 5]), 0xB0);       // key B of sector 0
    EXPECT_EQ(bytes.substr(54), std::string(6, '\0'));             // key B of sector 4, unknown
    const auto back = zc::ParseKeyBinary(bytes, "keys.bin");
    EXPECT_EQ(back[3], keys[3]);
    EXPECT_EQ(back[4].b, zc::Key{});
    EXPECT_EQ(zc::ParseKeyBinary(std::string(192, '\xFF'), "k.bin").size(), 16u);
    EXPECT_EQ(zc::ParseKeyBinary(std::string(480, '\xFF'), "k.bin").size(), 40u);
    for (const std::size_t size : {0u, 59u, 320u, 1024u}) {
        EXPECT_THROW(zc::ParseKeyBinary(std::string(size, '\0'), "k.bin"), zc::FileError) << size;
    }
}

TEST(KeyFiles, DictionariesAsOtherToolsWriteThem) {
    const std::string text =
        "# comment \xE2\x80\x94 with UTF-8\r\n"
        "ffffffffffff\r\n"
        "\r\n"
        "A0A1A2A3A4A5   \t\r\n"
        "d3f7d3f7d3f7 # trailing comment\n"
        "FFFFFFFFFFFF\n";
    const auto keys = zc::ParseKeyDictionary(text, "d.dic");
    ASSERT_EQ(keys.size(), 4u);  // duplicates are removed later, by the search
    EXPECT_EQ(keys[2], zc::ParseKey("D3F7D3F7D3F7"));
    try {
        zc::ParseKeyDictionary(text + "El67EC67C7FF\n", "d.dic");
        ADD_FAILURE() << "accepted a mistyped key";
    } catch (const zc::FileError &error) {
        EXPECT_EQ(error.line(), 7);
    }
}
