// Dump formats and key files: every format read, written and read again from
// small hand-written samples, conversions between them, and the errors a
// malformed file gets.
#include <gtest/gtest.h>

#include <cstdio>
#include <fstream>
#include <string>

#include <unistd.h>

#include "card/dump_diff.h"
#include "card/dump_formats.h"
#include "card/hex.h"
#include "card/key_files.h"
#include "words/toolkit_words.h"

namespace zc = zelkor::card;

namespace {

// Sector 0 with key A unknown, sector 1 dead, sector 2 read.
const std::string kMctSample =
    "+Sector: 0\n"
    "BAE27C9DB91802004644533730563031\n"
    "00000000000000000000000000000000\n"
    "0102030405060708090A0B0C0D0E0F10\n"
    "------------FF078069FFFFFFFFFFFF\n"
    "+Sector: 1\n"
    "*No keys found or dead sector\n"
    "+Sector: 2\n"
    "E8030000 17FCFFFFE803000005FA05FA\n"
    "00000000000000000000000000000000\n"
    "0000000000000000000000000000----\n"
    "A0A1A2A3A4A57F078869B0B1B2B3B4B5\n";

const std::string kJsonSample = R"({
  "Created": "another tool",
  "FileType": "mfc v2",
  "Card": {"UID": "BAE27C9D", "ATQA": "0400", "SAK": "08"},
  "blocks": {
    "0": "BAE27C9DB91802004644533730563031",
    "1": "48656C6C6F2C20776F726C6421000000",
    "3": "FFFFFFFFFFFFFF078069FFFFFFFFFFFF",
    "7": "------------FF078069------------"
  },
  "SectorKeys": {"1": {"KeyA": "D3F7D3F7D3F7", "KeyB": null}}
}
)";

const std::string kFlipperSample =
    "Filetype: Flipper NFC device\n"
    "Version: 4\n"
    "# a comment\n"
    "Device type: Mifare Classic\n"
    "UID: BA E2 7C 9D\n"
    "ATQA: 00 04\n"
    "SAK: 08\n"
    "Mifare Classic type: 1K\n"
    "Data format version: 2\n"
    "Block 0: BA E2 7C 9D B9 18 02 00 46 44 53 37 30 56 30 31\n"
    "Block 1: ?? ?? 00 00 00 00 00 00 00 00 00 00 00 00 00 01\n"
    "Block 3: FF FF FF FF FF FF FF 07 80 69 ?? ?? ?? ?? ?? ??\n"
    "Block 64: 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00\n";  // removed below

std::string FlipperSample() { return kFlipperSample.substr(0, kFlipperSample.find("Block 64")); }

// A full 1K raw dump: every byte known.
std::string BinSample() {
    std::string bytes(1024, '\0');
    for (std::size_t i = 0; i < bytes.size(); ++i) bytes[i] = static_cast<char>(i * 7 + 3);
    return bytes;
}

struct Sample {
    const char *name;
    zc::DumpFormat format;
    std::string text;
};

std::vector<Sample> Samples() {
    std::string mct = kMctSample;
    mct.erase(mct.find("E8030000 ") + 8, 1);  // the blank was only for reading the sample
    return {{"sample.mct", zc::DumpFormat::Mct, mct},
            {"sample.bin", zc::DumpFormat::Bin, BinSample()},
            {"sample.json", zc::DumpFormat::Json, kJsonSample},
            {"sample.nfc", zc::DumpFormat::Flipper, FlipperSample()}};
}

}  // namespace

TEST(DumpFormats, RoundTripAndConversionOfEverySample) {
    const zc::DumpFormat formats[] = {zc::DumpFormat::Mct, zc::DumpFormat::Bin, zc::DumpFormat::Json, zc::DumpFormat::Flipper};
    for (const Sample &sample : Samples()) {
        SCOPED_TRACE(sample.name);
        const zc::CardImage first = zc::ParseDump(sample.text, sample.format, sample.name);
        // Same format: read, write, read again, equal in everything.
        std::vector<zc::FileWarning> warnings;
        const std::string written = zc::WriteDump(first, sample.format, &warnings);
        EXPECT_EQ(zc::ParseDump(written, sample.format, sample.name), first);
        // Other formats keep every block and known byte (raw dumps only
        // when nothing is unknown).
        const bool fully_known = first.KnownBlockCount() == first.block_count();
        for (const zc::DumpFormat to : formats) {
            if (!zc::FormatKeepsUnknownBytes(to) && !fully_known) continue;
            SCOPED_TRACE(std::string(zc::FormatName(to)));
            const zc::CardImage converted = zc::ParseDump(zc::WriteDump(first, to, nullptr), to, "converted");
            EXPECT_TRUE(zc::DiffDumps(first, converted).blocks.empty());
            EXPECT_EQ(converted.keys, first.keys);
        }
    }
}

