// The pre-check of a restore: what would be written, with which key, and
// every reason something cannot be. Pure: it looks only at the file and at
// the card as read with its known keys.
#include <algorithm>

#include "card/access_conditions.h"
#include "card/hex.h"
#include "card/restore.h"

namespace zelkor::card {

bool RestorePlan::HasFatal() const {
    return std::any_of(steps.begin(), steps.end(), [](const RestoreStep &s) { return s.fatal; });
}

int RestorePlan::WriteCount() const {
    return static_cast<int>(std::count_if(steps.begin(), steps.end(), [](const RestoreStep &s) { return s.action == StepAction::Write; }));
}

int RestorePlan::SkipCount() const {
    return static_cast<int>(std::count_if(steps.begin(), steps.end(), [](const RestoreStep &s) {
        return s.block >= 0 && s.action == StepAction::Skip;
    }));
}

namespace {

class Planner {
public:
    Planner(const CardImage &file, const CardImage &card, const RestoreOptions &options)
        : file_(file), card_(card), options_(options) {
        plan_.file = file;
        plan_.card_keys = card.keys;
        plan_.card_keys.resize(static_cast<std::size_t>(card.sector_count()));
    }

    RestorePlan Run() {
        CheckCard();
        const int blocks = std::min(file_.block_count(), card_.block_count());
        for (int block = 0; block < blocks; ++block) {
            if (block == kManufacturerBlock) {
                Skip(block, "manufacturer block: never written");
            } else if (IsTrailer(block)) {
                PlanTrailer(block);
            } else {
                PlanData(block);
            }
        }
        return plan_;
    }

private:
    RestoreStep &Add(int block, StepAction action, std::optional<KeyType> key, std::string reason, bool fatal) {
        RestoreStep &step = plan_.steps.emplace_back();
        step.block = block;
        step.action = action;
        step.key = key;
        step.reason = std::move(reason);
        step.fatal = fatal;
        return step;
    }
    void Skip(int block, std::string reason, bool fatal = false) {
        Add(block, StepAction::Skip, std::nullopt, std::move(reason), fatal);
    }
    void Write(int block, KeyType key, std::string note = {}) { Add(block, StepAction::Write, key, std::move(note), false); }
    const SectorKeys &CardKeys(int sector) const { return plan_.card_keys[static_cast<std::size_t>(sector)]; }

    void CheckCard() {
        if (file_.kind != card_.kind) {
            const bool larger = file_.block_count() > card_.block_count();
            Skip(-1, "the file is a " + std::string(KindName(file_.kind)) + " dump, the card a " +
                         std::string(KindName(card_.kind)) + " card" + (larger ? ": the file does not fit" : ": only the file's blocks are written"),
                 larger);
        }
        if (!file_.uid.empty() && !card_.uid.empty() && file_.uid != card_.uid) {
            const std::string text = "UID " + ToHex(file_.uid) + " in the file, " + ToHex(card_.uid) + " on the card";
            Skip(-1, options_.force ? text + " (forced)" : text + ": needs force", !options_.force);
        }
        if (file_.uid.empty() && !card_.uid.empty()) {
            RestoreStep &step = Add(-1, StepAction::Skip, std::nullopt, {}, !options_.force);
            step.code = StepCode::UidUnknown;
            step.forced = options_.force;
            step.uid = card_.uid;
        }
    }

    // Current access bits of the card's sector, or the reason they are no use.
    std::optional<DecodedAccess> CardAccess(int sector, std::string &problem) const {
        const auto bytes = card_.AccessBytes(sector);
        if (!bytes) {
            problem = "access bits of sector " + std::to_string(sector) + " unknown: no key read its trailer";
            return std::nullopt;
        }
        const DecodedAccess access = DecodeAccessBytes(*bytes);
        if (!access.consistent()) {
            problem = "sector " + std::to_string(sector) + " is blocked by inconsistent access bits";
            return std::nullopt;
        }
        return access;
    }

    // A known key of the sector that `access` allows; key A first.
    std::optional<KeyType> KnownKeyAllowed(int sector, Access access) const {
        for (const KeyType type : {KeyType::A, KeyType::B}) {
            if (CardKeys(sector).Of(type) && Allows(access, type)) return type;
        }
        return std::nullopt;
    }

