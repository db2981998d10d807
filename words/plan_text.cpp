#include "words/plan_text.h"

#include "words/toolkit_words.h"

namespace zelkor::words {

namespace {

std::string FatalLine(const std::string &where, const std::string &reason, Language language) {
    return Say(language, "FATAL: " + where + ": ", "错误：" + where + "：") + reason + "\n";
}

std::string Label(bool skipped, const std::string &reason, Language language) {
    return (skipped ? Say(language, "skip: ", "跳过：") : Say(language, "note: ", "注意：")) + reason;
}

// " (blocks 1-2, 6)" after a label.
std::string Numbers(const std::vector<int> &numbers, const char *one, const char *many, const char *chinese, Language language) {
    const std::string ranges = RangesText(numbers, ", ");
    return Say(language, std::string(numbers.size() > 1 ? many : one) + ranges + ")", std::string(chinese) + ranges + "）");
}

bool GroupedInPlan(const card::RestoreStep &step) {
    return !step.fatal && step.block >= 0 && !(step.action == card::StepAction::Write && step.code == card::StepCode::None);
}

bool GroupedInUltraLightPlan(const card::UltraLightStep &step) { return !step.write && !step.fatal && step.page >= 0; }

}  // namespace

std::string BlockName(int block, Language language) {
    if (block < 0) return Say(language, "card", "卡片");
    return Say(language, "block ", "块 ") + std::to_string(block);
}

std::string PlanText(const card::RestorePlan &plan, Language language) {
    std::string text;
    for (const card::RestoreStep &step : plan.steps) {
        const std::string reason = Text(step, language);
        if (step.fatal) {
            text += FatalLine(BlockName(step.block, language), reason, language);
        } else if (step.block < 0) {
            text += Label(step.action == card::StepAction::Skip, reason, language) + "\n";
        }
    }
    for (const auto &group : card::GroupByReason(plan.steps, GroupedInPlan)) {
        text += Label(group.step->action == card::StepAction::Skip, Text(*group.step, language), language) +
                Numbers(group.numbers, " (block ", " (blocks ", "（块 ", language) + "\n";
    }
    const std::string writes = std::to_string(plan.WriteCount()), skips = std::to_string(plan.SkipCount());
    return text + Say(language, writes + " block(s) to write, " + skips + " to skip", "将写入 " + writes + " 块，跳过 " + skips + " 块");
}

std::string PlanText(const card::UltraLightPlan &plan, Language language) {
    std::string text;
    for (const card::UltraLightStep &step : plan.steps) {
        if (step.write) continue;
        const std::string reason = Text(step.reason, language);
        if (step.page < 0) {
            text += step.fatal ? FatalLine(Say(language, "card", "卡片"), reason, language) : Label(false, reason, language) + "\n";
        } else if (step.fatal) {
            text += FatalLine(Say(language, "page ", "页 ") + std::to_string(step.page), reason, language);
        }
    }
    for (const auto &group : card::GroupByReason(plan.steps, GroupedInUltraLightPlan)) {
        text += Label(true, Text(group.step->reason, language), language) +
                Numbers(group.numbers, " (page ", " (pages ", "（页 ", language) + "\n";
    }
    const std::string writes = std::to_string(plan.WriteCount()), skips = std::to_string(plan.SkipCount());
    return text + Say(language, writes + " page(s) to write, " + skips + " to skip", "将写入 " + writes + " 页，跳过 " + skips + " 页");
}

}  // namespace zelkor::words
