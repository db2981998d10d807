// The card toolkit's codes in words: restore steps and failures, file
// warnings and why card work stopped, in English or Chinese (UTF-8), and a
// stable snake_case name per code for --json.
#pragma once

#include <span>
#include <string>
#include <string_view>

#include "card/card_link.h"
#include "card/dump_formats.h"
#include "card/progress.h"
#include "card/restore.h"
#include "card/step_groups.h"
#include "card/ultralight_card.h"
#include "card/ultralight_formats.h"
#include "words/language.h"

namespace zelkor::words {

// Why a step is skipped, or the warning of a write; empty for a plain write.
std::string Text(const card::RestoreStep &step, Language language);
std::string Text(const card::BlockFailure &failure, Language language);
std::string Text(const card::FileWarning &warning, Language language);
// Why card work on the card with `uid` stopped: what a new selection found.
std::string Text(const card::Reselection &found, std::span<const std::uint8_t> uid, Language language);
std::string Text(card::UltraLightStepReason reason, Language language);
std::string Text(card::PageFailureReason reason, Language language);
std::string Text(const card::UltraLightFileNote &note, Language language);
// What long card work is doing: "keys", "dump", "restore" in English.
std::string Text(card::Stage stage, Language language);

std::string_view CodeName(card::StepCode code);
std::string_view CodeName(card::BlockFailureCode code);
std::string_view CodeName(card::FileWarningCode code);
std::string_view CodeName(card::Selection selection);
std::string_view CodeName(card::UltraLightStepReason reason);
std::string_view CodeName(card::PageFailureReason reason);
std::string_view CodeName(card::UltraLightFileWarning warning);
std::string_view CodeName(card::Stage stage);

// Who may do something: "key A|B" in English, "密钥A或B" in Chinese.
std::string AccessText(card::Access access, Language language);
// "1-2, 6" with `separator` ", "; runs of the numbers as given.
std::string RangesText(std::span<const int> numbers, std::string_view separator);

}  // namespace zelkor::words
