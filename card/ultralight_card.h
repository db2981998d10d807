// Whole-card work on the UltraLight family through a CardLink: finding the
// kind and reading every readable page, a pure restore plan, and the restore
// that writes user pages and reads each back.
#pragma once

#include <iterator>
#include <optional>
#include <stop_token>
#include <vector>

#include "card/card_link.h"
#include "card/progress.h"
#include "card/step_groups.h"
#include "card/ultralight_image.h"

namespace zelkor::card {

struct UltraLightRead {
    UltraLightImage image;  // uid from pages 0 and 1, identity from `identity`
    // Pages from 0 up to the first start page the card refused.
    int readable_pages = 0;
    // The kind follows from the capability container or from where the card
    // stopped answering; false when the readable pages fit no size and the
    // kind is the smallest that holds them.
    bool kind_certain = true;
    // Pages the card holds but refused to read (behind its password).
    bool refused_pages = false;
    bool cancelled = false;
    bool card_lost = false;
    std::optional<Reselection> lost;  // with card_lost: what the new selection found
};

// Reads pages in steps of four until the card refuses a start page, then
// page by page to find the exact end; pages a read returned after the end
// (its wrap-round to page 0) are not taken. Nothing when page 0 cannot be
// read.
std::optional<UltraLightRead> ReadUltraLight(CardLink &link, const CardIdentity &identity, const ProgressFn &progress,
                                             std::stop_token stop);

enum class UltraLightStepReason {
    None,
    // Pages that are never written, by their role.
    UidPage,
    LockBytes,
    OneTimeProgrammable,
    CapabilityContainer,
    DynamicLock,
    Configuration,
    // Pages of the file.
    UnknownInFile,       // skipped: nothing of the page is known
    PartlyKnownInFile,   // fatal
    // Pages of the card.
    UnreadableOnCard,    // fatal: behind the password or past what could be read
    LockedSame,          // skipped: read-only and already holds the file's bytes
    LockedOnCard,        // fatal: read-only and holds other bytes
    // The card as a whole (page -1).
    KindDiffers,         // fatal
    UidDiffers,          // fatal without force, a note with it
};
inline constexpr UltraLightStepReason kAllUltraLightStepReasons[] = {
    UltraLightStepReason::None, UltraLightStepReason::UidPage, UltraLightStepReason::LockBytes,
    UltraLightStepReason::OneTimeProgrammable, UltraLightStepReason::CapabilityContainer, UltraLightStepReason::DynamicLock,
    UltraLightStepReason::Configuration, UltraLightStepReason::UnknownInFile, UltraLightStepReason::PartlyKnownInFile,
    UltraLightStepReason::UnreadableOnCard, UltraLightStepReason::LockedSame, UltraLightStepReason::LockedOnCard,
    UltraLightStepReason::KindDiffers, UltraLightStepReason::UidDiffers,
};
static_assert(std::size(kAllUltraLightStepReasons) == static_cast<std::size_t>(UltraLightStepReason::UidDiffers) + 1);

struct UltraLightStep {
    int page = -1;
    bool write = false;
    bool fatal = false;
    UltraLightStepReason reason = UltraLightStepReason::None;
};

struct UltraLightPlan {
    UltraLightImage file;
    std::vector<UltraLightStep> steps;  // card-wide first, then by page
    bool HasFatal() const;
    int WriteCount() const;
    int SkipCount() const;
};

// Pages of the steps `include` accepts that share a reason and fatality.
std::vector<StepGroup<UltraLightStep>> GroupByReason(std::span<const UltraLightStep> steps, bool (*include)(const UltraLightStep &));

// User pages (4 to the last user page) only; the rest is listed as skipped
// with its role.
UltraLightPlan PlanUltraLightRestore(const UltraLightImage &file, const UltraLightImage &card_now, bool force);

enum class PageFailureReason { WriteRefused, ReadBackFailed, ReadBackDiffers };
inline constexpr PageFailureReason kAllPageFailureReasons[] = {
    PageFailureReason::WriteRefused, PageFailureReason::ReadBackFailed, PageFailureReason::ReadBackDiffers};
static_assert(std::size(kAllPageFailureReasons) == static_cast<std::size_t>(PageFailureReason::ReadBackDiffers) + 1);
struct PageFailure {
    int page = -1;
    PageFailureReason reason = PageFailureReason::WriteRefused;
};

struct UltraLightRestoreReport {
    int written = 0;
    int verified = 0;
    int skipped = 0;
    std::vector<PageFailure> failures;
    bool cancelled = false;
    bool refused = false;  // the plan had fatal problems: nothing was written
    // A failure's new selection found another card, none or no reader.
    std::optional<Reselection> lost;
    bool ok() const { return !refused && !cancelled && failures.empty(); }
};

// Writes the plan's pages in order, reading each back; stops at the first
// failure.
UltraLightRestoreReport RestoreUltraLight(CardLink &link, const UltraLightPlan &plan, const ProgressFn &progress,
                                          std::stop_token stop);

}  // namespace zelkor::card
