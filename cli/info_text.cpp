#include "cli/info_text.h"

#include "card/hex.h"

namespace zelkor::cli {

std::string NotGivenByReader(Language language) {
    return Say(language, "(not given by the reader)", "（读卡器没有提供）");
}

std::string CardInfoText(const CardInfoFields &fields, Language language) {
    const bool chinese = language == Language::Chinese;
    std::string text = (chinese ? "卡片：    " : "card:          ") + fields.card + "\n";
    if (!fields.pages.empty()) text += (chinese ? "页数：    " : "pages:         ") + fields.pages + "\n";
    text += (chinese ? "卡号：    " : "UID:           ") + fields.uid + "\n";
    text += (chinese ? "ATQA：    " : "ATQA:          ") + fields.atqa + "\n";
    text += (chinese ? "SAK：     " : "SAK:           ") + fields.sak + "\n";
    const std::string serial = fields.reader_serial.empty() ? Say(language, "(not given)", "（没有提供）")
                                                            : card::ToHex(fields.reader_serial);
    return text + (chinese ? "序列号：  " : "reader serial: ") + serial + "\n";
}

}  // namespace zelkor::cli