TEST(DumpFormats, SamplesReadAsWritten) {
    const auto samples = Samples();
    const zc::CardImage mct = zc::ParseDump(samples[0].text, zc::DumpFormat::Mct, "s.mct");
    EXPECT_EQ(mct.kind, zc::CardKind::Classic1K);
    EXPECT_TRUE(mct.BlockKnown(0));
    EXPECT_EQ(mct.known_mask[3], 0xFFC0);  // key A unknown
    EXPECT_FALSE(mct.keys[0].a.has_value());
    EXPECT_EQ(mct.keys[0].b, zc::ParseKey("FFFFFFFFFFFF"));
    EXPECT_TRUE(mct.BlockUnknown(4));  // dead sector
    EXPECT_EQ(mct.known_mask[10], 0x3FFF);
    EXPECT_EQ(mct.keys[2].a, zc::ParseKey("A0A1A2A3A4A5"));

    const zc::CardImage json = zc::ParseDump(samples[2].text, zc::DumpFormat::Json, "s.json");
    EXPECT_EQ(json.uid, (std::vector<std::uint8_t>{0xBA, 0xE2, 0x7C, 0x9D}));
    EXPECT_EQ(json.atqa, (std::array<std::uint8_t, 2>{0x04, 0x00}));
    EXPECT_EQ(json.sak, 0x08);
    EXPECT_EQ(json.keys[1].a, zc::ParseKey("D3F7D3F7D3F7"));
    EXPECT_FALSE(json.keys[1].b.has_value());
    EXPECT_TRUE(json.BlockUnknown(2));

    // The Flipper file shows the ATQA most significant byte first.
    const zc::CardImage nfc = zc::ParseDump(samples[3].text, zc::DumpFormat::Flipper, "s.nfc");
    EXPECT_EQ(nfc.atqa, json.atqa);
    EXPECT_EQ(nfc.known_mask[1], 0xFFFC);
    EXPECT_EQ(nfc.blocks[0], json.blocks[0]);

    // Writing: the .mct dead sector, the Flipper unknown bytes, the JSON header.
    const std::string mct_text = zc::WriteDump(mct, zc::DumpFormat::Mct, nullptr);
    EXPECT_NE(mct_text.find("+Sector: 1\n*No keys found or dead sector\n+Sector: 2\n"), std::string::npos);
    EXPECT_NE(mct_text.find("\n------------FF078069FFFFFFFFFFFF\n"), std::string::npos);
    const std::string nfc_text = zc::WriteDump(nfc, zc::DumpFormat::Flipper, nullptr);
    EXPECT_NE(nfc_text.find("Block 1: ?? ?? 00"), std::string::npos);
    EXPECT_NE(nfc_text.find("ATQA: 00 04\nSAK: 08\n"), std::string::npos);
    EXPECT_NE(nfc_text.find("\nMifare Classic type: 1K\n"), std::string::npos);
    const std::string json_text = zc::WriteDump(json, zc::DumpFormat::Json, nullptr);
    EXPECT_EQ(json_text.find("{\n  \"Created\": \"zelkor\",\n  \"FileType\": \"mfcard\""), 0u);
}

TEST(DumpFormats, RawDumpSaysWhatItCannotHold) {
    const zc::CardImage image = zc::ParseDump(Samples()[0].text, zc::DumpFormat::Mct, "s.mct");
    std::vector<zc::FileWarning> warnings;
    const std::string raw = zc::WriteDump(image, zc::DumpFormat::Bin, &warnings);
    ASSERT_EQ(raw.size(), 1024u);
    EXPECT_EQ(raw.substr(48, 6), std::string(6, '\0'));  // unknown key A as zeros
    ASSERT_GE(warnings.size(), 2u);
    const std::string text = zelkor::words::Text(warnings[0], zelkor::words::Language::English);
    EXPECT_NE(text.find("key A unknown in sectors 0, 1, 3"), std::string::npos) << text;
}

TEST(DumpFormats, SavedAndLoadedByExtension) {
    char dir[] = "/tmp/zelkor-card-files-XXXXXX";
    ASSERT_NE(::mkdtemp(dir), nullptr);
    const zc::CardImage image = zc::ParseDump(Samples()[2].text, zc::DumpFormat::Json, "s.json");
    for (const char *name : {"/a.mct", "/a.json", "/a.nfc"}) {
        const std::string path = std::string(dir) + name;
        zc::SaveDump(path, image, nullptr);
        zc::SaveDump(path, image, nullptr);  // replaces the file
        const zc::CardImage loaded = zc::LoadDump(path);
        EXPECT_TRUE(zc::DiffDumps(image, loaded).blocks.empty()) << name;
        EXPECT_FALSE(std::ifstream(path + ".part").good()) << name;
        std::remove(path.c_str());
    }
    try {
        zc::SaveDump(std::string(dir) + "/missing/a.mct", image, nullptr);
        ADD_FAILURE() << "saved into a missing directory";
    } catch (const zc::FileError &error) {
        EXPECT_EQ(error.file(), std::string(dir) + "/missing/a.mct");
    }
    ::rmdir(dir);
}