    void PlanData(int block) {
        const auto i = static_cast<std::size_t>(block);
        if (file_.BlockUnknown(block)) return Skip(block, "not in the file (unknown)");
        if (!file_.BlockKnown(block)) return Skip(block, "bytes unknown in the file", true);
        if (card_.BlockKnown(block) && card_.blocks[i] == file_.blocks[i]) return Skip(block, "the card already holds these bytes");
        const int sector = SectorOfBlock(block);
        std::string problem;
        const auto access = CardAccess(sector, problem);
        if (!access) return Skip(block, problem, true);
        const Condition condition = access->conditions[static_cast<std::size_t>(AccessPositionOfBlock(block))];
        const Access write = DataRightsOf(condition, access->conditions[3]).write;
        if (write == Access::Never) return Skip(block, "block is read-only (access bits " + ConditionBits(condition) + ")", true);
        const auto key = KnownKeyAllowed(sector, write);
        if (!key) return Skip(block, "key with write access not known (" + std::string(AccessName(write)) + " may write)", true);
        Write(block, *key);
    }

    void PlanTrailer(int block) {
        const int sector = SectorOfBlock(block);
        if (!options_.trailers) return Skip(block, "trailer: written only with the trailers option");
        if (file_.BlockUnknown(block)) return Skip(block, "trailer not in the file (unknown)");
        if (!file_.BlockKnown(block)) return Skip(block, "trailer bytes unknown in the file (a key not found)", true);
        const Block &wanted = file_.blocks[static_cast<std::size_t>(block)];
        const DecodedAccess next = DecodeAccessBytes(std::span<const std::uint8_t>(wanted.data() + 6, 4));
        if (!next.consistent()) return Skip(block, "inconsistent access bytes " + ToHex(std::span(wanted.data() + 6, 4)) + ": never written", true);
        std::string problem;
        const auto now = CardAccess(sector, problem);
        if (!now) return Skip(block, problem, true);
        const Changes changes = ChangesOf(sector, wanted);
        if (!changes.any()) return Skip(block, "the card already holds this trailer");
        const auto key = TrailerWriter(sector, now->conditions[3], changes);
        if (!key) return Skip(block, "access conditions do not let a known key write this trailer", true);
        if (!AccessBitsWritableAgain(next.conditions[3])) {
            if (!options_.force) return Skip(block, "access bits " + ConditionBits(next.conditions[3]) + " can never be changed again: needs force", true);
            return Write(block, *key, "access bits can never be changed again (forced)");
        }
        Write(block, *key);
    }

    struct Changes {
        bool key_a = true, access = true, key_b = true;
        bool any() const { return key_a || access || key_b; }
    };

    // Parts of the trailer that change; an unknown current key counts as changing.
    Changes ChangesOf(int sector, const Block &wanted) const {
        Changes c;
        const SectorKeys &keys = CardKeys(sector);
        const auto part = [&wanted](int from) { return Key{wanted[static_cast<std::size_t>(from)], wanted[static_cast<std::size_t>(from + 1)], wanted[static_cast<std::size_t>(from + 2)], wanted[static_cast<std::size_t>(from + 3)], wanted[static_cast<std::size_t>(from + 4)], wanted[static_cast<std::size_t>(from + 5)]}; };
        c.key_a = !keys.a || *keys.a != part(0);
        c.key_b = !keys.b || *keys.b != part(10);
        const auto access = card_.AccessBytes(sector);
        c.access = !access || !std::equal(access->begin(), access->end(), wanted.begin() + 6);
        return c;
    }

    std::optional<KeyType> TrailerWriter(int sector, Condition condition, const Changes &changes) const {
        const TrailerRights rights = TrailerRightsOf(condition);
        for (const KeyType type : {KeyType::A, KeyType::B}) {
            if (!CardKeys(sector).Of(type)) continue;
            if (changes.key_a && !Allows(rights.key_a_write, type)) continue;
            if (changes.access && !Allows(rights.access_bits_write, type)) continue;
            if (changes.key_b && !Allows(rights.key_b_write, type)) continue;
            return type;
        }
        return std::nullopt;
    }

    const CardImage &file_;
    const CardImage &card_;
    const RestoreOptions &options_;
    RestorePlan plan_;
};

}  // namespace

RestorePlan PlanRestore(const CardImage &file, const CardImage &card_now, const RestoreOptions &options) {
    return Planner(file, card_now, options).Run();
}

}  // namespace zelkor::card
