#include "words/toolkit_words.h"

#include "card/access_conditions.h"
#include "card/hex.h"

namespace zelkor::words {

using card::KeyType;

namespace {

std::string Hex(std::span<const std::uint8_t> bytes) { return card::ToHex(bytes); }
std::string Kind(card::CardKind kind) { return std::string(card::KindName(kind)); }
std::string Letter(KeyType key) { return std::string(1, card::KeyLetter(key)); }
std::string Bits(card::Condition condition) { return card::ConditionBits(condition); }

std::string Joined(std::span<const int> numbers, std::string_view separator) {
    std::string text;
    for (const int number : numbers) text += (text.empty() ? "" : std::string(separator)) + std::to_string(number);
    return text;
}

std::string KindDiffersText(const card::RestoreStep &step, Language language, bool fits) {
    const std::string file = Kind(step.file_kind), card = Kind(step.card_kind);
    return Say(language, "the file is a " + file + " dump, the card a " + card + " card" +
                             (fits ? ": only the file's blocks are written" : ": the file does not fit"),
               "文件是 " + file + " 卡的数据，卡片是 " + card + " 卡" + (fits ? "：只写入文件中有的块" : "：写不下"));
}

std::string UidDiffersText(const card::RestoreStep &step, Language language) {
    const std::string file = Hex(step.file_uid), card = Hex(step.uid);
    return Say(language, "UID " + file + " in the file, " + card + " on the card" + (step.forced ? " (forced)" : ": needs force"),
               "文件中的卡号是 " + file + "，卡片的卡号是 " + card + "（厂商块不写入，卡号不变）");
}

std::string UidUnknownText(const card::RestoreStep &step, Language language) {
    const std::string card = Hex(step.uid);
    return Say(language,
               "the file holds no UID (no block 0): it cannot be checked against the card's UID " + card +
                   (step.forced ? " (forced)" : ": needs --force"),
               "文件中没有卡号（没有厂商块），无法确认它是卡片 " + card + " 的数据" + (step.forced ? "（已确认写入）" : ""));
}

std::string AccessBitsFrozenText(const card::RestoreStep &step, Language language) {
    if (step.forced) return Say(language, "access bits can never be changed again (forced)", "控制字写入后再也不能修改");
    const std::string bits = Bits(step.condition);
    return Say(language, "access bits " + bits + " can never be changed again: needs force", "控制位 " + bits + " 写入后再也不能修改");
}

}  // namespace

std::string AccessText(card::Access access, Language language) {
    switch (access) {
    case card::Access::Never: return Say(language, "never", "从不");
    case card::Access::KeyA: return Say(language, "key A", "密钥A");
    case card::Access::KeyB: return Say(language, "key B", "密钥B");
    case card::Access::KeyAOrB: return Say(language, "key A|B", "密钥A或B");
    }
    return {};
}

std::string Text(const card::RestoreStep &step, Language language) {
    const std::string sector = std::to_string(step.sector);
    switch (step.code) {
    case card::StepCode::None: return {};
    case card::StepCode::ManufacturerBlock: return Say(language, "manufacturer block: never written", "厂商块，从不写入");
    case card::StepCode::AlreadyOnCard: return Say(language, "the card already holds these bytes", "卡上已是相同的数据");
    case card::StepCode::NotInFile: return Say(language, "not in the file (unknown)", "文件中没有这一块（未知）");
    case card::StepCode::BytesUnknownInFile: return Say(language, "bytes unknown in the file", "文件中这一块有未知的字节");
    case card::StepCode::AccessBitsUnknown:
        return Say(language, "access bits of sector " + sector + " unknown: no key read its trailer",
                   "扇区 " + sector + " 的控制字未知：没有密钥能读出它的控制块");
    case card::StepCode::AccessBitsInconsistent:
        return Say(language, "sector " + sector + " is blocked by inconsistent access bits",
                   "扇区 " + sector + " 的控制字无效，整个扇区被锁死");
    case card::StepCode::ReadOnly:
        return Say(language, "block is read-only (access bits " + Bits(step.condition) + ")",
                   "只读块（控制位 " + Bits(step.condition) + "）");
    case card::StepCode::WriteKeyUnknown:
        return Say(language, "key with write access not known (" + AccessText(step.writer, language) + " may write)",
                   "不知道有写权限的密钥（" + AccessText(step.writer, language) + " 可写）");
    case card::StepCode::TrailerNeedsOption:
        return Say(language, "trailer: written only with the trailers option", "控制块：选中“包括控制块”时才写入");
    case card::StepCode::TrailerNotInFile: return Say(language, "trailer not in the file (unknown)", "文件中没有这个控制块（未知）");
    case card::StepCode::TrailerBytesUnknown:
        return Say(language, "trailer bytes unknown in the file (a key not found)", "文件中控制块有未知的字节（有密钥没有找到）");
    case card::StepCode::TrailerAccessInconsistent:
        return Say(language, "inconsistent access bytes " + Hex(step.bytes) + ": never written",
                   "控制字 " + Hex(step.bytes) + " 无效：从不写入");
    case card::StepCode::TrailerAlreadyOnCard: return Say(language, "the card already holds this trailer", "卡上已是相同的控制块");
    case card::StepCode::TrailerKeyNotAllowed:
        return Say(language, "access conditions do not let a known key write this trailer", "控制条件不允许已知的密钥写这个控制块");
    case card::StepCode::AccessBitsFrozen: return AccessBitsFrozenText(step, language);
    case card::StepCode::UidDiffers: return UidDiffersText(step, language);
    case card::StepCode::UidUnknown: return UidUnknownText(step, language);
    case card::StepCode::KindDiffers: return KindDiffersText(step, language, true);
    case card::StepCode::FileTooLarge: return KindDiffersText(step, language, false);
    }
    return {};
}

std::string Text(const card::BlockFailure &failure, Language language) {
    switch (failure.code) {
    case card::BlockFailureCode::KeyNotAccepted:
        return Say(language, "key " + Letter(failure.key) + " not accepted", "密钥" + Letter(failure.key) + " 验证失败");
    case card::BlockFailureCode::WriteRefused: return Say(language, "write refused", "写入被拒绝");
    case card::BlockFailureCode::TrailerWriteRefused: return Say(language, "trailer write refused", "控制块写入被拒绝");
    case card::BlockFailureCode::ReadBackFailed: return Say(language, "written, but reading it back failed", "已写入，但读回失败");
    case card::BlockFailureCode::ReadBackDiffers:
        return Say(language, "written, but reads back different bytes", "已写入，但读回的数据不同");
    case card::BlockFailureCode::NewKeyANotAccepted:
        return Say(language, "written, but the new key A is not accepted", "已写入，但新的密钥A 验证失败");
    case card::BlockFailureCode::TrailerReadBackDiffers:
        return Say(language, "written, but reads back different access bits or key B", "已写入，但读回的控制字或密钥B 不同");
    }
    return {};
}

std::string Text(const card::FileWarning &warning, Language language) {
    const std::string kind = Kind(warning.kind);
    switch (warning.code) {
    case card::FileWarningCode::KeyUnknown: {
        const std::string key = Letter(warning.key), sectors = Joined(warning.sectors, ", ");
        return Say(language, "key " + key + " unknown in sectors " + sectors + ": written as zeros",
                   "扇区 " + sectors + " 的密钥" + key + " 未知：写成全 0");
    }
    case card::FileWarningCode::UnknownBytesWrittenAsZeros: {
        const std::string count = std::to_string(warning.count);
        return Say(language, count + " blocks hold unknown bytes: written as zeros (a raw dump cannot mark them)",
                   count + " 块含有未知的字节：写成 0（二进制文件不能标记未知的字节）");
    }
    case card::FileWarningCode::UidFromManufacturerBlock:
        return Say(language, "UID unknown: written from the manufacturer block", "卡号未知：取自厂商块");
    case card::FileWarningCode::AtqaAssumed:
        return Say(language, "ATQA unknown: written as the usual value of a " + kind + " card", "ATQA 未知：写成 " + kind + " 卡通常的值");
    case card::FileWarningCode::SakAssumed:
        return Say(language, "SAK unknown: written as the usual value of a " + kind + " card", "SAK 未知：写成 " + kind + " 卡通常的值");
    case card::FileWarningCode::UidNotKept: {
        const std::string uid = Hex(warning.uid);
        return Say(language,
                   "UID " + uid + " not kept: a ." + std::string(card::FormatName(warning.format)) +
                       " file holds a UID only as the 4 bytes and check byte of block 0",
                   "卡号 " + uid + " 没有保存：这种文件只能以厂商块的 4 字节卡号和校验字节保存卡号");
    }
    }
    return {};
}

std::string Text(const card::Reselection &found, std::span<const std::uint8_t> uid, Language language) {
    const std::string card = Hex(uid), other = Hex(found.uid);
    switch (found.outcome) {
    case card::Selection::OtherCard:
        return Say(language, "another card (UID " + other + ") is in the field, not the card UID " + card,
                   "读卡器上换成了另一张卡（卡号 " + other + "），不是开始时的卡片 " + card);
    case card::Selection::NoCard: return Say(language, "the card UID " + card + " left the reader's field", "卡片 " + card + " 已离开读卡器");
    case card::Selection::ReaderGone:
        return Say(language, "the reader stopped answering (unplugged or switched off)", "读卡器没有应答（已拔出或断电）");
    case card::Selection::SameCard:
        return Say(language, "the card UID " + card + " is still in the field", "卡片 " + card + " 仍在读卡器上");
    }
    return {};
}

std::string Text(card::UltraLightStepReason reason, Language language) {
    using R = card::UltraLightStepReason;
    switch (reason) {
    case R::None: return {};
    case R::UidPage: return Say(language, "UID page, never written", "卡号页，从不写入");
    case R::LockBytes: return Say(language, "UID check byte and lock bytes, never written", "卡号校验字节和锁定字节，从不写入");
    case R::OneTimeProgrammable: return Say(language, "one-time programmable page, never written", "一次性编程页，从不写入");
    case R::CapabilityContainer:
        return Say(language, "capability container (one-time programmable), never written", "能力容器（一次性编程），从不写入");
    case R::DynamicLock: return Say(language, "dynamic lock bytes, never written", "动态锁定字节，从不写入");
    case R::Configuration: return Say(language, "configuration page, never written", "配置页，从不写入");
    case R::UnknownInFile: return Say(language, "unknown in the file", "文件中未知");
    case R::PartlyKnownInFile: return Say(language, "some of its bytes are unknown in the file", "文件中有部分字节未知");
    case R::UnreadableOnCard: return Say(language, "cannot be read on the card (password protected)", "卡上不可读（受密码保护）");
    case R::LockedSame: return Say(language, "locked on the card, already holds these bytes", "卡上已锁定，已是相同的数据");
    case R::LockedOnCard: return Say(language, "locked (read-only) on the card and holds other bytes", "卡上已锁定（只读），数据不同");
    case R::KindDiffers: return Say(language, "the file is of another kind of card", "文件是另一种卡的数据");
    case R::UidDiffers: return Say(language, "the card has another UID (--force writes anyway)", "卡片的卡号不同（加 --force 仍会写入）");
    }
    return {};
}

std::string Text(card::PageFailureReason reason, Language language) {
    switch (reason) {
    case card::PageFailureReason::WriteRefused: return Say(language, "the card refused the write", "卡片拒绝写入");
    case card::PageFailureReason::ReadBackFailed: return Say(language, "written, but could not be read back", "已写入，但读回失败");
    case card::PageFailureReason::ReadBackDiffers: return Say(language, "read back other bytes than written", "读回的数据与写入的不同");
    }
    return {};
}

std::string Text(const card::UltraLightFileNote &note, Language language) {
    const std::string pages = (note.pages.size() > 1 ? "pages " : "page ") + RangesText(note.pages, ", ");
    const std::string listed = Joined(note.pages, "、");
    switch (note.warning) {
    case card::UltraLightFileWarning::UnknownBytesWrittenAsZeros:
        return Say(language, pages + " hold unknown bytes: written as zeros (a raw dump cannot mark them)",
                   "页 " + listed + " 有未知字节，二进制文件无法标记，已写为 0");
    case card::UltraLightFileWarning::KnownPagesAfterUnreadDropped:
        return Say(language, pages + " follow an unknown page: the format keeps only the pages read up to the first unknown one",
                   "页 " + listed + " 在未读出的页之后，此格式无法保存");
    case card::UltraLightFileWarning::IdentityAssumed:
        return Say(language, "ATQA or SAK unknown: written as the family's usual 44 00 and 00", "ATQA 或 SAK 未知，已写为此类卡的常用值 44 00 和 00");
    }
    return {};
}

std::string_view CodeName(card::StepCode code) {
    using C = card::StepCode;
    switch (code) {
    case C::None: return "none";
    case C::ManufacturerBlock: return "manufacturer_block";
    case C::AlreadyOnCard: return "already_on_card";
    case C::NotInFile: return "not_in_file";
    case C::BytesUnknownInFile: return "bytes_unknown_in_file";
    case C::AccessBitsUnknown: return "access_bits_unknown";
    case C::AccessBitsInconsistent: return "access_bits_inconsistent";
    case C::ReadOnly: return "read_only";
    case C::WriteKeyUnknown: return "write_key_unknown";
    case C::TrailerNeedsOption: return "trailer_needs_option";
    case C::TrailerNotInFile: return "trailer_not_in_file";
    case C::TrailerBytesUnknown: return "trailer_bytes_unknown";
    case C::TrailerAccessInconsistent: return "trailer_access_inconsistent";
    case C::TrailerAlreadyOnCard: return "trailer_already_on_card";
    case C::TrailerKeyNotAllowed: return "trailer_key_not_allowed";
    case C::AccessBitsFrozen: return "access_bits_frozen";
    case C::UidDiffers: return "uid_differs";
    case C::UidUnknown: return "uid_unknown";
    case C::KindDiffers: return "kind_differs";
    case C::FileTooLarge: return "file_too_large";
    }
    return {};
}

std::string_view CodeName(card::BlockFailureCode code) {
    using C = card::BlockFailureCode;
    switch (code) {
    case C::KeyNotAccepted: return "key_not_accepted";
    case C::WriteRefused: return "write_refused";
    case C::TrailerWriteRefused: return "trailer_write_refused";
    case C::ReadBackFailed: return "read_back_failed";
    case C::ReadBackDiffers: return "read_back_differs";
    case C::NewKeyANotAccepted: return "new_key_a_not_accepted";
    case C::TrailerReadBackDiffers: return "trailer_read_back_differs";
    }
    return {};
}

std::string_view CodeName(card::FileWarningCode code) {
    using C = card::FileWarningCode;
    switch (code) {
    case C::KeyUnknown: return "key_unknown";
    case C::UnknownBytesWrittenAsZeros: return "unknown_bytes_written_as_zeros";
    case C::UidFromManufacturerBlock: return "uid_from_manufacturer_block";
    case C::AtqaAssumed: return "atqa_assumed";
    case C::SakAssumed: return "sak_assumed";
    case C::UidNotKept: return "uid_not_kept";
    }
    return {};
}

std::string_view CodeName(card::Selection selection) {
    switch (selection) {
    case card::Selection::SameCard: return "same_card";
    case card::Selection::OtherCard: return "other_card";
    case card::Selection::NoCard: return "no_card";
    case card::Selection::ReaderGone: return "reader_gone";
    }
    return {};
}

std::string_view CodeName(card::UltraLightStepReason reason) {
    using R = card::UltraLightStepReason;
    switch (reason) {
    case R::None: return "none";
    case R::UidPage: return "uid_page";
    case R::LockBytes: return "lock_bytes";
    case R::OneTimeProgrammable: return "one_time_programmable";
    case R::CapabilityContainer: return "capability_container";
    case R::DynamicLock: return "dynamic_lock";
    case R::Configuration: return "configuration";
    case R::UnknownInFile: return "unknown_in_file";
    case R::PartlyKnownInFile: return "partly_known_in_file";
    case R::UnreadableOnCard: return "unreadable_on_card";
    case R::LockedSame: return "locked_same";
    case R::LockedOnCard: return "locked_on_card";
    case R::KindDiffers: return "kind_differs";
    case R::UidDiffers: return "uid_differs";
    }
    return {};
}

std::string_view CodeName(card::PageFailureReason reason) {
    switch (reason) {
    case card::PageFailureReason::WriteRefused: return "write_refused";
    case card::PageFailureReason::ReadBackFailed: return "read_back_failed";
    case card::PageFailureReason::ReadBackDiffers: return "read_back_differs";
    }
    return {};
}

std::string_view CodeName(card::UltraLightFileWarning warning) {
    switch (warning) {
    case card::UltraLightFileWarning::UnknownBytesWrittenAsZeros: return "unknown_bytes_written_as_zeros";
    case card::UltraLightFileWarning::KnownPagesAfterUnreadDropped: return "known_pages_after_unread_dropped";
    case card::UltraLightFileWarning::IdentityAssumed: return "identity_assumed";
    }
    return {};
}

std::string RangesText(std::span<const int> numbers, std::string_view separator) {
    std::string text;
    for (const card::NumberRange &range : card::RangesOf(numbers)) {
        if (!text.empty()) text += separator;
        text += std::to_string(range.first);
        if (range.last != range.first) text += "-" + std::to_string(range.last);
    }
    return text;
}

std::string Text(card::Stage stage, Language language) {
    const bool english = language == Language::English;
    switch (stage) {
    case card::Stage::KeySearch: return english ? "keys" : "搜索密钥";
    case card::Stage::Dump: return english ? "dump" : "读整卡";
    case card::Stage::Restore: return english ? "restore" : "写整卡";
    }
    return {};
}

std::string_view CodeName(card::Stage stage) {
    switch (stage) {
    case card::Stage::KeySearch: return "keys";
    case card::Stage::Dump: return "dump";
    case card::Stage::Restore: return "restore";
    }
    return {};
}

}  // namespace zelkor::words
