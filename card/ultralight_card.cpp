#include "card/ultralight_card.h"

#include <algorithm>

namespace zelkor::card {

namespace {

constexpr int kLastStartPage = 0xFF;  // the page number travels as one byte
constexpr int kFirstDynamicLockedPage = 16;

Page PageOf(const Block &data, int index) {
    Page page{};
    std::copy_n(data.begin() + static_cast<std::ptrdiff_t>(index * kPageSize), kPageSize, page.begin());
    return page;
}

// The pages read so far and where the card stopped answering.
class PageReader {
public:
    PageReader(CardLink &link, const ProgressFn &progress, std::stop_token stop)
        : link_(link), progress_(progress), stop_(std::move(stop)) {}

    // Four pages, or nothing after a refusal (the card is selected again).
    std::optional<Block> Read(int first_page) {
        if (stop_.stop_requested()) {
            cancelled_ = true;
            return std::nullopt;
        }
        if (lost()) return std::nullopt;  // nothing is read of another card
        auto data = link_.ReadPages(first_page);
        if (data) return data;
        found_ = link_.Reselect();
        return std::nullopt;
    }
    void Report(int done, int total) const {
        if (progress_) progress_(Progress{Stage::Dump, done, total, -1, 0, {}});
    }
    bool stopped() const { return cancelled_ || lost(); }
    bool cancelled() const { return cancelled_; }
    bool lost() const { return !found_; }
    const Reselection &found() const { return found_; }

private:
    CardLink &link_;
    const ProgressFn &progress_;
    std::stop_token stop_;
    bool cancelled_ = false;
    Reselection found_{Selection::SameCard, {}};  // by the last new selection
};

// The first page that refuses to start a read, between `after` (which did
// not) + 1 and `refused`.
int FirstRefusedPage(PageReader &reader, int after, int refused) {
    for (int page = after + 1; page < refused; ++page) {
        if (!reader.Read(page)) return page;
    }
    return refused;
}

UltraLightKind KindOfReadablePages(std::optional<UltraLightKind> by_container, int readable, bool &certain) {
    certain = true;
    if (by_container && readable <= PageCount(*by_container)) return *by_container;
    if (const auto kind = UltraLightKindOfPageCount(readable)) return *kind;
    certain = false;
    for (const UltraLightKind kind : kUltraLightKinds) {
        if (PageCount(kind) >= readable) return kind;
    }
    return kUltraLightKinds.back();
}

}  // namespace

std::optional<UltraLightRead> ReadUltraLight(CardLink &link, const CardIdentity &identity, const ProgressFn &progress,
                                             std::stop_token stop) {
    PageReader reader(link, progress, std::move(stop));
    std::vector<Page> pages;
    const auto first = reader.Read(0);
    if (!first) return std::nullopt;
    for (int i = 0; i < kPagesPerRead; ++i) pages.push_back(PageOf(*first, i));
    const auto by_container = NtagOfCapabilityContainer(pages[3]);
    const int expected = by_container ? PageCount(*by_container) : kMaxUltraLightPages;

    int readable = kPagesPerRead;
    for (int start = kPagesPerRead; start <= kLastStartPage; start += kPagesPerRead) {
        reader.Report(start, expected);
        const auto data = reader.Read(start);
        if (!data) {
            if (reader.stopped()) break;
            readable = FirstRefusedPage(reader, start - kPagesPerRead, start);
            break;
        }
        for (int i = 0; i < kPagesPerRead; ++i) pages.push_back(PageOf(*data, i));
        readable = start + kPagesPerRead;
    }

    UltraLightRead result;
    result.cancelled = reader.cancelled();
    result.card_lost = reader.lost();
    if (reader.lost()) result.lost = reader.found();
    result.readable_pages = std::min<int>(readable, static_cast<int>(pages.size()));
    result.image = UltraLightImage::Blank(KindOfReadablePages(by_container, result.readable_pages, result.kind_certain));
    const int taken = std::min(result.readable_pages, result.image.page_count());
    for (int page = 0; page < taken; ++page) result.image.SetPage(page, pages[static_cast<std::size_t>(page)]);
    result.refused_pages = !result.cancelled && !result.card_lost && taken < result.image.page_count();
    result.image.partial = taken < result.image.page_count();
    result.image.uid = result.image.UidOfPages().value_or(identity.uid);
    result.image.atqa = identity.atqa;
    result.image.sak = identity.sak;
    reader.Report(taken, result.image.page_count());
    return result;
}

std::vector<StepGroup<UltraLightStep>> GroupByReason(std::span<const UltraLightStep> steps, bool (*include)(const UltraLightStep &)) {
    return GroupSteps(steps, include,
                      [](const UltraLightStep &a, const UltraLightStep &b) { return a.reason == b.reason && a.fatal == b.fatal; },
                      [](const UltraLightStep &step) { return step.page; });
}

bool UltraLightPlan::HasFatal() const {
    return std::any_of(steps.begin(), steps.end(), [](const UltraLightStep &step) { return step.fatal; });
}

int UltraLightPlan::WriteCount() const {
    return static_cast<int>(std::count_if(steps.begin(), steps.end(), [](const UltraLightStep &step) { return step.write; }));
}

int UltraLightPlan::SkipCount() const {
    return static_cast<int>(std::count_if(steps.begin(), steps.end(),
                                          [](const UltraLightStep &step) { return step.page >= 0 && !step.write; }));
}

namespace {

UltraLightStepReason ReasonOfRole(PageRole role) {
    switch (role) {
    case PageRole::Uid: return UltraLightStepReason::UidPage;
    case PageRole::UidCheckAndLock: return UltraLightStepReason::LockBytes;
    case PageRole::Otp: return UltraLightStepReason::OneTimeProgrammable;
    case PageRole::CapabilityContainer: return UltraLightStepReason::CapabilityContainer;
    case PageRole::DynamicLock: return UltraLightStepReason::DynamicLock;
    case PageRole::User: return UltraLightStepReason::None;
    case PageRole::Configuration:
    case PageRole::Password:
    case PageRole::PasswordAck: return UltraLightStepReason::Configuration;
    }
    return UltraLightStepReason::Configuration;
}

UltraLightStep PlanUserPage(const UltraLightImage &file, const UltraLightImage &card_now, int page) {
    const auto i = static_cast<std::size_t>(page);
    if (file.known_mask[i] == 0) return {page, false, false, UltraLightStepReason::UnknownInFile};
    if (!file.PageKnown(page)) return {page, false, true, UltraLightStepReason::PartlyKnownInFile};
    if (!card_now.PageKnown(page) || !card_now.PageKnown(2)) return {page, false, true, UltraLightStepReason::UnreadableOnCard};
    // The dynamic lock bytes cover the pages after the static ones' last.
    std::optional<Page> dynamic_lock;
    if (const auto lock_page = DynamicLockPage(card_now.kind); lock_page && page >= kFirstDynamicLockedPage) {
        if (!card_now.PageKnown(*lock_page)) return {page, false, true, UltraLightStepReason::UnreadableOnCard};
        dynamic_lock = card_now.pages[static_cast<std::size_t>(*lock_page)];
    }
    if (PageLocked(card_now.kind, card_now.pages[2], dynamic_lock, page)) {
        const bool same = card_now.pages[i] == file.pages[i];
        return {page, false, !same, same ? UltraLightStepReason::LockedSame : UltraLightStepReason::LockedOnCard};
    }
    return {page, true, false, UltraLightStepReason::None};
}

}  // namespace

UltraLightPlan PlanUltraLightRestore(const UltraLightImage &file, const UltraLightImage &card_now, bool force) {
    UltraLightPlan plan;
    plan.file = file;
    if (file.kind != card_now.kind) {
        plan.steps.push_back({-1, false, true, UltraLightStepReason::KindDiffers});
        return plan;
    }
    if (!file.uid.empty() && !card_now.uid.empty() && file.uid != card_now.uid)
        plan.steps.push_back({-1, false, !force, UltraLightStepReason::UidDiffers});
    for (int page = 0; page < file.page_count(); ++page) {
        const PageRole role = RoleOfPage(file.kind, page);
        if (role == PageRole::User) {
            plan.steps.push_back(PlanUserPage(file, card_now, page));
        } else {
            plan.steps.push_back({page, false, false, ReasonOfRole(role)});
        }
    }
    return plan;
}

namespace {

void ReselectAfterFailure(CardLink &link, UltraLightRestoreReport &report) {
    if (Reselection found = link.Reselect(); !found) report.lost = std::move(found);
}

}  // namespace

UltraLightRestoreReport RestoreUltraLight(CardLink &link, const UltraLightPlan &plan, const ProgressFn &progress,
                                          std::stop_token stop) {
    UltraLightRestoreReport report;
    report.skipped = plan.SkipCount();
    if (plan.HasFatal()) {
        report.refused = true;
        return report;
    }
    const int total = plan.WriteCount();
    for (const UltraLightStep &step : plan.steps) {
        if (!step.write) continue;
        if (stop.stop_requested()) {
            report.cancelled = true;
            break;
        }
        if (progress) progress(Progress{Stage::Restore, report.written, total, -1, 0, {}});
        const Page &data = plan.file.pages[static_cast<std::size_t>(step.page)];
        if (!link.WritePage(step.page, data)) {
            report.failures.push_back({step.page, PageFailureReason::WriteRefused});
            ReselectAfterFailure(link, report);
            break;
        }
        ++report.written;
        const auto back = link.ReadPages(step.page);
        if (!back || PageOf(*back, 0) != data) {
            report.failures.push_back({step.page, back ? PageFailureReason::ReadBackDiffers : PageFailureReason::ReadBackFailed});
            // Bytes that differ may be another card's answer: find out which card is there.
            ReselectAfterFailure(link, report);
            break;
        }
        ++report.verified;
    }
    if (progress) progress(Progress{Stage::Restore, report.written, total, -1, 0, {}});
    return report;
}

}  // namespace zelkor::card
