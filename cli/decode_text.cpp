#include "cli/decode_text.h"

#include <array>
#include <cstdio>
#include <vector>

#include "card/hex.h"
#include "words/toolkit_words.h"

namespace zelkor::cli {
namespace {

// Columns on a terminal: a Chinese character takes two.
std::size_t DisplayWidth(const std::string &text) {
    std::size_t width = 0;
    for (const char c : text) {
        const auto byte = static_cast<unsigned char>(c);
        if ((byte & 0xC0) == 0x80) continue;
        width += byte >= 0xE0 ? 2 : 1;
    }
    return width;
}

std::string Padded(std::string text, std::size_t width) {
    const std::size_t shown = DisplayWidth(text);
    if (shown < width) text.append(width - shown, ' ');
    return text;
}

std::string Line(const std::string &label, const std::string &bits, const std::vector<std::string> &cells) {
    std::string line = "  " + Padded(label, 10) + " " + Padded(bits, 7);
    for (const std::string &cell : cells) line += " " + Padded(cell, 9);
    while (!line.empty() && line.back() == ' ') line.pop_back();
    return line + "\n";
}

std::string Row(const std::string &label, card::Condition condition, std::initializer_list<card::Access> rights) {
    std::vector<std::string> names;
    for (const card::Access access : rights) names.push_back(words::AccessText(access, Language::Chinese));
    return Line(label, card::ConditionBits(condition), names);
}

std::string PositionLabel(int position, bool sixteen) {
    if (position == 3) return "控制块";
    if (!sixteen) return "块 " + std::to_string(position);
    return "块 " + std::to_string(position * 5) + "-" + std::to_string(position * 5 + 4);
}

std::string HeadLine(const card::DecodedAccess &access, bool sixteen) {
    if (access.transport) return "出厂控制字（FF0780）：密钥A 可以进行全部操作。\n";
    if (access.consistent()) return "控制字 " + card::ToHex(card::EncodeAccessBytes(access.conditions)) + " 有效。\n";
    std::string positions;
    for (int p = 0; p < 4; ++p) {
        if (access.position_consistent[static_cast<std::size_t>(p)]) continue;
        positions += (positions.empty() ? "" : "，") + PositionLabel(p, sixteen);
    }
    return "控制字无效：取反的副本不一致（" + positions + "）。卡片会锁死这样的扇区；下表只按原码位解读。\n";
}

std::string RowEnglish(const std::string &label, card::Condition condition, std::initializer_list<card::Access> rights) {
    char head[32];
    std::snprintf(head, sizeof head, "  %-12s %s ", label.c_str(), card::ConditionBits(condition).c_str());
    std::string line = head;
    for (card::Access access : rights) {
        char cell[16];
        std::snprintf(cell, sizeof cell, " %-9s", std::string(card::AccessName(access)).c_str());
        line += cell;
    }
    while (!line.empty() && line.back() == ' ') line.pop_back();
    return line + "\n";
}

std::string PositionLabelEnglish(int position, bool sixteen) {
    if (!sixteen) return "block " + std::to_string(position);
    return "blocks " + std::to_string(position * 5) + "-" + std::to_string(position * 5 + 4);
}

std::string AccessTextEnglish(const card::DecodedAccess &access, bool sixteen_block_sector) {
    std::string out;
    const std::array<std::uint8_t, 3> plain = card::EncodeAccessBytes(access.conditions);
    if (access.transport) {
        out += "Transport configuration (FF0780): factory setting, key A may do everything.\n";
    } else if (access.consistent()) {
        out += "Consistent access bytes " + card::ToHex(plain) + ".\n";
    } else {
        std::string positions;
        for (int p = 0; p < 4; ++p) {
            if (access.position_consistent[static_cast<std::size_t>(p)]) continue;
            positions += (positions.empty() ? "" : ", ") + (p == 3 ? std::string("trailer") : PositionLabelEnglish(p, sixteen_block_sector));
        }
        out += "INCONSISTENT access bytes: the inverted copies do not match (" + positions +
               "). A card blocks such a sector; the rows below read the plain bits only.\n";
    }
    if (access.user_byte) {
        char user[48];
        std::snprintf(user, sizeof user, "User byte (GPB): %02X\n", *access.user_byte);
        out += user;
    }
    const card::Condition trailer = access.conditions[3];
    out += "  position     C1C2C3  read      write     increment decrement/transfer/restore\n";
    for (int p = 0; p < 3; ++p) {
        const card::Condition c = access.conditions[static_cast<std::size_t>(p)];
        const card::DataRights r = card::DataRightsOf(c, trailer);
        out += RowEnglish(PositionLabelEnglish(p, sixteen_block_sector), c, {r.read, r.write, r.increment, r.decrement_transfer_restore});
    }
    const card::TrailerRights t = card::TrailerRightsOf(trailer);
    out += "  position     C1C2C3  key A wr  bits rd   bits wr   key B rd  key B wr\n";
    out += RowEnglish("trailer", trailer, {t.key_a_write, t.access_bits_read, t.access_bits_write, t.key_b_read, t.key_b_write});
    if (card::KeyBReadable(trailer)) out += "Key B is readable with key A: it is data, not a key, and opens nothing.\n";
    if (!card::AccessBitsWritableAgain(trailer)) out += "The access bits can never be changed again.\n";
    return out;
}

std::string AccessTextChinese(const card::DecodedAccess &access, bool sixteen) {
    std::string out = HeadLine(access, sixteen);
    if (access.user_byte) out += "用户字节（GPB）：" + card::ToHex(std::array{*access.user_byte}) + "\n";
    const card::Condition trailer = access.conditions[3];
    out += Line("位置", "C1C2C3", {"读", "写", "加值", "减值/传送/恢复"});
    for (int p = 0; p < 3; ++p) {
        const card::Condition c = access.conditions[static_cast<std::size_t>(p)];
        const card::DataRights r = card::DataRightsOf(c, trailer);
        out += Row(PositionLabel(p, sixteen), c, {r.read, r.write, r.increment, r.decrement_transfer_restore});
    }
    const card::TrailerRights t = card::TrailerRightsOf(trailer);
    out += Line("位置", "C1C2C3", {"写密钥A", "读控制字", "写控制字", "读密钥B", "写密钥B"});
    out += Row(PositionLabel(3, sixteen), trailer,
               {t.key_a_write, t.access_bits_read, t.access_bits_write, t.key_b_read, t.key_b_write});
    if (card::KeyBReadable(trailer)) out += "密钥B 可以用密钥A 读出：它是数据，不是密钥，不能打开任何扇区。\n";
    if (!card::AccessBitsWritableAgain(trailer)) out += "控制字再也不能修改。\n";
    return out;
}

std::string ValueBlockTextEnglish(const card::ValueBlockInfo &info) {
    char text[256];
    std::snprintf(text, sizeof text,
                  "%s value block\n  value:   %d\n  address: %u (0x%02X)\n  value copies:   %s\n  address copies: %s\n",
                  info.valid() ? "Valid" : "NOT a valid", info.value, info.address, info.address,
                  info.value_copies_match ? "match" : "do not match", info.address_copies_match ? "match" : "do not match");
    return text;
}

}  // namespace

std::string AccessText(const card::DecodedAccess &access, bool sixteen_block_sector, Language language) {
    if (language == Language::English) return AccessTextEnglish(access, sixteen_block_sector);
    return AccessTextChinese(access, sixteen_block_sector);
}

std::string ValueBlockText(const card::ValueBlockInfo &info, Language language) {
    if (language == Language::English) return ValueBlockTextEnglish(info);
    char text[256];
    std::snprintf(text, sizeof text, "%s\n  值：      %d\n  地址：    %u (0x%02X)\n  值的副本：  %s\n  地址的副本：%s\n",
                  info.valid() ? "有效的数值块" : "不是有效的数值块", info.value, info.address, info.address,
                  info.value_copies_match ? "一致" : "不一致", info.address_copies_match ? "一致" : "不一致");
    return text;
}

}  // namespace zelkor::cli
