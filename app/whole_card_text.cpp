#include "whole_card_text.h"

#include <QRegularExpression>

#include <utility>

#include "card/hex.h"
#include "hex_text.h"

namespace card = zelkor::card;

QString KeyText(const std::optional<card::Key> &key) {
    return key ? QString::fromStdString(card::KeyToHex(*key)) : QStringLiteral("未知");
}

QString SectorKeysToolTip(int sector, const card::SectorKeys &keys) {
    return QStringLiteral("扇区 %1\n密钥A：%2\n密钥B：%3").arg(sector).arg(KeyText(keys.a), KeyText(keys.b));
}

QString AccessWords(card::Access access) {
    switch (access) {
    case card::Access::Never: return QStringLiteral("从不");
    case card::Access::KeyA: return QStringLiteral("密钥A");
    case card::Access::KeyB: return QStringLiteral("密钥B");
    case card::Access::KeyAOrB: return QStringLiteral("密钥A或B");
    }
    return {};
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
    QStringList parts;
    for (qsizetype i = 0; i < blocks.size();) {
        qsizetype j = i;
        while (j + 1 < blocks.size() && blocks[j + 1] == blocks[j] + 1) ++j;
        parts << (j > i ? QStringLiteral("%1-%2").arg(blocks[i]).arg(blocks[j]) : QString::number(blocks[i]));
        i = j + 1;
    }
    return parts.join(QLatin1Char(' '));
}

QString ToolkitWords(const std::string &reason) {
    // The toolkit words its messages in English; these are the ones it gives.
    static const std::pair<const char *, const char *> kReasons[] = {
        {"manufacturer block: never written", "厂商块，从不写入"},
        {"the card already holds these bytes", "卡上已是相同的数据"},
        {"not in the file \\(unknown\\)", "文件中没有这一块（未知）"},
        {"bytes unknown in the file", "文件中这一块有未知的字节"},
        {"access bits of sector (\\d+) unknown: no key read its trailer", "扇区 \\1 的控制字未知：没有密钥能读出它的控制块"},
        {"sector (\\d+) is blocked by inconsistent access bits", "扇区 \\1 的控制字无效，整个扇区被锁死"},
        {"block is read-only \\(access bits (\\d+)\\)", "只读块（控制位 \\1）"},
        {"key with write access not known \\((.+) may write\\)", "不知道有写权限的密钥（\\1 可写）"},
        {"trailer: written only with the trailers option", "控制块：选中“包括控制块”时才写入"},
        {"trailer not in the file \\(unknown\\)", "文件中没有这个控制块（未知）"},
        {"trailer bytes unknown in the file \\(a key not found\\)", "文件中控制块有未知的字节（有密钥没有找到）"},
        {"inconsistent access bytes (\\w+): never written", "控制字 \\1 无效：从不写入"},
        {"the card already holds this trailer", "卡上已是相同的控制块"},
        {"access conditions do not let a known key write this trailer", "控制条件不允许已知的密钥写这个控制块"},
        {"access bits (\\d+) can never be changed again: needs force", "控制位 \\1 写入后再也不能修改"},
        {"access bits can never be changed again \\(forced\\)", "控制字写入后再也不能修改"},
        {"UID (\\w+) in the file, (\\w+) on the card.*", "文件中的卡号是 \\1，卡片的卡号是 \\2（厂商块不写入，卡号不变）"},
        {"the file is a (\\w+) dump, the card a (\\w+) card: the file does not fit", "文件是 \\1 卡的数据，卡片是 \\2 卡：写不下"},
        {"the file is a (\\w+) dump, the card a (\\w+) card: only the file's blocks are written",
         "文件是 \\1 卡的数据，卡片是 \\2 卡：只写入文件中有的块"},
        {"key ([AB]) not accepted", "密钥\\1 验证失败"},
        {"write refused", "写入被拒绝"},
        {"trailer write refused", "控制块写入被拒绝"},
        {"written, but reading it back failed", "已写入，但读回失败"},
        {"written, but reads back different bytes", "已写入，但读回的数据不同"},
        {"written, but the new key A is not accepted", "已写入，但新的密钥A 验证失败"},
        {"written, but reads back different access bits or key B", "已写入，但读回的控制字或密钥B 不同"},
        {"key ([AB]) unknown in sectors (.+): written as zeros", "扇区 \\2 的密钥\\1 未知：写成全 0"},
        {"(\\d+) blocks hold unknown bytes: written as zeros \\(a raw dump cannot mark them\\)",
         "\\1 块含有未知的字节：写成 0（二进制文件不能标记未知的字节）"},
        {"UID unknown: written from the manufacturer block", "卡号未知：取自厂商块"},
        {"(ATQA|SAK) unknown: written as the usual value of a (\\w+) card", "\\1 未知：写成 \\2 卡通常的值"},
    };
    QString text = QString::fromStdString(reason);
    for (const auto &[pattern, words] : kReasons) {
        const QRegularExpression expression(QStringLiteral("^%1$").arg(QString::fromUtf8(pattern)));
        if (expression.match(text).hasMatch()) {
            text.replace(expression, QString::fromUtf8(words));
            break;
        }
    }
    return text.replace(QStringLiteral("key A|B"), QStringLiteral("密钥A或B"))
        .replace(QStringLiteral("key A"), QStringLiteral("密钥A"))
        .replace(QStringLiteral("key B"), QStringLiteral("密钥B"))
        .replace(QStringLiteral("never"), QStringLiteral("从不"));
}

