// MIFARE Classic Mini, 1K (S50) and 4K (S70): memory, keys, authentication
// state, access conditions and value blocks, as the card enforces them.
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <vector>

#include "sim/access_conditions.h"
#include "sim/card.h"

namespace sim {

using Block = std::array<std::uint8_t, 16>;
using Key = std::array<std::uint8_t, 6>;

class MifareClassic : public Card {
public:
    // A Mini answers the request like an S50 (ATQA 04 00) and the select
    // with SAK 09; it has 5 sectors.
    enum class Model { S50, S70, Mini };
    static constexpr std::uint8_t kKeyTypeA = 0x60;
    static constexpr std::uint8_t kKeyTypeB = 0x61;

    // Every sector starts with `key_a`, `key_b` and the given access bytes
    // (trailer bytes 6 to 9); data blocks are zero; block 0 is the
    // manufacturer block.
    MifareClassic(Model model, const std::array<std::uint8_t, 4> &uid, const Key &key_a, const Key &key_b,
                  const std::array<std::uint8_t, 4> &access);

    Model model() const { return model_; }
    int block_count() const { return BlockCountOf(model_); }
    int sector_count() const { return model_ == Model::S70 ? 40 : block_count() / 4; }
    static int BlockCountOf(Model model);
    int SectorOf(int block) const;
    int FirstBlock(int sector) const;
    int BlocksIn(int sector) const { return sector < 32 ? 4 : 16; }
    int TrailerOf(int sector) const { return FirstBlock(sector) + BlocksIn(sector) - 1; }
    bool IsTrailer(int block) const { return block == TrailerOf(SectorOf(block)); }
    // Absolute block number of a wire address (flag 0x01 absolute, 0x00
    // sector and block within it); nothing when it is not on the card.
    std::optional<int> Resolve(std::uint8_t flag, std::uint8_t sector, std::uint8_t block) const;

    // Memory as stored, without any check: for setting a card up and for tests.
    Block &raw(int block) { return memory_[static_cast<std::size_t>(block)]; }
    const Block &raw(int block) const { return memory_[static_cast<std::size_t>(block)]; }
    void SetTrailer(int sector, const Key &key_a, const std::array<std::uint8_t, 4> &access, const Key &key_b);

    // Card commands; each returns a status byte (status::kOk on success).
    std::uint8_t Authenticate(int block, std::uint8_t key_type, const std::uint8_t *key);
    std::uint8_t Read(int block, Block &out);
    std::uint8_t Write(int block, const Block &data);
    // Value blocks: value, ~value, value (little-endian), then addr ~addr addr ~addr.
    std::uint8_t WriteValue(int block, std::int32_t value);
    std::uint8_t ReadValue(int block, std::int32_t &value);
    std::uint8_t ChangeValue(int block, bool increment, std::int32_t amount);

    std::optional<int> authenticated_sector() const;
    std::optional<KeyKind> authenticated_key() const;

    static Block ValueBlock(std::int32_t value, std::uint8_t address);
    static std::optional<std::int32_t> ParseValue(const Block &block);

protected:
    void DropSession() override { auth_.reset(); }

private:
    struct Auth {
        int sector;
        KeyKind key;
    };
    // Access check for the authenticated key on `block`; status to answer.
    std::uint8_t CheckAccess(int block) const;
    std::optional<SectorConditions> ConditionsOf(int sector) const;
    Condition ConditionOf(int block, const SectorConditions &conditions) const;
    bool DataAllowedNow(int block, DataOp op) const;
    std::uint8_t ValueFor(int block, DataOp op, std::int32_t &value);

    Model model_;
    std::vector<Block> memory_;
    std::optional<Auth> auth_;
};

}  // namespace sim
