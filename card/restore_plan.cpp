// The pre-check of a restore: what would be written, with which key, and
// every reason something cannot be. Pure: it looks only at the file and at
// the card as read with its known keys.
#include <algorithm>

#include "card/access_conditions.h"
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

bool RestoreStep::SameReason(const RestoreStep &other) const {
    return action == other.action && code == other.code && fatal == other.fatal && forced == other.forced &&
           sector == other.sector && condition == other.condition && writer == other.writer && bytes == other.bytes &&
           uid == other.uid && file_uid == other.file_uid && file_kind == other.file_kind && card_kind == other.card_kind;
}

std::vector<StepGroup<RestoreStep>> GroupByReason(std::span<const RestoreStep> steps, bool (*include)(const RestoreStep &)) {
    return GroupSteps(steps, include, [](const RestoreStep &a, const RestoreStep &b) { return a.SameReason(b); },
                      [](const RestoreStep &step) { return step.block; });
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
                Skip(block, StepCode::ManufacturerBlock);
            } else if (IsTrailer(block)) {
                PlanTrailer(block);
            } else {
                PlanData(block);
            }
        }
        return plan_;
    }

private:
    RestoreStep &Add(int block, StepAction action, std::optional<KeyType> key, StepCode code, bool fatal) {
        RestoreStep &step = plan_.steps.emplace_back();
        step.block = block;
        step.action = action;
        step.key = key;
        step.code = code;
        step.fatal = fatal;
        return step;
    }
    // A skipped block whose reason takes arguments, for them to be filled in.
    RestoreStep &SkipWith(int block, StepCode code, bool fatal) { return Add(block, StepAction::Skip, std::nullopt, code, fatal); }
    void Skip(int block, StepCode code, bool fatal = false) { SkipWith(block, code, fatal); }
    RestoreStep &Write(int block, KeyType key, StepCode note = StepCode::None) {
        return Add(block, StepAction::Write, key, note, false);
    }
    const SectorKeys &CardKeys(int sector) const { return plan_.card_keys[static_cast<std::size_t>(sector)]; }

    void CheckCard() {
        if (file_.kind != card_.kind) {
            const bool larger = file_.block_count() > card_.block_count();
            RestoreStep &step = SkipWith(-1, larger ? StepCode::FileTooLarge : StepCode::KindDiffers, larger);
            step.file_kind = file_.kind;
            step.card_kind = card_.kind;
        }
        if (!file_.uid.empty() && !card_.uid.empty() && file_.uid != card_.uid) {
            RestoreStep &step = SkipWith(-1, StepCode::UidDiffers, !options_.force);
            step.forced = options_.force;
            step.file_uid = file_.uid;
            step.uid = card_.uid;
        }
        if (file_.uid.empty() && !card_.uid.empty()) {
            RestoreStep &step = SkipWith(-1, StepCode::UidUnknown, !options_.force);
            step.forced = options_.force;
            step.uid = card_.uid;
        }
    }

    // Current access bits of the card's sector, or why they are no use.
    std::optional<DecodedAccess> CardAccess(int sector, StepCode &problem) const {
        const auto bytes = card_.AccessBytes(sector);
        if (!bytes) {
            problem = StepCode::AccessBitsUnknown;
            return std::nullopt;
        }
        const DecodedAccess access = DecodeAccessBytes(*bytes);
        if (!access.consistent()) {
            problem = StepCode::AccessBitsInconsistent;
            return std::nullopt;
        }
        return access;
    }
    void SkipForAccess(int block, StepCode problem) { SkipWith(block, problem, true).sector = SectorOfBlock(block); }

    // A known key of the sector that `access` allows; key A first.
    std::optional<KeyType> KnownKeyAllowed(int sector, Access access) const {
        for (const KeyType type : {KeyType::A, KeyType::B}) {
            if (CardKeys(sector).Of(type) && Allows(access, type)) return type;
        }
        return std::nullopt;
    }

    void PlanData(int block) {
        const auto i = static_cast<std::size_t>(block);
        if (file_.BlockUnknown(block)) return Skip(block, StepCode::NotInFile);
        if (!file_.BlockKnown(block)) return Skip(block, StepCode::BytesUnknownInFile, true);
        if (card_.BlockKnown(block) && card_.blocks[i] == file_.blocks[i]) return Skip(block, StepCode::AlreadyOnCard);
        const int sector = SectorOfBlock(block);
        StepCode problem = StepCode::None;
        const auto access = CardAccess(sector, problem);
        if (!access) return SkipForAccess(block, problem);
        const Condition condition = access->conditions[static_cast<std::size_t>(AccessPositionOfBlock(block))];
        const Access write = DataRightsOf(condition, access->conditions[3]).write;
        if (write == Access::Never) {
            SkipWith(block, StepCode::ReadOnly, true).condition = condition;
            return;
        }
        const auto key = KnownKeyAllowed(sector, write);
        if (!key) {
            SkipWith(block, StepCode::WriteKeyUnknown, true).writer = write;
            return;
        }
        Write(block, *key);
    }

    void PlanTrailer(int block) {
        const int sector = SectorOfBlock(block);
        if (!options_.trailers) return Skip(block, StepCode::TrailerNeedsOption);
        if (file_.BlockUnknown(block)) return Skip(block, StepCode::TrailerNotInFile);
        if (!file_.BlockKnown(block)) return Skip(block, StepCode::TrailerBytesUnknown, true);
        const Block &wanted = file_.blocks[static_cast<std::size_t>(block)];
        const DecodedAccess next = DecodeAccessBytes(std::span<const std::uint8_t>(wanted.data() + 6, 4));
        if (!next.consistent()) {
            SkipWith(block, StepCode::TrailerAccessInconsistent, true).bytes.assign(wanted.begin() + 6, wanted.begin() + 10);
            return;
        }
        StepCode problem = StepCode::None;
        const auto now = CardAccess(sector, problem);
        if (!now) return SkipForAccess(block, problem);
        const Changes changes = ChangesOf(sector, wanted);
        if (!changes.any()) return Skip(block, StepCode::TrailerAlreadyOnCard);
        const auto key = TrailerWriter(sector, now->conditions[3], changes);
        if (!key) return Skip(block, StepCode::TrailerKeyNotAllowed, true);
        if (!AccessBitsWritableAgain(next.conditions[3])) {
            RestoreStep &step = options_.force ? Write(block, *key, StepCode::AccessBitsFrozen)
                                               : SkipWith(block, StepCode::AccessBitsFrozen, true);
            step.forced = options_.force;
            step.condition = next.conditions[3];
            return;
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
