// zelkor read, write, value-op: one block at a time, for scripts.
#include <nlohmann/json.hpp>

#include "card/access_conditions.h"
#include "card/hex.h"
#include "card/key_files.h"
#include "card/restore.h"
#include "cli/card_text.h"
#include "cli/commands.h"
#include "cli/reader_access.h"
#include "cli/toolkit_text.h"
#include "words/toolkit_words.h"

namespace zelkor::cli {
namespace {

struct BlockOptions {
    ReaderOptions reader;
    int block = -1;
    std::string key = "FFFFFFFFFFFF";
    std::string key_type = "A";
    std::string key_map;
};

void AddBlockOptions(Program &program, CLI::App *command, BlockOptions &options) {
    AddReaderOptions(program, command, options.reader);
    command->add_option("BLOCK", options.block, "Absolute block number (0-63 on 1K, 0-255 on 4K)")
        ->required()
        ->check(CLI::Range(0, 255));
    command->add_option("--key", options.key, "Key, 12 hexadecimal digits")->default_val("FFFFFFFFFFFF");
    command->add_option("-t,--key-type", options.key_type, "Key A or key B")
        ->check(CLI::IsMember({"A", "B", "a", "b"}))
        ->default_val("A");
    command->add_option("-k,--keys", options.key_map, "Take the sector's key from a key map (.json) instead")
        ->type_name("FILE");
}

struct BlockKey {
    card::KeyType type = card::KeyType::A;
    card::Key key{};
};

// The key for the block's sector, from the key map when one is given. Reads
// files and checks text before the reader is touched.
BlockKey ChooseKey(const BlockOptions &options) {
    BlockKey chosen;
    chosen.type = options.key_type == "B" || options.key_type == "b" ? card::KeyType::B : card::KeyType::A;
    if (!options.key_map.empty()) {
        const auto map = card::LoadKeyMap(options.key_map);
        const int sector = card::SectorOfBlock(options.block);
        std::optional<card::Key> key;
        if (static_cast<std::size_t>(sector) < map.size()) key = map[static_cast<std::size_t>(sector)].Of(chosen.type);
        if (!key) {
            const std::string sector_text = std::to_string(sector);
            throw UsageError(options.key_map + ": no key " + card::KeyLetter(chosen.type) + " for sector " + sector_text,
                             options.key_map + "：没有扇区 " + sector_text + " 的密钥" + card::KeyLetter(chosen.type));
        }
        chosen.key = *key;
        return chosen;
    }
    const auto key = card::ParseKey(options.key);
    if (!key) throw UsageError("a key is 12 hexadecimal digits: " + options.key, "密钥是 12 位十六进制数字：" + options.key);
    chosen.key = *key;
    return chosen;
}

CardError WriteRefused() { return CardError("the card refused the write", "卡片拒绝写入"); }

// The card, with the block in range and its sector authenticated.
card::CardIdentity OpenSector(ReaderAccess &reader, int block, const BlockKey &key) {
    const card::CardIdentity identity = reader.IdentifyClassic();
    if (block >= card::BlockCount(*identity.kind)) {
        const std::string kind(card::KindName(*identity.kind));
        const std::string last = std::to_string(card::BlockCount(*identity.kind) - 1);
        throw UsageError("block " + std::to_string(block) + " is beyond the " + kind + " card's last block " + last,
                         "块 " + std::to_string(block) + " 超出了 " + kind + " 卡的最后一块 " + last);
    }
    const int sector = card::SectorOfBlock(block);
    if (!reader.link().Authenticate(sector, key.type, key.key)) {
        const std::string letter(1, card::KeyLetter(key.type));
        const std::string hex = card::KeyToHex(key.key);
        throw CardError("key " + letter + " " + hex + " does not open sector " + std::to_string(sector),
                        "密钥" + letter + " " + hex + " 验证扇区 " + std::to_string(sector) + " 失败");
    }
    return identity;
}

// Selects the card again; CardError unless it is still the card `identity` names.
void ReselectSameCard(ReaderAccess &reader, const card::CardIdentity &identity, const Bilingual &consequence) {
    const card::Reselection found = reader.link().Reselect();
    if (!found) {
        const std::string loss = LossText(found, identity.uid);
        throw CardError(loss + ": " + consequence.english, loss + "：" + consequence.chinese);
    }
}

void Authenticate(ReaderAccess &reader, const card::CardIdentity &identity, int sector, const BlockKey &key) {
    ReselectSameCard(reader, identity, {"nothing written", "没有写入任何数据"});
    if (!reader.link().Authenticate(sector, key.type, key.key)) {
        const std::string letter(1, card::KeyLetter(key.type));
        throw CardError("the card did not take key " + letter + " again for sector " + std::to_string(sector),
                        "扇区 " + std::to_string(sector) + " 再次验证密钥" + letter + " 失败");
    }
}

card::Block ReadOrFail(ReaderAccess &reader, int block) {
    const auto data = reader.link().ReadBlock(block);
    if (!data) {
        throw CardError("block " + std::to_string(block) + " could not be read with this key",
                        "用这个密钥无法读出块 " + std::to_string(block));
    }
    return *data;
}

int RunRead(Program &program, const BlockOptions &options) {
    const BlockKey key = ChooseKey(options);
    ReaderAccess reader(options.reader);
    OpenSector(reader, options.block, key);
    const card::Block data = ReadOrFail(reader, options.block);
    if (program.json()) {
        const nlohmann::json out = {{"block", options.block}, {"data", card::ToHex(data)}};
        program.Result(out.dump(2) + "\n");
    } else {
        program.Result(card::ToHex(data) + "\n");
    }
    return kExitSuccess;
}

struct WriteOptions {
    BlockOptions block;
    std::string data;
    bool trailer = false;
    bool force = false;
};

// The rights check of restore, for one block: the sector's access bytes as
// the card holds them, and the one key given.
void CheckWriteAllowed(ReaderAccess &reader, const card::CardIdentity &identity, int block, const card::Block &data,
                       const BlockKey &key, const WriteOptions &options) {
    const int sector = card::SectorOfBlock(block);
    const auto trailer = reader.link().ReadBlock(card::TrailerBlock(sector));
    if (!trailer) {
        const std::string letter(1, card::KeyLetter(key.type));
        throw CardError("the access bits of sector " + std::to_string(sector) + " cannot be read with key " + letter +
                            ": nothing written",
                        "用密钥" + letter + " 无法读出扇区 " + std::to_string(sector) + " 的控制字：没有写入任何数据");
    }
    card::CardImage card_now = card::CardImage::Blank(*identity.kind);
    card_now.uid = identity.uid;
    card_now.SetBlock(card::TrailerBlock(sector), *trailer, card::kAccessMask);
    card_now.keys[static_cast<std::size_t>(sector)].Of(key.type) = key.key;
    card::CardImage wanted = card::CardImage::Blank(*identity.kind);
    wanted.uid = identity.uid;
    wanted.SetBlock(block, data);
    const card::RestorePlan plan = card::PlanRestore(wanted, card_now, {options.trailer, options.force});
    for (const auto &step : plan.steps) {
        if (step.block != block) continue;
        if (step.fatal || step.action != card::StepAction::Write) {
            throw CardError("block " + std::to_string(block) + ": " + words::Text(step, words::Language::English) +
                                ": nothing written",
                            "块 " + std::to_string(block) + "：" + words::Text(step, words::Language::Chinese) +
                                "：没有写入任何数据");
        }
        if (step.key && *step.key != key.type) {
            const std::string letter(1, card::KeyLetter(*step.key));
            throw CardError("block " + std::to_string(block) + " is written with key " + letter +
                                ", not the key given: nothing written",
                            "块 " + std::to_string(block) + " 要用密钥" + letter + " 写入，不是给出的密钥：没有写入任何数据");
        }
    }
}

// A trailer is read back after authenticating with a new key that the new
// access bits let read them: the type given when allowed, otherwise the
// other. Key A never reads back and key B only under some access bits, so
// the access bytes are what is compared.
bool VerifyTrailer(ReaderAccess &reader, const card::CardIdentity &identity, int sector, const card::Block &data,
                   const BlockKey &key) {
    const card::Condition next = card::DecodeAccessBytes(std::span(data).subspan(6, 4)).conditions[3];
    const card::Access read = card::TrailerRightsOf(next).access_bits_read;
    BlockKey new_key = key;
    if (!card::Allows(read, key.type)) new_key.type = key.type == card::KeyType::A ? card::KeyType::B : card::KeyType::A;
    std::copy_n(data.begin() + (new_key.type == card::KeyType::A ? 0 : 10), 6, new_key.key.begin());
    const std::string trailer = std::to_string(card::TrailerBlock(sector));
    ReselectSameCard(reader, identity, {"block " + trailer + " written, NOT verified", "块 " + trailer + " 已写入，但没有校验"});
    if (!reader.link().Authenticate(sector, new_key.type, new_key.key)) return false;
    const auto back = reader.link().ReadBlock(card::TrailerBlock(sector));
    return back && std::equal(data.begin() + 6, data.begin() + 10, back->begin() + 6);
}

int RunWrite(Program &program, const WriteOptions &options) {
    const BlockKey key = ChooseKey(options.block);
    const auto bytes = card::ParseHex(options.data);
    if (!bytes || bytes->size() != card::kBlockSize) {
        throw UsageError("block data is 32 hexadecimal digits: " + options.data,
                         "块数据是 32 位十六进制数字：" + options.data);
    }
    card::Block data{};
    std::copy(bytes->begin(), bytes->end(), data.begin());
    const int block = options.block.block;
    if (block == card::kManufacturerBlock) {
        throw UsageError("block 0 holds the manufacturer data and is never written", "块 0 是厂商块，从不写入");
    }
    const bool is_trailer = card::IsTrailer(block);
    if (is_trailer && !options.trailer) {
        throw UsageError("block " + std::to_string(block) +
                             " is a sector trailer (keys and access bits): add --trailer to write it",
                         "块 " + std::to_string(block) + " 是控制块（密钥和控制字）：加上 --trailer 才能写入");
    }
    if (is_trailer && !card::DecodeAccessBytes(std::span(data).subspan(6, 4)).consistent()) {
        const std::string access = card::ToHex(std::span(data).subspan(6, 4));
        throw UsageError("the access bytes " + access + " are inconsistent and would block the sector: nothing written",
                         "控制字 " + access + " 无效，会锁死整个扇区：没有写入任何数据");
    }

    ReaderAccess reader(options.block.reader);
    const card::CardIdentity identity = OpenSector(reader, block, key);
    CheckWriteAllowed(reader, identity, block, data, key, options);
    const int sector = card::SectorOfBlock(block);
    Authenticate(reader, identity, sector, key);
    bool verified = false;
    if (is_trailer) {
        if (!reader.link().WriteTrailer(sector, data, key.type, key.key)) throw WriteRefused();
        verified = VerifyTrailer(reader, identity, sector, data, key);
    } else {
        if (!reader.link().WriteBlock(block, data)) throw WriteRefused();
        const auto back = reader.link().ReadBlock(block);
        verified = back && *back == data;
    }
    if (program.json()) {
        const nlohmann::json out = {{"block", block}, {"written", true}, {"verified", verified}};
        program.Result(out.dump(2) + "\n");
    }
    program.Note("block " + std::to_string(block) + " written" + (verified ? " and verified" : ", NOT verified"),
                 "块 " + std::to_string(block) + (verified ? " 已写入并校验通过" : " 已写入，但没有校验"));
    return verified ? kExitSuccess : kExitFailure;
}

struct ValueOptions {
    BlockOptions block;
    std::string operation;
    long long amount = -1;
};

int RunValueOperation(Program &program, const ValueOptions &options) {
    const BlockKey key = ChooseKey(options.block);
    const int block = options.block.block;
    if (block == card::kManufacturerBlock) {
        throw UsageError("block 0 holds the manufacturer data, not a value block: nothing sent",
                         "块 0 是厂商块，不是数值块：没有发送任何命令");
    }
    if (card::IsTrailer(block)) {
        throw UsageError("block " + std::to_string(block) + " is a sector trailer, not a value block",
                         "块 " + std::to_string(block) + " 是控制块，不是数值块");
    }
    const bool needs_amount = options.operation != "get";
    if (needs_amount && options.amount < 0) {
        throw UsageError(options.operation + " needs an AMOUNT", options.operation + " 需要给出金额 AMOUNT");
    }
    const auto amount = static_cast<std::int32_t>(options.amount);

    ReaderAccess reader(options.block.reader);
    OpenSector(reader, block, key);
    bool done = true;
    if (options.operation == "init") done = reader.link().InitValue(block, amount);
    if (options.operation == "inc") done = reader.link().ChangeValue(block, true, amount);
    if (options.operation == "dec") done = reader.link().ChangeValue(block, false, amount);
    if (!done) {
        throw CardError("the card refused " + options.operation + " on block " + std::to_string(block),
                        "卡片拒绝了对块 " + std::to_string(block) + " 的 " + options.operation + " 操作");
    }
    const auto value = reader.link().ReadValue(block);
    if (!value) {
        throw CardError("block " + std::to_string(block) + " holds no valid value",
                        "块 " + std::to_string(block) + " 不是有效的数值块");
    }
    if (program.json()) {
        const nlohmann::json out = {{"block", block}, {"value", *value}};
        program.Result(out.dump(2) + "\n");
    } else {
        program.Result(std::to_string(*value) + "\n");
    }
    return kExitSuccess;
}

}  // namespace

void AddBlockCommands(Program &program) {
    auto read = std::make_shared<BlockOptions>();
    CLI::App *command = program.app().add_subcommand("read", "Read one block");
    AddBlockOptions(program, command, *read);
    program.AddJsonOption(command);
    program.Register(command, [&program, read] { return RunRead(program, *read); });

    auto write = std::make_shared<WriteOptions>();
    command = program.app().add_subcommand(
        "write", "Write one block after the access-bit check restore applies; read back and compared");
    AddBlockOptions(program, command, write->block);
    command->add_option("DATA", write->data, "16 bytes as 32 hexadecimal digits")->required();
    command->add_flag("--trailer", write->trailer, "Allow writing a sector trailer (keys and access bits)");
    command->add_flag("--force", write->force, "Write a trailer whose access bits can never be written again");
    program.AddJsonOption(command);
    program.Register(command, [&program, write] { return RunWrite(program, *write); });

    auto value = std::make_shared<ValueOptions>();
    command = program.app().add_subcommand("value-op", "Value block: init, inc, dec or get; prints the value after");
    command->add_option("OPERATION", value->operation, "init, inc, dec or get")
        ->required()
        ->check(CLI::IsMember({"init", "inc", "dec", "get"}));
    AddBlockOptions(program, command, value->block);
    command->add_option("AMOUNT", value->amount, "Amount, 0 to 2147483647")->check(CLI::Range(0LL, 2147483647LL));
    program.AddJsonOption(command);
    program.Register(command, [&program, value] { return RunValueOperation(program, *value); });
}

}  // namespace zelkor::cli
