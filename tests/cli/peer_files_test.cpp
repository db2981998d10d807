// Dump and key files written by other card tools (../shared/peer-dumps beside
// the project, or $ZELKOR_PEER_DUMPS), through the program: what it reads out
// of each, every conversion compared with the original, two files of one
// card compared, and the malformed ones refused with their line. Skipped
// where the folder is missing (a plain clone of the project).
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <optional>
#include <sstream>
#include <vector>

#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include "card/dump_formats.h"
#include "card/hex.h"
#include "card/key_files.h"
#include "tests/cli/program_runner.h"

namespace {

using ::testing::HasSubstr;
using cli_testing::RunResult;
namespace fs = std::filesystem;

fs::path PeerFolder() {
    if (const char *dir = std::getenv("ZELKOR_PEER_DUMPS"); dir != nullptr && *dir != '\0') return dir;
    return ZELKOR_PEER_DUMPS;
}

// What a correct reader gets out of a file.
struct PeerDump {
    const char *file;
    int blocks;             // 20, 64 or 256
    const char *uid;        // "" when the file cannot say
    const char *atqa;       // in the card's order; "" when the file has none
    const char *sak;
    int known_blocks;       // -1: not stated
    const char *key_a;      // sector 0
    const char *key_b;
    const char *access;
    bool unknown_bytes;     // a raw dump cannot hold it whole
};

const PeerDump kPeerDumps[] = {
    {"mct/example-dump-file.txt", 64, "00000000", "", "", 64, "FFFFFFFFFFFF", "FFFFFFFFFFFF", "FF078069", false},
    {"mct/example-dump-file.raw", 64, "00000000", "", "", 64, "FFFFFFFFFFFF", "FFFFFFFFFFFF", "FF078069", false},
    {"proxmark3/s50-empty.bin", 64, "01A062BD", "", "", 64, "FFFFFFFFFFFF", "FFFFFFFFFFFF", "FF078069", false},
    {"proxmark3/s20-empty.json", 20, "1D357AE9", "0400", "09", 20, "FFFFFFFFFFFF", "FFFFFFFFFFFF", "FF078069", false},
    {"proxmark3/hf-mf-537366DA-dump.json", 64, "537366DA", "0400", "88", 64, "A0A1A2A3A4A5", "0D258FE90296", "787788C1", false},
    {"proxmark3/hf-mf-537366DA-dump.bin", 64, "537366DA", "", "", 64, "A0A1A2A3A4A5", "0D258FE90296", "787788C1", false},
    {"proxmark3/hf-mf-021FBA1D-dump.json", 64, "021FBA1D", "0400", "88", 64, "6AD22589F615", "FFFFFFFFFFFF", "FF078069", false},
    {"mfoc/dump.mfd", 256, "33BD9D3F", "", "", 256, "A0A1A2A3A4A5", "7DE02A7F6025", "787788C1", false},
    {"flipper/Mvha_all_access.nfc", 64, "90D307C1", "0400", "08", 64, "FFFFFFFFFFFF", "FFFFFFFFFFFF", "FF078069", false},
    {"flipper/Demo_WC_20E.nfc", 64, "9600CAFE", "0400", "08", 64, "A0A1A2A3A4A5", "010155010100", "78778881", false},
    {"flipper/mf_4k.nfc", 256, "0430686A996680", "4200", "18", 253, "FFFFFFFFFFFF", "FFFFFFFFFFFF", "00000000", true},
    {"flipper/mf_4k_part.nfc", 256, "0430686A996680", "4200", "18", -1, "", "", "", true},
    {"flipper/mf_1k_broke.nfc", 64, "0477702A234F80", "4400", "08", 14, "", "", "", true},
};

// Pairs of files of one card from one tool.
const std::pair<const char *, const char *> kSameCard[] = {
    {"mct/example-dump-file.txt", "mct/example-dump-file.raw"},
    {"proxmark3/hf-mf-537366DA-dump.json", "proxmark3/hf-mf-537366DA-dump.bin"},
};

struct PeerDictionary {
    const char *file;
    int error_line;  // 0: parses
    std::size_t keys;
    const char *first_key;
};

const PeerDictionary kPeerDictionaries[] = {
    {"mct/std.keys", 0, 3, "FFFFFFFFFFFF"},
    {"mct/extended-std.keys", 0, 2477, ""},
    {"mct/hotel-std.keys", 0, 24, ""},
    {"proxmark3/mfc_default_keys.dic", 0, 2510, "FFFFFFFFFFFF"},
    {"flipper/Non-RRG_Keys_Only.nfc", 0, 182, ""},
    {"flipper/mf_classic_dict.nfc", 3609, 0, ""},
};

const char *const kTargets[] = {"mct", "bin", "json", "nfc", "eml"};

class PeerFilesTest : public ::testing::Test {
protected:
    void SetUp() override {
        if (!fs::is_directory(PeerFolder())) GTEST_SKIP() << "no peer dumps at " << PeerFolder() << ": skipped";
        char dir[] = "/tmp/zelkor-peer-XXXXXX";
        ASSERT_NE(::mkdtemp(dir), nullptr);
        dir_ = dir;
    }
    void TearDown() override {
        if (!dir_.empty()) fs::remove_all(dir_);
    }

