// Running a restore plan: data blocks of a sector first, then its trailer
// (which may change the keys the data blocks need); every block written is
// read back and compared.
#include "card/restore.h"

#include <algorithm>

#include "card/access_conditions.h"

namespace zelkor::card {

namespace {

class RestoreRun {
public:
    RestoreRun(CardLink &link, const RestorePlan &plan, const ProgressFn &progress)
        : link_(link), plan_(plan), progress_(progress) {}

    RestoreReport Run(const std::stop_token &stop) {
        report_.skipped = plan_.SkipCount();
        std::vector<const RestoreStep *> writes;
        for (const RestoreStep &step : plan_.steps) {
            if (step.action == StepAction::Write) writes.push_back(&step);
        }
        // Within each sector the trailer goes last.
        std::stable_sort(writes.begin(), writes.end(), [](const RestoreStep *a, const RestoreStep *b) {
            const int sa = SectorOfBlock(a->block), sb = SectorOfBlock(b->block);
            if (sa != sb) return sa < sb;
            return !IsTrailer(a->block) && IsTrailer(b->block);
        });
        for (std::size_t i = 0; i < writes.size(); ++i) {
            const RestoreStep &step = *writes[i];
            const bool new_sector = i == 0 || SectorOfBlock(writes[i - 1]->block) != SectorOfBlock(step.block);
            if (!stop.stop_requested() && !report_.lost && (new_sector || IsTrailer(step.block))) ConfirmCard();
            if (stop.stop_requested() || report_.lost) {
                report_.cancelled = !report_.lost;
                report_.skipped += static_cast<int>(writes.size() - i);
                break;
            }
            if (IsTrailer(step.block)) {
                WriteTrailer(step);
            } else {
                WriteData(step);
            }
            if (progress_)
                progress_(Progress{Stage::Restore, static_cast<int>(i + 1), static_cast<int>(writes.size()), SectorOfBlock(step.block), authentications_, {}});
        }
        if (!report_.lost && !report_.cancelled && !writes.empty()) ConfirmCard();
        return report_;
    }

private:
    const Block &Wanted(int block) const { return plan_.file.blocks[static_cast<std::size_t>(block)]; }
    const std::optional<Key> &CardKey(int sector, KeyType type) const {
        return plan_.card_keys[static_cast<std::size_t>(sector)].Of(type);
    }

    // `write_sent`: the block may have changed on the card.
    void Fail(int block, BlockFailureCode code, bool write_sent = true, KeyType key = KeyType::A) {
        report_.failures.push_back({block, code, key});
        Reselect();  // a refused command leaves the card out of its session
        // A card or reader that is gone explains a refused authentication
        // better than the refusal does: the block counts as not written,
        // like those after it.
        if (report_.lost && !write_sent) {
            report_.failures.pop_back();
            ++report_.skipped;
        }
    }

    // A new selection that must find the card the plan was made for; nothing
    // is sent after it finds another card or none.
    void Reselect() {
        session_sector_ = -1;
        Reselection selection = link_.Reselect();
        just_selected_ = static_cast<bool>(selection);
        if (!selection) report_.lost = std::move(selection);
    }

    void ConfirmCard() {
        if (!just_selected_) Reselect();
    }

    void Written(int block) {
        ++report_.written;
        report_.written_blocks.push_back(block);
        just_selected_ = false;
    }

    bool Authenticate(int sector, KeyType type, const Key &key) {
        if (session_sector_ == sector && session_type_ == type && session_key_ == key) return true;
        ++authentications_;
        just_selected_ = false;
        if (!link_.Authenticate(sector, type, key)) return false;
        session_sector_ = sector;
        session_type_ = type;
        session_key_ = key;
        return true;
    }

    void WriteData(const RestoreStep &step) {
        const int sector = SectorOfBlock(step.block);
        const KeyType type = step.key.value_or(KeyType::A);
        const auto &key = CardKey(sector, type);
        if (!key || !Authenticate(sector, type, *key)) return Fail(step.block, BlockFailureCode::KeyNotAccepted, false, type);
        just_selected_ = false;
        if (!link_.WriteBlock(step.block, Wanted(step.block))) return Fail(step.block, BlockFailureCode::WriteRefused);
        Written(step.block);
        const auto back = link_.ReadBlock(step.block);
        if (!back) return Fail(step.block, BlockFailureCode::ReadBackFailed);
        if (*back != Wanted(step.block)) return Fail(step.block, BlockFailureCode::ReadBackDiffers);
        ++report_.verified;
    }

    void WriteTrailer(const RestoreStep &step) {
        const int sector = SectorOfBlock(step.block);
        const KeyType type = step.key.value_or(KeyType::A);
        const auto &key = CardKey(sector, type);
        const Block &wanted = Wanted(step.block);
        ++authentications_;
        session_sector_ = -1;
        just_selected_ = false;
        if (!key) return Fail(step.block, BlockFailureCode::TrailerWriteRefused, false);
        if (!link_.WriteTrailer(sector, wanted, type, *key)) return Fail(step.block, BlockFailureCode::TrailerWriteRefused);
        Written(step.block);
        VerifyTrailer(step.block, wanted);
    }

    // Key A as written opens the sector; the access bits (and key B where
    // readable) read back as written.
    void VerifyTrailer(int block, const Block &wanted) {
        const int sector = SectorOfBlock(block);
        const Key new_a{wanted[0], wanted[1], wanted[2], wanted[3], wanted[4], wanted[5]};
        if (!Authenticate(sector, KeyType::A, new_a)) return Fail(block, BlockFailureCode::NewKeyANotAccepted);
        const auto back = link_.ReadBlock(block);
        if (!back) return Fail(block, BlockFailureCode::ReadBackFailed);
        const DecodedAccess access = DecodeAccessBytes(std::span<const std::uint8_t>(wanted.data() + 6, 4));
        bool same = std::equal(wanted.begin() + 6, wanted.begin() + 10, back->begin() + 6);
        if (Allows(TrailerRightsOf(access.conditions[3]).key_b_read, KeyType::A))
            same = same && std::equal(wanted.begin() + 10, wanted.end(), back->begin() + 10);
        if (!same) return Fail(block, BlockFailureCode::TrailerReadBackDiffers);
        ++report_.verified;
    }

    CardLink &link_;
    const RestorePlan &plan_;
    const ProgressFn &progress_;
    RestoreReport report_;
    int authentications_ = 0;
    int session_sector_ = -1;  // -1: not authenticated
    KeyType session_type_ = KeyType::A;
    Key session_key_{};
    bool just_selected_ = false;  // nothing sent since a selection found the same card
};

}  // namespace

RestoreReport Restore(CardLink &link, const RestorePlan &plan, const ProgressFn &progress, std::stop_token stop) {
    if (plan.HasFatal()) {
        RestoreReport refused;
        refused.refused = true;
        refused.skipped = plan.SkipCount() + plan.WriteCount();
        return refused;
    }
    return RestoreRun(link, plan, progress).Run(stop);
}

}  // namespace zelkor::card
