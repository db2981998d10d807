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

#include <iterator>
#include <optional>
#include <span>
#include <stop_token>
#include <string>
#include <vector>

#include "card/access_conditions.h"
#include "card/card_image.h"
#include "card/card_link.h"
#include "card/progress.h"
#include "card/step_groups.h"

namespace zelkor::card {

struct RestoreOptions {
    bool trailers = false;
    bool force = false;
};

enum class StepAction { Write, Skip };

// Why a step is skipped, or what a write must be warned of; the arguments are
// in the step's fields named beside each code.
enum class StepCode {
    None,                       // a plain write
    ManufacturerBlock,          // block 0: never written
    AlreadyOnCard,              // the card already holds these bytes
    NotInFile,                  // the file does not hold the block (unknown)
    BytesUnknownInFile,         // some of its bytes are unknown in the file
    AccessBitsUnknown,          // `sector`: no key read its trailer on the card
    AccessBitsInconsistent,     // `sector`: the card's access bits block it
    ReadOnly,                   // `condition`: the block's access bits on the card
    WriteKeyUnknown,            // `writer`: who may write; no such key is known
    TrailerNeedsOption,         // trailers are written only with the trailers option
    TrailerNotInFile,           // the file does not hold the trailer (unknown)
    TrailerBytesUnknown,        // a key of the trailer was not found
    TrailerAccessInconsistent,  // `bytes`: the file's access bytes, never written
    TrailerAlreadyOnCard,       // the card already holds this trailer
    TrailerKeyNotAllowed,       // no known key may write this trailer
    AccessBitsFrozen,           // `condition` can never be changed again; `forced`
    UidDiffers,                 // `file_uid` against `uid`, the card's; `forced`
    UidUnknown,                 // the file has no UID (no block 0) to compare with `uid`; `forced`
    KindDiffers,                // `file_kind` against `card_kind`: only the file's blocks are written
    FileTooLarge,               // `file_kind` against `card_kind`: the file does not fit
};
inline constexpr StepCode kAllStepCodes[] = {
    StepCode::None, StepCode::ManufacturerBlock, StepCode::AlreadyOnCard, StepCode::NotInFile,
    StepCode::BytesUnknownInFile, StepCode::AccessBitsUnknown, StepCode::AccessBitsInconsistent, StepCode::ReadOnly,
    StepCode::WriteKeyUnknown, StepCode::TrailerNeedsOption, StepCode::TrailerNotInFile, StepCode::TrailerBytesUnknown,
    StepCode::TrailerAccessInconsistent, StepCode::TrailerAlreadyOnCard, StepCode::TrailerKeyNotAllowed,
    StepCode::AccessBitsFrozen, StepCode::UidDiffers, StepCode::UidUnknown, StepCode::KindDiffers, StepCode::FileTooLarge,
};
static_assert(std::size(kAllStepCodes) == static_cast<std::size_t>(StepCode::FileTooLarge) + 1);

struct RestoreStep {
    int block = -1;  // -1: the card as a whole (UID, kind)
    StepAction action = StepAction::Skip;
    std::optional<KeyType> key;  // the key that writes it
    StepCode code = StepCode::None;
    bool fatal = false;   // blocks the whole restore
    bool forced = false;  // passed only because of `force`
    int sector = -1;
    Condition condition = 0;
    Access writer = Access::Never;
    std::vector<std::uint8_t> bytes;
    std::vector<std::uint8_t> uid;  // the card's
    std::vector<std::uint8_t> file_uid;
    CardKind file_kind = CardKind::Classic1K;
    CardKind card_kind = CardKind::Classic1K;

    // Same code and arguments: the same reason whatever the block.
    bool SameReason(const RestoreStep &other) const;
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

// Blocks of the steps `include` accepts that share a reason, in the order
// their first step appears.
std::vector<StepGroup<RestoreStep>> GroupByReason(std::span<const RestoreStep> steps, bool (*include)(const RestoreStep &));

// Why a block of a restore was not written, or not as wanted.
enum class BlockFailureCode {
    KeyNotAccepted,          // `key` was refused by the card
    WriteRefused,
    TrailerWriteRefused,
    ReadBackFailed,          // written, but reading it back failed
    ReadBackDiffers,         // written, but reads back different bytes
    NewKeyANotAccepted,      // a trailer written, but its new key A is refused
    TrailerReadBackDiffers,  // a trailer written, but its access bits or key B read back different
};
inline constexpr BlockFailureCode kAllBlockFailureCodes[] = {
    BlockFailureCode::KeyNotAccepted, BlockFailureCode::WriteRefused, BlockFailureCode::TrailerWriteRefused,
    BlockFailureCode::ReadBackFailed, BlockFailureCode::ReadBackDiffers, BlockFailureCode::NewKeyANotAccepted,
    BlockFailureCode::TrailerReadBackDiffers,
};
static_assert(std::size(kAllBlockFailureCodes) == static_cast<std::size_t>(BlockFailureCode::TrailerReadBackDiffers) + 1);

struct BlockFailure {
    int block = -1;
    BlockFailureCode code = BlockFailureCode::WriteRefused;
    KeyType key = KeyType::A;  // KeyNotAccepted
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
