#include "cli/toolkit_text.h"

#include "card/hex.h"
#include "words/plan_text.h"
#include "words/toolkit_words.h"

namespace zelkor::cli {

using words::Language;

nlohmann::json LossJson(const card::Reselection &found) {
    const std::string code(words::CodeName(found.outcome));
    return {{"reason", code}, {"code", code}, {"found_uid", card::ToHex(found.uid)}};
}

nlohmann::json PlanJson(const card::RestorePlan &plan) {
    nlohmann::json steps = nlohmann::json::array();
    for (const auto &step : plan.steps) {
        nlohmann::json entry = {{"block", step.block},
                                {"action", step.action == card::StepAction::Write ? "write" : "skip"},
                                {"fatal", step.fatal}};
        if (step.key) entry["key"] = std::string(1, card::KeyLetter(*step.key));
        if (step.code != card::StepCode::None) {
            entry["reason"] = words::Text(step, Language::English);
            entry["code"] = words::CodeName(step.code);
        }
        if (step.sector >= 0) entry["sector"] = step.sector;
        if (!step.uid.empty()) entry["card_uid"] = card::ToHex(step.uid);
        if (!step.file_uid.empty()) entry["file_uid"] = card::ToHex(step.file_uid);
        if (step.forced) entry["forced"] = true;
        steps.push_back(entry);
    }
    return steps;
}

nlohmann::json PlanJson(const card::UltraLightPlan &plan) {
    nlohmann::json steps = nlohmann::json::array();
    for (const auto &step : plan.steps) {
        nlohmann::json entry = {{"page", step.page}, {"action", step.write ? "write" : "skip"}, {"fatal", step.fatal}};
        if (step.reason != card::UltraLightStepReason::None) {
            entry["reason"] = words::Text(step.reason, Language::English);
            entry["code"] = words::CodeName(step.reason);
        }
        steps.push_back(entry);
    }
    return steps;
}

namespace {
std::string Colon() { return ProgramLanguage() == Language::Chinese ? "：" : ": "; }
}  // namespace

std::string FailureNote(const card::BlockFailure &failure) {
    return words::BlockName(failure.block, ProgramLanguage()) + Colon() + words::Text(failure, ProgramLanguage());
}

std::string FailureNote(const card::PageFailure &failure) {
    const std::string page = ProgramLanguage() == Language::Chinese ? "页 " : "page ";
    return page + std::to_string(failure.page) + Colon() + words::Text(failure.reason, ProgramLanguage());
}

nlohmann::json FailureJson(const card::BlockFailure &failure) {
    nlohmann::json out = {{"block", failure.block},
                          {"message", words::Text(failure, Language::English)},
                          {"code", words::CodeName(failure.code)}};
    if (failure.code == card::BlockFailureCode::KeyNotAccepted) out["key"] = std::string(1, card::KeyLetter(failure.key));
    return out;
}

nlohmann::json FailureJson(const card::PageFailure &failure) {
    return {{"page", failure.page},
            {"message", words::Text(failure.reason, Language::English)},
            {"code", words::CodeName(failure.reason)}};
}

std::string WarningText(const card::FileWarning &warning) { return words::Text(warning, ProgramLanguage()); }
std::string WarningText(const card::UltraLightFileNote &note) { return words::Text(note, ProgramLanguage()); }

nlohmann::json WarningJson(const card::FileWarning &warning) {
    nlohmann::json out = {{"code", words::CodeName(warning.code)}, {"message", words::Text(warning, Language::English)}};
    if (!warning.sectors.empty()) out["sectors"] = warning.sectors;
    if (warning.code == card::FileWarningCode::UnknownBytesWrittenAsZeros) out["blocks"] = warning.count;
    return out;
}

nlohmann::json WarningJson(const card::UltraLightFileNote &note) {
    nlohmann::json out = {{"code", words::CodeName(note.warning)}, {"message", words::Text(note, Language::English)}};
    if (!note.pages.empty()) out["pages"] = note.pages;
    return out;
}

std::optional<int> EndsWithPlan(Program &program, const std::string &plan_text, bool fatal, bool dry_run,
                                const nlohmann::json &out) {
    program.Note(plan_text);
    if (fatal) NoteFatalPlan(program);
    if (!fatal && !dry_run) return std::nullopt;
    if (program.json()) program.Result(out.dump(2) + "\n");
    return fatal ? kExitFailure : kExitSuccess;
}

}  // namespace zelkor::cli
