#include "hex_text.h"

#include <cstring>

#include "message_service.h"

namespace {

int HexDigit(QChar c) {
    const char16_t u = c.unicode();
    if (u >= '0' && u <= '9') return u - '0';
    if (u >= 'a' && u <= 'f') return u - 'a' + 10;
    if (u >= 'A' && u <= 'F') return u - 'A' + 10;
    return -1;
}

}  // namespace

HexParse ConvertHexText(const QString &text, unsigned char *dest, int dest_size, int min_bytes) {
    QString digits = text;
    digits.remove(QLatin1Char(' '));
    HexParse result;
    if (digits.size() % 2 != 0) {
        result.error = HexTextError::kOddDigits;
        return result;
    }
    const int count = static_cast<int>(digits.size() / 2);
    if (count > dest_size) {
        result.error = HexTextError::kTooLong;
        return result;
    }
    unsigned char bytes[1024];
    if (count > static_cast<int>(sizeof bytes)) {
        result.error = HexTextError::kTooLong;
        return result;
    }
    for (int i = 0; i < count; ++i) {
        const int high = HexDigit(digits[2 * i]);
        const int low = HexDigit(digits[2 * i + 1]);
        if (high < 0 || low < 0) {
            result.error = HexTextError::kNotHex;
            return result;
        }
        bytes[i] = static_cast<unsigned char>(high * 16 + low);
    }
    if (count < min_bytes) {
        result.error = HexTextError::kTooShort;
        return result;
    }
    if (count > 0) std::memcpy(dest, bytes, static_cast<size_t>(count));
    result.count = count;
    return result;
}

QString HexTextErrorMessage(HexTextError error, int dest_size, int min_bytes) {
    switch (error) {
    case HexTextError::kOddDigits:
        return QStringLiteral("不完整的十六进制数,请检查数据是否完整");
    case HexTextError::kNotHex:
        return QStringLiteral("含有非十六进制字符,请检查数据(每个字节为两位0-9、A-F)");
    case HexTextError::kTooLong:
        return QStringLiteral("数据过长,最多%1个字节").arg(dest_size);
    case HexTextError::kTooShort:
        return QStringLiteral("数据不足,需要%1个字节").arg(min_bytes);
    case HexTextError::kNone:
        break;
    }
    return {};
}

int ParseHexText(QWidget *owner, const QString &text, unsigned char *dest, int dest_size,
                 int min_bytes) {
    const HexParse parsed = ConvertHexText(text, dest, dest_size, min_bytes);
    if (parsed.error == HexTextError::kNone) return parsed.count;
    ShowError(owner, HexTextErrorMessage(parsed.error, dest_size, min_bytes),
              QStringLiteral("数据检查"));
    return -1;
}

QString FormatHexBytes(const unsigned char *bytes, int count) {
    QString text;
    text.reserve(count * 3);
    for (int i = 0; i < count; ++i)
        text += QStringLiteral("%1 ").arg(bytes[i], 2, 16, QLatin1Char('0')).toUpper();
    return text;
}
