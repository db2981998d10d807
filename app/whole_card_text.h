// Words of the whole-card page: keys, access conditions, value blocks and
// the restore plan, in the program's Chinese.
#pragma once

#include <QString>
#include <QStringList>

#include <optional>
#include <string>

#include "card/access_conditions.h"
#include "card/card_image.h"
#include "card/card_link.h"
#include "card/restore.h"
#include "card/value_block.h"
#include "words/toolkit_words.h"

// Twelve hexadecimal digits, or "未知".
QString KeyText(const std::optional<zelkor::card::Key> &key);
// "扇区 3\n密钥A：…\n密钥B：…".
QString SectorKeysToolTip(int sector, const zelkor::card::SectorKeys &keys);

// Who may do something: "从不", "密钥A", "密钥B", "密钥A或B".
QString AccessWords(zelkor::card::Access access);
// The trailer of `sector`: its keys and, where its access bytes are known,
// what each block position allows, in words.
QString TrailerToolTip(const zelkor::card::CardImage &image, int sector);
QString ValueBlockToolTip(int block, const zelkor::card::ValueBlockInfo &info);

// A code of the card toolkit (a reason in the restore plan, a restore
// failure, a warning on saving) in the program's words.
template <class... Code>
QString ToolkitWords(const Code &...code) {
    return QString::fromStdString(zelkor::words::Text(code..., zelkor::words::Language::Chinese));
}
// Why card work stopped when a new selection did not find the card with
// `uid`: another card, no card, or no reader.
QString CardLossWords(const zelkor::card::Reselection &found, const std::vector<std::uint8_t> &uid);
// Lists the plan for the operator: what will be written and what is skipped
// and why, grouped by reason.
QString RestorePlanText(const zelkor::card::RestorePlan &plan);
// Blocks as "1 2 4-6 8".
QString BlockRanges(const QList<int> &blocks);
