// zelkor acl, zelkor value: decoding access bytes and value blocks given as
// hexadecimal text; no reader involved.
#include <nlohmann/json.hpp>

#include "card/access_conditions.h"
#include "card/hex.h"
#include "card/value_block.h"
#include "cli/decode_text.h"
#include "cli/commands.h"

namespace zelkor::cli {
namespace {

// Hex digits given as one word or several ("FF0780" or "FF 07 80").
std::vector<std::uint8_t> HexArgument(const std::vector<std::string> &words, const Bilingual &what) {
    std::string joined;
    for (const auto &word : words) joined += word;
    auto bytes = card::ParseHex(joined);
    if (!bytes) {
        throw UsageError(what.english + ": not hexadecimal bytes: " + joined, what.chinese + "：不是十六进制字节：" + joined);
    }
    return *bytes;
}

std::string RangeOfPosition(int position, bool sixteen_block_sector) {
    if (!sixteen_block_sector) return std::to_string(position);
    if (position == 3) return "15";
    return std::to_string(position * 5) + "-" + std::to_string(position * 5 + 4);
}

nlohmann::json AccessJson(const std::vector<std::uint8_t> &bytes, bool sixteen_block_sector) {
    const card::DecodedAccess access = card::DecodeAccessBytes(bytes);
    const card::Condition trailer = access.conditions[3];
    nlohmann::json positions = nlohmann::json::array();
    for (int position = 0; position < 3; ++position) {
        const card::Condition condition = access.conditions[static_cast<std::size_t>(position)];
        const card::DataRights rights = card::DataRightsOf(condition, trailer);
        positions.push_back({{"position", position},
                             {"blocks", RangeOfPosition(position, sixteen_block_sector)},
                             {"bits", card::ConditionBits(condition)},
                             {"consistent", access.position_consistent[static_cast<std::size_t>(position)]},
                             {"read", card::AccessName(rights.read)},
                             {"write", card::AccessName(rights.write)},
                             {"increment", card::AccessName(rights.increment)},
                             {"decrement_transfer_restore", card::AccessName(rights.decrement_transfer_restore)}});
    }
    const card::TrailerRights rights = card::TrailerRightsOf(trailer);
    nlohmann::json out = {
        {"access_bytes", card::ToHex(bytes)},
        {"consistent", access.consistent()},
        {"transport", access.transport},
        {"positions", positions},
        {"trailer",
         {{"block", RangeOfPosition(3, sixteen_block_sector)},
          {"bits", card::ConditionBits(trailer)},
          {"consistent", access.position_consistent[3]},
          {"key_a_write", card::AccessName(rights.key_a_write)},
          {"access_bits_read", card::AccessName(rights.access_bits_read)},
          {"access_bits_write", card::AccessName(rights.access_bits_write)},
          {"key_b_read", card::AccessName(rights.key_b_read)},
          {"key_b_write", card::AccessName(rights.key_b_write)},
          {"access_bits_writable_again", card::AccessBitsWritableAgain(trailer)}}}};
    if (access.user_byte) out["user_byte"] = card::ToHex(std::vector<std::uint8_t>{*access.user_byte});
    return out;
}

void AddAclCommand(Program &program) {
    struct Options {
        std::vector<std::string> hex;
        bool sixteen_block_sector = false;
    };
    auto options = std::make_shared<Options>();
    CLI::App *command = program.app().add_subcommand(
        "acl", "Decode access bytes (3 or 4 bytes, e.g. FF0780 or FF078069) into who may do what");
    command->add_option("HEX", options->hex, "The access bytes, trailer bytes 6 to 8 (or 6 to 9)")->required();
    command->add_flag("--large-sector", options->sixteen_block_sector,
                      "A 16-block sector of a 4K card (sectors 32 to 39): positions are block groups");
    program.AddJsonOption(command);
    program.Register(command, [&program, options] {
        const auto bytes = HexArgument(options->hex, {"access bytes", "控制字"});
        if (bytes.size() != 3 && bytes.size() != 4) {
            const std::string size = std::to_string(bytes.size());
            throw UsageError("access bytes are 3 or 4 bytes, not " + size, "控制字是 3 或 4 个字节，不是 " + size + " 个");
        }
        if (program.json()) {
            program.Result(AccessJson(bytes, options->sixteen_block_sector).dump(2) + "\n");
        } else {
            program.Result(
                AccessText(card::DecodeAccessBytes(bytes), options->sixteen_block_sector, program.language()));
        }
        return kExitSuccess;
    });
}

void AddValueCommand(Program &program) {
    auto hex = std::make_shared<std::vector<std::string>>();
    CLI::App *command = program.app().add_subcommand(
        "value", "Decode a 16-byte value block: value, address byte, redundant copies; exit status 1 when it is not "
        "a valid value block");
    command->add_option("HEX", *hex, "The block's 16 bytes as 32 hexadecimal digits")->required();
    program.AddJsonOption(command);
    program.Register(command, [&program, hex] {
        const auto bytes = HexArgument(*hex, {"value block", "数值块"});
        if (bytes.size() != card::kBlockSize) {
            const std::string size = std::to_string(bytes.size());
            throw UsageError("a value block is 16 bytes, not " + size, "数值块是 16 个字节，不是 " + size + " 个");
        }
        card::Block block{};
        std::copy(bytes.begin(), bytes.end(), block.begin());
        const card::ValueBlockInfo info = card::DecodeValueBlock(block);
        if (program.json()) {
            const nlohmann::json out = {{"value", info.value},
                                        {"address", info.address},
                                        {"value_copies_match", info.value_copies_match},
                                        {"address_copies_match", info.address_copies_match},
                                        {"valid", info.valid()}};
            program.Result(out.dump(2) + "\n");
        } else {
            program.Result(ValueBlockText(info, program.language()));
        }
        return info.valid() ? kExitSuccess : kExitFailure;
    });
}

}  // namespace

void AddDecodeCommands(Program &program) {
    AddAclCommand(program);
    AddValueCommand(program);
}

}  // namespace zelkor::cli