namespace {

QString UidText(const std::vector<std::uint8_t> &uid) { return QString::fromStdString(card::ToHex(uid)); }

QString StepWords(const card::RestoreStep &step) {
    switch (step.code) {
    case card::StepCode::UidUnknown:
        return QStringLiteral("文件中没有卡号（没有厂商块），无法确认它是卡片 %1 的数据").arg(UidText(step.uid)) +
               (step.forced ? QStringLiteral("（已确认写入）") : QString());
    case card::StepCode::Text: break;
    }
    return ToolkitWords(step.reason);
}

}  // namespace

QString CardLossWords(const card::Reselection &found, const std::vector<std::uint8_t> &uid) {
    switch (found.outcome) {
    case card::Selection::OtherCard:
        return QStringLiteral("读卡器上换成了另一张卡（卡号 %1），不是开始时的卡片 %2").arg(UidText(found.uid), UidText(uid));
    case card::Selection::NoCard: return QStringLiteral("卡片 %1 已离开读卡器").arg(UidText(uid));
    case card::Selection::ReaderGone: return QStringLiteral("读卡器没有应答（已拔出或断电）");
    case card::Selection::SameCard: break;
    }
    return QString();
}

QString RestorePlanText(const card::RestorePlan &plan) {
    QList<int> written;
    QStringList card_notes;
    // Skipped blocks and warnings, grouped by their reason in plan order.
    std::vector<std::pair<QString, QList<int>>> skipped;
    std::vector<std::pair<QString, QList<int>>> warnings;
    auto add = [](std::vector<std::pair<QString, QList<int>>> &groups, const QString &reason, int block) {
        for (auto &[text, blocks] : groups) {
            if (text == reason) {
                blocks << block;
                return;
            }
        }
        groups.push_back({reason, {block}});
    };
    for (const card::RestoreStep &step : plan.steps) {
        const QString reason = StepWords(step);
        if (step.block < 0) {
            card_notes << (step.fatal ? QStringLiteral("错误：") : QStringLiteral("注意：")) + reason;
        } else if (step.action == card::StepAction::Write) {
            written << step.block;
            if (!reason.isEmpty()) add(warnings, reason, step.block);
        } else {
            add(skipped, (step.fatal ? QStringLiteral("错误：") : QString()) + reason, step.block);
        }
    }
    QStringList lines = card_notes;
    lines << QStringLiteral("将写入 %1 块：%2").arg(written.size()).arg(written.isEmpty() ? QStringLiteral("无") : BlockRanges(written));
    for (const auto &[reason, blocks] : warnings) lines << QStringLiteral("  注意，块 %1：%2").arg(BlockRanges(blocks), reason);
    int skipped_count = 0;
    for (const auto &group : skipped) skipped_count += static_cast<int>(group.second.size());
    lines << QStringLiteral("跳过 %1 块：").arg(skipped_count);
    for (const auto &[reason, blocks] : skipped) lines << QStringLiteral("  块 %1：%2").arg(BlockRanges(blocks), reason);
    return lines.join(QLatin1Char('\n'));
}