TEST(DumpFormats, FormatFromExtension) {
    EXPECT_EQ(zc::FormatForPath("a/b.MCT"), zc::DumpFormat::Mct);
    EXPECT_EQ(zc::FormatForPath("card.mfd"), zc::DumpFormat::Bin);
    EXPECT_EQ(zc::FormatForPath("card.bin"), zc::DumpFormat::Bin);
    EXPECT_EQ(zc::FormatForPath("x.json"), zc::DumpFormat::Json);
    EXPECT_EQ(zc::FormatForPath("x.nfc"), zc::DumpFormat::Flipper);
    EXPECT_FALSE(zc::FormatForPath("dir.d/card").has_value());
    EXPECT_FALSE(zc::FormatForPath("card.txt").has_value());
    EXPECT_THROW(zc::LoadDump("/nonexistent/card.txt"), zc::FileError);
}

// Every malformed input names the file and the line or JSON path.
TEST(DumpFormats, MalformedFilesNameFileAndPlace) {
    const struct {
        zc::DumpFormat format;
        std::string text;
        std::string expected;  // start of what()
    } cases[] = {
        {zc::DumpFormat::Mct, "00000000000000000000000000000000\n", "f:1: expected '+Sector: N'"},
        {zc::DumpFormat::Mct, "+Sector: 0\n" + std::string(32, '0') + "\nXYZ\n", "f:3: expected 32 hexadecimal"},
        {zc::DumpFormat::Mct, "+Sector: 40\n", "f:1: bad sector header"},
        {zc::DumpFormat::Mct, "+Sector: 1\n" + std::string(32, '0') + "\n", "f:1: sector 1 has 1 blocks, expected 4"},
        {zc::DumpFormat::Mct, "+Sector: 1\n*No keys found or dead sector\n+Sector: 1\n", "f:3: sector 1 appears twice"},
        {zc::DumpFormat::Mct, "", "f: no sectors"},
        {zc::DumpFormat::Bin, std::string(100, 'x'), "f: size 100 bytes"},
        {zc::DumpFormat::Json, "{\n  \"blocks\": {\n    \"0\": 12,,\n", "f:3: JSON syntax error"},
        {zc::DumpFormat::Json, R"({"blocks": {"4": "00"}})", "f: at /blocks/4: expected 32 hexadecimal"},
        {zc::DumpFormat::Json, R"({"blocks": {"256": "00000000000000000000000000000000"}})", "f: at /blocks/256: block number"},
        {zc::DumpFormat::Json, R"({"FileType": "mfu", "blocks": {}})", "f: at /FileType: file type 'mfu'"},
        {zc::DumpFormat::Json, R"({"Card": {"SAK": "0808"}, "blocks": {}})", "f: at /Card/SAK: expected 2 hexadecimal"},
        {zc::DumpFormat::Json, R"({"blocks": {}, "SectorKeys": {"2": {"KeyB": "12"}}})", "f: at /SectorKeys/2/KeyB: expected a key"},
        {zc::DumpFormat::Json, R"([1, 2])", "f: at /: expected an object"},
        {zc::DumpFormat::Json, R"({"blocks": {}, "Size": 1e999})", "f: JSON error: number overflow"},
        {zc::DumpFormat::Json, R"({"blocks": {"4": "00000000000000000000000000000000", "4": "11111111111111111111111111111111"}})",
         "f: at /blocks/4: '4' appears twice"},
        {zc::DumpFormat::Json, R"({"blocks": {"4": "00000000000000000000000000000000", "04": "11111111111111111111111111111111"}})",
         "f: at /blocks/04: block 4 appears twice (also as /blocks/4)"},
        {zc::DumpFormat::Json, R"({"blocks": {"3": "FFFFFFFFFFFFFF078069FFFFFFFFFFFF"}, "SectorKeys": {"0": {"KeyA": "A0A1A2A3A4A5"}}})",
         "f: at /SectorKeys/0/KeyA: key A A0A1A2A3A4A5 differs from the one in the trailer, /blocks/3: FFFFFFFFFFFF"},
        {zc::DumpFormat::Json, R"({"blocks": {"7": "FFFFFFFFFFFFFF078069B0B1B2B3B4B5"}, "SectorKeys": {"1": {"KeyB": "FFFFFFFFFFFF"}}})",
         "f: at /SectorKeys/1/KeyB: key B FFFFFFFFFFFF differs from the one in the trailer, /blocks/7: B0B1B2B3B4B5"},
        {zc::DumpFormat::Flipper, "Device type: Mifare Classic\n", "f:1: not a Flipper NFC file"},
        {zc::DumpFormat::Flipper, "Filetype: Flipper NFC device\nDevice type: NTAG/Ultralight\n", "f:2: device type 'NTAG/Ultralight'"},
        {zc::DumpFormat::Flipper,
         "Filetype: Flipper NFC device\nDevice type: Mifare Classic\nMifare Classic type: 1K\nBlock 4: 00 11\n", "f:4: a block is 16 bytes"},
        {zc::DumpFormat::Flipper,
         "Filetype: Flipper NFC device\nDevice type: Mifare Classic\nMifare Classic type: 1K\nBlock 64: " +
             std::string("00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00") + "\n",
         "f:4: block 64 beyond a 1K card"},
        {zc::DumpFormat::Flipper,
         "Filetype: Flipper NFC device\nDevice type: Mifare Classic\nMifare Classic type: 1K\nBlock 4: " +
             std::string("00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00") + "\nBlock 4: " +
             std::string("11 11 11 11 11 11 11 11 11 11 11 11 11 11 11 11") + "\n",
         "f:5: block 4 appears twice (first on line 4)"},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.expected);
        try {
            zc::ParseDump(c.text, c.format, "f");
            ADD_FAILURE() << "accepted";
        } catch (const zc::FileError &error) {
            EXPECT_EQ(std::string(error.what()).rfind(c.expected, 0), 0u) << error.what();
        }
    }
}

