#include "app/whole_card_text.h"

#include <utility>

#include "card/hex.h"
#include "app/hex_text.h"

namespace card = zelkor::card;

QString KeyText(const std::optional<card::Key> &key) {
    return key ? QString::fromStdString(card::KeyToHex(*key)) : QStringLiteral("未知");
}

QString SectorKeysToolTip(int sector, const card::SectorKeys &keys) {
    return QStringLiteral("扇区 %1\n密钥A：%2\n密钥B：%3").arg(sector).arg(KeyText(keys.a), KeyText(keys.b));
}

QString AccessWords(card::Access access) {
    return QString::fromStdString(zelkor::words::AccessText(access, zelkor::words::Language::Chinese));
}

namespace {

QString PositionBlocks(int sector, int position) {
    const int first = card::FirstBlock(sector);
    if (position == 3) return QStringLiteral("控制块");
    if (card::BlocksInSector(sector) == 4) return QStringLiteral("块 %1").arg(first + position);
    return QStringLiteral("块 %1-%2").arg(first + 5 * position).arg(first + 5 * position + 4);
}

QString DataRightsText(const card::DataRights &rights) {
    return QStringLiteral("读 %1，写 %2，加值 %3，减值 %4")
        .arg(AccessWords(rights.read), AccessWords(rights.write), AccessWords(rights.increment),
             AccessWords(rights.decrement_transfer_restore));
}

QString TrailerRightsText(const card::TrailerRights &rights) {
    return QStringLiteral("写密钥A %1，读控制字 %2，写控制字 %3，读密钥B %4，写密钥B %5")
        .arg(AccessWords(rights.key_a_write), AccessWords(rights.access_bits_read),
             AccessWords(rights.access_bits_write), AccessWords(rights.key_b_read), AccessWords(rights.key_b_write));
}

QString AccessLines(int sector, const std::array<std::uint8_t, 4> &bytes) {
    const card::DecodedAccess access = card::DecodeAccessBytes(bytes);
    QString text = QStringLiteral("控制字：%1").arg(FormatHexBytes(bytes.data(), 4).trimmed());
    if (access.transport) text += QStringLiteral("（出厂控制字）");
    if (!access.consistent())
        return text + QStringLiteral("\n取反位与原位不一致：这不是有效的控制字，卡片会锁死整个扇区");
    const card::Condition trailer = access.conditions[3];
    for (int position = 0; position < 3; ++position) {
        text += QStringLiteral("\n%1（%2）：%3")
                    .arg(PositionBlocks(sector, position),
                         QString::fromStdString(card::ConditionBits(access.conditions[static_cast<size_t>(position)])),
                         DataRightsText(card::DataRightsOf(access.conditions[static_cast<size_t>(position)], trailer)));
    }
    text += QStringLiteral("\n控制块（%1）：%2")
                .arg(QString::fromStdString(card::ConditionBits(trailer)),
                     TrailerRightsText(card::TrailerRightsOf(trailer)));
    if (!card::AccessBitsWritableAgain(trailer)) text += QStringLiteral("\n控制字以后不能再修改");
    return text;
}

}  // namespace

QString TrailerToolTip(const card::CardImage &image, int sector) {
    const card::SectorKeys &keys = image.keys[static_cast<size_t>(sector)];
    QString text = QStringLiteral("扇区 %1 的控制块\n密钥A：%2\n密钥B：%3").arg(sector).arg(KeyText(keys.a), KeyText(keys.b));
    if (const auto bytes = image.AccessBytes(sector)) return text + QLatin1Char('\n') + AccessLines(sector, *bytes);
    return text + QStringLiteral("\n控制字：未知");
}

QString ValueBlockToolTip(int block, const card::ValueBlockInfo &info) {
    return QStringLiteral("块 %1：数值块\n值：%2\n地址：%3").arg(block).arg(info.value).arg(info.address);
}

QString BlockRanges(const QList<int> &blocks) {
    const std::vector<int> numbers(blocks.begin(), blocks.end());
    return QString::fromStdString(zelkor::words::RangesText(numbers, " "));
}

QString CardLossWords(const card::Reselection &found, const std::vector<std::uint8_t> &uid) {
    return ToolkitWords(found, uid);
}

namespace {

QList<int> Blocks(const std::vector<int> &numbers) { return QList<int>(numbers.begin(), numbers.end()); }

bool IsWriteWarning(const card::RestoreStep &step) {
    return step.block >= 0 && step.action == card::StepAction::Write && step.code != card::StepCode::None;
}
bool IsSkippedBlock(const card::RestoreStep &step) { return step.block >= 0 && step.action == card::StepAction::Skip; }

QString FatalMark(const card::RestoreStep &step) { return step.fatal ? QStringLiteral("错误：") : QString(); }

}  // namespace

QString RestorePlanText(const card::RestorePlan &plan) {
    QStringList lines;
    QList<int> written;
    for (const card::RestoreStep &step : plan.steps) {
        if (step.block < 0) lines << (step.fatal ? QStringLiteral("错误：") : QStringLiteral("注意：")) + ToolkitWords(step);
        if (step.block >= 0 && step.action == card::StepAction::Write) written << step.block;
    }
    lines << QStringLiteral("将写入 %1 块：%2").arg(written.size()).arg(written.isEmpty() ? QStringLiteral("无") : BlockRanges(written));
    for (const auto &group : card::GroupByReason(plan.steps, IsWriteWarning))
        lines << QStringLiteral("  注意，块 %1：%2").arg(BlockRanges(Blocks(group.numbers)), ToolkitWords(*group.step));
    const auto skipped = card::GroupByReason(plan.steps, IsSkippedBlock);
    qsizetype skipped_count = 0;
    for (const auto &group : skipped) skipped_count += static_cast<qsizetype>(group.numbers.size());
    lines << QStringLiteral("跳过 %1 块：").arg(skipped_count);
    for (const auto &group : skipped)
        lines << QStringLiteral("  块 %1：%2").arg(BlockRanges(Blocks(group.numbers)), FatalMark(*group.step) + ToolkitWords(*group.step));
    return lines.join(QLatin1Char('\n'));
}
