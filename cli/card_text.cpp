#include "cli/card_text.h"

#include <cstdio>

#include "card/hex.h"
#include "cli/toolkit_text.h"
#include "words/toolkit_words.h"

namespace zelkor::cli {

std::string BlockText(const card::CardImage &image, int block) {
    std::string text;
    const auto &data = image.blocks[static_cast<std::size_t>(block)];
    for (int i = 0; i < card::kBlockSize; ++i) {
        char piece[4];
        if (image.ByteKnown(block, i)) {
            std::snprintf(piece, sizeof piece, "%02X", data[static_cast<std::size_t>(i)]);
        } else {
            std::snprintf(piece, sizeof piece, "??");
        }
        if (i > 0) text += ' ';
        text += piece;
    }
    return text;
}

std::string KeyText(const std::optional<card::Key> &key) {
    return key ? card::KeyToHex(*key) : std::string(12, '-');
}

std::string SectorMap(std::span<const card::SectorKeys> keys, Language language) {
    const char *format = language == Language::Chinese ? "扇区 %2zu  密钥A %s  密钥B %s\n" : "sector %2zu  A %s  B %s\n";
    std::string text;
    for (std::size_t sector = 0; sector < keys.size(); ++sector) {
        char line[96];
        std::snprintf(line, sizeof line, format, sector, KeyText(keys[sector].a).c_str(),
                      KeyText(keys[sector].b).c_str());
        text += line;
    }
    return text;
}

std::string KeySummary(std::span<const card::SectorKeys> keys, Language language) {
    int both = 0;
    int one = 0;
    for (const auto &sector : keys) {
        if (sector.Complete()) {
            ++both;
        } else if (sector.a || sector.b) {
            ++one;
        }
    }
    const int none = static_cast<int>(keys.size()) - both - one;
    const std::string both_text = std::to_string(both);
    const std::string total = std::to_string(keys.size());
    return Say(language,
               "sectors with both keys: " + both_text + " of " + total + ", one key: " + std::to_string(one) +
                   ", none: " + std::to_string(none),
               "两个密钥都找到的扇区：" + both_text + " / " + total + "，只找到一个密钥：" + std::to_string(one) +
                   "，都没有找到：" + std::to_string(none));
}

std::string LossText(const card::Reselection &found, std::span<const std::uint8_t> uid) {
    return words::Text(found, uid, ProgramLanguage());
}

}  // namespace zelkor::cli
