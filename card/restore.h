// Writing a dump back onto a card: a pure plan (every problem listed before
// anything is written) and the run that writes, reads back and compares.
//
// Rules of the plan: the manufacturer block is never written; a block with
// bytes unknown in the file is not written (fatal); a block the card's access
// bits make read-only, or writable only with a key that is not known, is
// fatal unless the card already holds its bytes; trailers are written only
// with `trailers`; a trailer with inconsistent access bytes is never written
// (fatal); one whose access bits could never be written again needs `force`;
// so does a UID that differs from the card's, and a file without a UID.
#pragma once

#include <optional>
#include <stop_token>
#include <string>
#include <vector>

#include "card/card_image.h"
#include "card/card_link.h"
#include "card/progress.h"

namespace zelkor::card {

struct RestoreOptions {
    bool trailers = false;
    bool force = false;
};

enum class StepAction { Write, Skip };

// A step's reason when it is not the text in `reason`.
enum class StepCode {
    Text,        // `reason` says it
    UidUnknown,  // the file has no UID (no block 0): it cannot be compared with `uid`, the card's
};

struct RestoreStep {
    int block = -1;  // -1: the card as a whole (UID, kind)
    StepAction action = StepAction::Skip;
    std::optional<KeyType> key;  // the key that writes it
    std::string reason;          // why it is skipped, or a warning
    bool fatal = false;          // blocks the whole restore
    StepCode code = StepCode::Text;
    bool forced = false;               // passed only because of `force`
    std::vector<std::uint8_t> uid;     // UidUnknown: the card's UID
};

struct RestorePlan {
    CardImage file;   // what is to be written
    std::vector<SectorKeys> card_keys;  // keys known for the card now
    std::vector<RestoreStep> steps;     // card-wide issues first, then by block

    bool HasFatal() const;
    int WriteCount() const;
    int SkipCount() const;
};

// `card_now` is the card as read with its known keys (its trailers' access
// bytes decide the rights, its keys which of them can be used).
RestorePlan PlanRestore(const CardImage &file, const CardImage &card_now, const RestoreOptions &options);

struct BlockFailure {
    int block = -1;
    std::string message;
};

struct RestoreReport {
    int written = 0;
    int skipped = 0;
    int verified = 0;
    std::vector<int> written_blocks;  // in the order written, onto the card the plan was made for
    std::vector<BlockFailure> failures;
    bool cancelled = false;
    bool refused = false;  // the plan had fatal problems: nothing was written
    // Set when a new selection found another card, none, or no reader: the
    // run stopped there and wrote nothing more.
    std::optional<Reselection> lost;
    bool ok() const { return !refused && !cancelled && !lost && failures.empty(); }
};

// Writes every Write step of `plan` (data blocks before their trailer), reads
// each back and compares. Refuses a plan with fatal problems. The card is
// selected again before each sector and each trailer write and must be the
// card the link identified; the first failure to find it ends the run.
RestoreReport Restore(CardLink &link, const RestorePlan &plan, const ProgressFn &progress, std::stop_token stop);

}  // namespace zelkor::card
