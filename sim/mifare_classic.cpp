#include "sim/mifare_classic.h"

#include <algorithm>
#include <limits>

namespace sim {

MifareClassic::MifareClassic(Model model, const std::array<std::uint8_t, 4> &uid, const Key &key_a,
                             const Key &key_b, const std::array<std::uint8_t, 4> &access)
    : Card(model == Model::S70 ? 0x02 : 0x04, model == Model::S70 ? 0x18 : model == Model::Mini ? 0x09 : 0x08,
           Bytes(uid.begin(), uid.end())),
      model_(model),
      memory_(static_cast<std::size_t>(BlockCountOf(model))) {
    for (int sector = 0; sector < sector_count(); ++sector) SetTrailer(sector, key_a, access, key_b);
    Block &maker = memory_[0];
    std::copy(uid.begin(), uid.end(), maker.begin());
    maker[4] = Bcc(this->uid());
    maker[5] = sak();
    maker[6] = type_byte();
    maker[7] = 0x00;
    const std::uint8_t maker_data[8] = {0x5E, 0x1D, 0x20, 0x00, 0x00, 0x00, 0x00, 0x19};
    std::copy(std::begin(maker_data), std::end(maker_data), maker.begin() + 8);
}

int MifareClassic::BlockCountOf(Model model) {
    switch (model) {
    case Model::S50: return 64;
    case Model::S70: return 256;
    case Model::Mini: return 20;
    }
    return 0;
}

int MifareClassic::SectorOf(int block) const { return block < 128 ? block / 4 : 32 + (block - 128) / 16; }

int MifareClassic::FirstBlock(int sector) const { return sector < 32 ? sector * 4 : 128 + (sector - 32) * 16; }

std::optional<int> MifareClassic::Resolve(std::uint8_t flag, std::uint8_t sector, std::uint8_t block) const {
    if (flag == 0x01) {
        if (block < block_count()) return block;
        return std::nullopt;
    }
    if (flag == 0x00 && sector < sector_count() && block < BlocksIn(sector)) return FirstBlock(sector) + block;
    return std::nullopt;
}

void MifareClassic::SetTrailer(int sector, const Key &key_a, const std::array<std::uint8_t, 4> &access,
                               const Key &key_b) {
    Block &t = memory_[static_cast<std::size_t>(TrailerOf(sector))];
    std::copy(key_a.begin(), key_a.end(), t.begin());
    std::copy(access.begin(), access.end(), t.begin() + 6);
    std::copy(key_b.begin(), key_b.end(), t.begin() + 10);
}

std::optional<SectorConditions> MifareClassic::ConditionsOf(int sector) const {
    return DecodeAccessBytes(raw(TrailerOf(sector)).data() + 6);
}

Condition MifareClassic::ConditionOf(int block, const SectorConditions &conditions) const {
    const int offset = block - FirstBlock(SectorOf(block));
    int position = offset;
    if (BlocksIn(SectorOf(block)) == 16) position = offset == 15 ? 3 : offset / 5;
    return conditions[static_cast<std::size_t>(position)];
}

std::optional<int> MifareClassic::authenticated_sector() const {
    if (!auth_) return std::nullopt;
    return auth_->sector;
}

std::optional<KeyKind> MifareClassic::authenticated_key() const {
    if (!auth_) return std::nullopt;
    return auth_->key;
}

std::uint8_t MifareClassic::Authenticate(int block, std::uint8_t key_type, const std::uint8_t *key) {
    auth_.reset();
    const int sector = SectorOf(block);
    const auto conditions = ConditionsOf(sector);
    const Block &t = raw(TrailerOf(sector));
    bool ok = conditions.has_value() && (key_type == kKeyTypeA || key_type == kKeyTypeB);
    if (ok) {
        const std::uint8_t *stored = t.data() + (key_type == kKeyTypeA ? 0 : 10);
        ok = std::equal(stored, stored + 6, key);
    }
    if (!ok) {
        Fail();
        return status::kAuthFailed;
    }
    auth_ = Auth{sector, key_type == kKeyTypeA ? KeyKind::A : KeyKind::B};
    return status::kOk;
}

// A refused command is not acknowledged: the card drops back to IDLE (or
// HALT) and its authentication is gone.
std::uint8_t MifareClassic::CheckAccess(int block) const {
    if (!auth_ || auth_->sector != SectorOf(block)) return status::kNotAuthenticated;
    const auto conditions = ConditionsOf(auth_->sector);
    if (!conditions || !KeyGrantsAccess((*conditions)[3], auth_->key)) return status::kCardRefused;
    return status::kOk;
}

bool MifareClassic::DataAllowedNow(int block, DataOp op) const {
    const auto conditions = ConditionsOf(auth_->sector);
    return DataAllowed(ConditionOf(block, *conditions), op, auth_->key);
}

std::uint8_t MifareClassic::Read(int block, Block &out) {
    std::uint8_t st = CheckAccess(block);
    if (st == status::kOk && IsTrailer(block)) {
        const Condition c = (*ConditionsOf(auth_->sector))[3];
        const Block &t = raw(block);
        out.fill(0);  // key A never reads back
        if (TrailerAllowed(c, TrailerOp::ReadAccess, auth_->key)) std::copy(t.begin() + 6, t.begin() + 10, out.begin() + 6);
        if (TrailerAllowed(c, TrailerOp::ReadKeyB, auth_->key)) std::copy(t.begin() + 10, t.end(), out.begin() + 10);
        return status::kOk;
    }
    if (st == status::kOk && !DataAllowedNow(block, DataOp::Read)) st = status::kCardRefused;
    if (st != status::kOk) {
        Fail();
        return st;
    }
    out = raw(block);
    return status::kOk;
}

std::uint8_t MifareClassic::Write(int block, const Block &data) {
    std::uint8_t st = CheckAccess(block);
    if (st == status::kOk && IsTrailer(block)) {
        const Condition c = (*ConditionsOf(auth_->sector))[3];
        const bool key_a = TrailerAllowed(c, TrailerOp::WriteKeyA, auth_->key);
        const bool access = TrailerAllowed(c, TrailerOp::WriteAccess, auth_->key);
        const bool key_b = TrailerAllowed(c, TrailerOp::WriteKeyB, auth_->key);
        if (key_a || access || key_b) {
            // Parts this key may not write keep their content.
            Block &t = raw(block);
            if (key_a) std::copy(data.begin(), data.begin() + 6, t.begin());
            if (access) std::copy(data.begin() + 6, data.begin() + 10, t.begin() + 6);
            if (key_b) std::copy(data.begin() + 10, data.end(), t.begin() + 10);
            return status::kOk;
        }
        st = status::kCardRefused;
    }
    if (st == status::kOk && (block == 0 || !DataAllowedNow(block, DataOp::Write))) st = status::kCardRefused;
    if (st != status::kOk) {
        Fail();
        return st;
    }
    raw(block) = data;
    return status::kOk;
}

Block MifareClassic::ValueBlock(std::int32_t value, std::uint8_t address) {
    const auto v = static_cast<std::uint32_t>(value);
    Block b{};
    for (int i = 0; i < 4; ++i) {
        const auto byte = static_cast<std::uint8_t>(v >> (8 * i));
        b[static_cast<std::size_t>(i)] = byte;
        b[static_cast<std::size_t>(i + 4)] = static_cast<std::uint8_t>(~byte);
        b[static_cast<std::size_t>(i + 8)] = byte;
    }
    b[12] = address;
    b[13] = static_cast<std::uint8_t>(~address);
    b[14] = address;
    b[15] = static_cast<std::uint8_t>(~address);
    return b;
}

std::optional<std::int32_t> MifareClassic::ParseValue(const Block &b) {
    for (std::size_t i = 0; i < 4; ++i) {
        if (b[i] != b[i + 8] || b[i] != static_cast<std::uint8_t>(~b[i + 4])) return std::nullopt;
    }
    if (b[12] != b[14] || b[13] != b[15] || b[12] != static_cast<std::uint8_t>(~b[13])) return std::nullopt;
    const std::uint32_t v = static_cast<std::uint32_t>(b[0]) | static_cast<std::uint32_t>(b[1]) << 8 |
                            static_cast<std::uint32_t>(b[2]) << 16 | static_cast<std::uint32_t>(b[3]) << 24;
    return static_cast<std::int32_t>(v);
}

std::uint8_t MifareClassic::WriteValue(int block, std::int32_t value) {
    std::uint8_t st = CheckAccess(block);
    if (st == status::kOk && (block == 0 || IsTrailer(block) || !DataAllowedNow(block, DataOp::Write)))
        st = status::kCardRefused;
    if (st != status::kOk) {
        Fail();
        return st;
    }
    raw(block) = ValueBlock(value, static_cast<std::uint8_t>(block));
    return status::kOk;
}

// The value held by `block` for operation `op`: the access conditions must
// allow it and the block must be in value format. A refusal costs the
// authentication, as on a card.
std::uint8_t MifareClassic::ValueFor(int block, DataOp op, std::int32_t &value) {
    std::uint8_t st = CheckAccess(block);
    const bool writes = op != DataOp::Read;
    if (st == status::kOk && ((writes && block == 0) || IsTrailer(block) || !DataAllowedNow(block, op)))
        st = status::kCardRefused;
    std::optional<std::int32_t> parsed;
    if (st == status::kOk) {
        parsed = ParseValue(raw(block));
        if (!parsed) st = status::kBadCardData;
    }
    if (st != status::kOk) {
        Fail();
        return st;
    }
    value = *parsed;
    return status::kOk;
}

std::uint8_t MifareClassic::ReadValue(int block, std::int32_t &value) { return ValueFor(block, DataOp::Read, value); }

std::uint8_t MifareClassic::ChangeValue(int block, bool increment, std::int32_t amount) {
    std::int32_t current = 0;
    const std::uint8_t st = ValueFor(block, increment ? DataOp::Increment : DataOp::Decrement, current);
    if (st != status::kOk) return st;
    const std::int64_t result = static_cast<std::int64_t>(current) + (increment ? amount : -static_cast<std::int64_t>(amount));
    if (result > std::numeric_limits<std::int32_t>::max() || result < std::numeric_limits<std::int32_t>::min()) {
        // The value would wrap round: refused, the block keeps its value.
        return status::kBadParameter;
    }
    raw(block) = ValueBlock(static_cast<std::int32_t>(result), raw(block)[12]);
    return status::kOk;
}

}  // namespace sim