TEST(KeyFiles, DictionaryAndKeyMap) {
    const auto keys = zc::ParseKeyDictionary("# common keys\r\nFFFFFFFFFFFF\n\n  a0a1a2a3a4a5  # MAD\nFFFFFFFFFFFF\n", "d.dic");
    ASSERT_EQ(keys.size(), 3u);
    EXPECT_EQ(keys[1], zc::ParseKey("A0A1A2A3A4A5"));
    EXPECT_EQ(zc::UniqueKeys(keys).size(), 2u);
    for (const std::string bad : {"FFFFFFFFFFF", "FFFFFFFFFFFFF", "GGGGGGGGGGGG", "FF FF FF FF FF FF"}) {
        try {
            zc::ParseKeyDictionary("FFFFFFFFFFFF\n# ok\n" + bad + "\n", "d.dic");
            ADD_FAILURE() << bad;
        } catch (const zc::FileError &error) {
            EXPECT_EQ(error.line(), 3);
            EXPECT_EQ(std::string(error.what()).rfind("d.dic:3: expected a key of 12 hexadecimal digits", 0), 0u);
        }
    }
    EXPECT_EQ(zc::BuiltinKeys().size(), 13u);
    EXPECT_EQ(zc::BuiltinKeys()[0], zc::ParseKey("FFFFFFFFFFFF"));

    std::vector<zc::SectorKeys> map(3);
    map[0].a = zc::ParseKey("FFFFFFFFFFFF");
    map[2].b = zc::ParseKey("B0B1B2B3B4B5");
    const std::string text = zc::WriteKeyMap(map);
    EXPECT_NE(text.find("\"1\": {}"), std::string::npos) << text;
    EXPECT_EQ(zc::ParseKeyMap(text, "k.json"), map);
    EXPECT_THROW(zc::ParseKeyMap(R"({"SectorKeys": {"40": {}}})", "k.json"), zc::FileError);
    EXPECT_THROW(zc::ParseKeyMap(R"({"Keys": {}})", "k.json"), zc::FileError);
}

TEST(DumpDiff, DifferingBytesAndUnknownBytes) {
    zc::CardImage a = zc::CardImage::Blank(zc::CardKind::Classic1K);
    zc::CardImage b = a;
    EXPECT_TRUE(zc::DiffDumps(a, b).equal());
    zc::Block data{};
    data[3] = 0x11;
    a.SetBlock(5, data);
    b.SetBlock(5, zc::Block{}, 0x00FF);  // known only in part, byte 3 differs
    const auto diff = zc::DiffDumps(a, b);
    ASSERT_EQ(diff.blocks.size(), 1u);
    EXPECT_EQ(diff.blocks[0].block, 5);
    EXPECT_EQ(diff.blocks[0].differing, 0xFF08);
    const auto sizes = zc::DiffDumps(a, zc::CardImage::Blank(zc::CardKind::Classic4K));
    EXPECT_TRUE(sizes.kinds_differ);
    EXPECT_EQ(sizes.blocks.size(), 1u + 192u);
}
