// The card toolkit's codes as the command-line program shows them: in the
// locale's language on standard error, and with their stable code names in
// --json (whose texts stay English for scripts). Also the end of a dump and
// of a restore, shared by MIFARE Classic and the UltraLight family.
#pragma once

#include <optional>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

#include "card/card_link.h"
#include "card/dump_formats.h"
#include "card/restore.h"
#include "card/ultralight_card.h"
#include "card/ultralight_formats.h"
#include "cli/card_work_notes.h"
#include "cli/output_files.h"
#include "cli/program.h"
#include "words/language.h"

namespace zelkor::cli {

nlohmann::json LossJson(const card::Reselection &found);
nlohmann::json PlanJson(const card::RestorePlan &plan);
nlohmann::json PlanJson(const card::UltraLightPlan &plan);

// "block 5: write refused", and its JSON entry.
std::string FailureNote(const card::BlockFailure &failure);
std::string FailureNote(const card::PageFailure &failure);
nlohmann::json FailureJson(const card::BlockFailure &failure);
nlohmann::json FailureJson(const card::PageFailure &failure);

std::string WarningText(const card::FileWarning &warning);
std::string WarningText(const card::UltraLightFileNote &note);
nlohmann::json WarningJson(const card::FileWarning &warning);
nlohmann::json WarningJson(const card::UltraLightFileNote &note);

// After saving a dump: each warning as "<where>: <text>", and where it went
// ("standard output" when it could not go to a file).
template <class Warning>
std::string NoteSaved(Program &program, const SavedResult &saved, const std::vector<Warning> &warnings) {
    const std::string written = WrittenName(program, saved);
    for (const auto &warning : warnings) program.Note(written + ": " + WarningText(warning));
    return written;
}

template <class Warning>
nlohmann::json WarningsJson(const std::vector<Warning> &warnings) {
    nlohmann::json out = nlohmann::json::array();
    for (const auto &warning : warnings) out.push_back(WarningJson(warning));
    return out;
}

// Shows the plan (and, with --json, `out`) and gives the exit status when the
// run ends with it: fatal problems, or a dry run.
std::optional<int> EndsWithPlan(Program &program, const std::string &plan_text, bool fatal, bool dry_run,
                                const nlohmann::json &out);

template <class Failure>
void NoteFailures(Program &program, const std::vector<Failure> &failures) {
    for (const auto &failure : failures) program.Note(FailureNote(failure));
}

template <class Report>
void AddRestoreJson(nlohmann::json &out, const Report &report) {
    nlohmann::json failures = nlohmann::json::array();
    for (const auto &failure : report.failures) failures.push_back(FailureJson(failure));
    out["written"] = report.written;
    out["skipped"] = report.skipped;
    out["verified"] = report.verified;
    out["failures"] = failures;
    out["cancelled"] = report.cancelled;
    if (report.lost) out["stopped"] = LossJson(*report.lost);
}

}  // namespace zelkor::cli