    static std::string Peer(const std::string &name) { return (PeerFolder() / name).string(); }
    std::string Temp(const std::string &name) const { return (dir_ / name).string(); }
    RunResult Zelkor(const std::vector<std::string> &args) const { return runner_.Run(args); }

    // The file as the program writes it into our JSON.
    nlohmann::json AsJson(const std::string &file) const {
        const std::string out = Temp("facts.json");
        const RunResult run = Zelkor({"convert", Peer(file), out});
        EXPECT_EQ(run.status, 0) << run.err;
        std::ifstream in(out);
        return nlohmann::json::parse(in, nullptr, false);
    }

    fs::path dir_;
    cli_testing::ProgramRunner runner_{ZELKOR_CLI_PROGRAM};
};

std::string Field(const nlohmann::json &json, const std::string &pointer) {
    const nlohmann::json::json_pointer at(pointer);
    return json.contains(at) ? json.at(at).get<std::string>() : std::string();
}

}  // namespace

TEST_F(PeerFilesTest, EveryDumpOpensWithTheFactsItHolds) {
    for (const PeerDump &peer : kPeerDumps) {
        SCOPED_TRACE(peer.file);
        const nlohmann::json json = AsJson(peer.file);
        ASSERT_TRUE(json.is_object());
        const auto &blocks = json.at("blocks");
        int known = 0;
        for (const auto &[number, text] : blocks.items()) known += text.get<std::string>().find('-') == std::string::npos;
        EXPECT_EQ(static_cast<int>(blocks.size()), peer.blocks);
        EXPECT_EQ(Field(json, "/Card/UID"), peer.uid);
        EXPECT_EQ(Field(json, "/Card/ATQA"), peer.atqa);
        EXPECT_EQ(Field(json, "/Card/SAK"), peer.sak);
        if (peer.known_blocks >= 0) {
            EXPECT_EQ(known, peer.known_blocks);
        }
        if (*peer.key_a != '\0') {
            EXPECT_EQ(Field(json, "/SectorKeys/0/KeyA"), peer.key_a);
            EXPECT_EQ(Field(json, "/SectorKeys/0/KeyB"), peer.key_b);
            EXPECT_EQ(Field(json, "/SectorKeys/0/AccessConditions"), peer.access);
        }
        std::cout << "[peer] " << peer.file << ": " << blocks.size() << " blocks, UID " << Field(json, "/Card/UID")
                  << ", ATQA " << Field(json, "/Card/ATQA") << ", SAK " << Field(json, "/Card/SAK") << ", " << known
                  << " blocks fully known\n";
    }
}

TEST_F(PeerFilesTest, EveryConversionComparesEqualWhereTheFormatCanHoldTheCard) {
    for (const PeerDump &peer : kPeerDumps) {
        SCOPED_TRACE(peer.file);
        std::string line = std::string("[peer] ") + peer.file + ":";
        for (const char *target : kTargets) {
            SCOPED_TRACE(target);
            const std::string converted = Temp(std::string("converted.") + target);
            const bool raw = std::string(target) == "bin" || std::string(target) == "eml";
            const bool holds = !(peer.unknown_bytes && raw);
            std::vector<std::string> args = {"convert", Peer(peer.file), converted};
            if (!holds) {
                // Unknown bytes go into a raw dump as zeros only when asked for.
                const RunResult refused = Zelkor(args);
                EXPECT_EQ(refused.status, 2) << refused.err;
                EXPECT_THAT(refused.err, HasSubstr("--fill-unknown zeros"));
                args.insert(args.begin() + 1, {"--fill-unknown", "zeros"});
            }
            const RunResult convert = Zelkor(args);
            ASSERT_EQ(convert.status, 0) << convert.err;
            const RunResult diff = Zelkor({"diff", Peer(peer.file), converted});
            EXPECT_EQ(diff.status, holds ? 0 : 1) << diff.out << diff.err;
            // A 7-byte UID has no place in a file without a UID field.
            const bool uid_lost = std::string(peer.uid).size() > 8 && std::string(target) != "json" && std::string(target) != "nfc";
            if (uid_lost) {
                EXPECT_THAT(convert.err, HasSubstr("UID " + std::string(peer.uid) + " not kept"));
                EXPECT_THAT(diff.err, HasSubstr("UID not compared"));
            }
            line += std::string(" ") + target + (diff.status == 0 ? "=equal" : holds ? "=DIFFERS" : "=differs(unknown bytes as zeros)") +
                    (uid_lost ? "(UID not held)" : "");
        }
        std::cout << line << "\n";
    }
}

TEST_F(PeerFilesTest, TwoFilesOfOneCardCompareEqual) {
    for (const auto &[first, second] : kSameCard) {
        const RunResult diff = Zelkor({"diff", Peer(first), Peer(second)});
        EXPECT_EQ(diff.status, 0) << first << " / " << second << "\n" << diff.out << diff.err;
    }
}

TEST_F(PeerFilesTest, FlipperFileWithBlocksPastTheCardIsRefusedAtItsFirstSuchLine) {
    const RunResult run = Zelkor({"convert", Peer("flipper/mf_4k_broke_overflow.nfc"), Temp("out.json")});
    EXPECT_EQ(run.status, 2);
    EXPECT_THAT(run.err, HasSubstr("mf_4k_broke_overflow.nfc:269: block 256 beyond a 4K card"));
    EXPECT_FALSE(fs::exists(Temp("out.json")));
}

TEST_F(PeerFilesTest, DictionariesLoadAsTheirToolsLoadThem) {
    for (const PeerDictionary &peer : kPeerDictionaries) {
        SCOPED_TRACE(peer.file);
        if (peer.error_line != 0) {
            // Through the program: refused before any reader is opened.
            const RunResult run = Zelkor({"keys", "-p", "99", "-k", Peer(peer.file)});
            EXPECT_EQ(run.status, 2);
            EXPECT_THAT(run.err, HasSubstr(std::string(peer.file).substr(std::string(peer.file).find('/') + 1) + ":" +
                                           std::to_string(peer.error_line) + ":"));
            continue;
        }
        const auto keys = zelkor::card::LoadKeyDictionary(Peer(peer.file));
        EXPECT_EQ(keys.size(), peer.keys);
        ASSERT_FALSE(keys.empty());
        if (*peer.first_key != '\0') {
            EXPECT_EQ(zelkor::card::KeyToHex(keys.front()), peer.first_key);
        }
        std::cout << "[peer] " << peer.file << ": " << keys.size() << " keys, "
                  << zelkor::card::UniqueKeys(keys).size() << " different\n";
    }
}
