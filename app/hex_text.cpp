#include "app/hex_text.h"

#include <climits>
#include <cstring>

#include "app/message_service.h"

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
    const qsizetype pairs = digits.size() / 2;
    for (qsizetype i = 0; i < digits.size(); ++i) {
        if (HexDigit(digits[i]) < 0) {
            result.error = HexTextError::kNotHex;
            return result;
        }
    }
    if (pairs > dest_size || (dest == nullptr && pairs > 0)) {
        result.error = HexTextError::kTooLong;
        return result;
    }
    const int count = static_cast<int>(pairs);
    if (count < min_bytes) {
        result.error = HexTextError::kTooShort;
        return result;
    }
    for (int i = 0; i < count; ++i)
        dest[i] = static_cast<unsigned char>(HexDigit(digits[2 * i]) * 16 + HexDigit(digits[2 * i + 1]));
    result.count = count;
    return result;
}

QString HexTextErrorMessage(HexTextError error, int dest_size, int min_bytes) {
    switch (error) {
    case HexTextError::kOddDigits:
        return QStringLiteral("不完整的十六进制数,请检查数据是否完整");
    case HexTextError::kNotHex:
        return QStringLiteral("含有非十六进制字符,请检查数据(每个字节为两位0-9、A-F,字节之间只能用空格分隔)");
    case HexTextError::kTooLong:
        return QStringLiteral("数据过长,最多%1个字节,请检查数据").arg(dest_size);
    case HexTextError::kTooShort:
        if (min_bytes == dest_size)
            return QStringLiteral("数据不足,需要%1个字节,请检查数据").arg(min_bytes);
        return QStringLiteral("数据不足,至少需要%1个字节,请检查数据").arg(min_bytes);
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
    static const char kDigits[] = "0123456789ABCDEF";
    QString text;
    text.reserve(count * 3);
    for (int i = 0; i < count; ++i) {
        text += QLatin1Char(kDigits[bytes[i] >> 4]);
        text += QLatin1Char(kDigits[bytes[i] & 0x0F]);
        text += QLatin1Char(' ');
    }
    return text;
}

QString AsciiWithHexBytes(const QByteArray &bytes) {
    const auto *data = reinterpret_cast<const unsigned char *>(bytes.constData());
    const qsizetype size = bytes.size();
    QString text;
    for (qsizetype i = 0; i < size;) {
        if (data[i] < 0x80) {
            if (data[i] != 0) text += QLatin1Char(static_cast<char>(data[i]));
            ++i;
            continue;
        }
        qsizetype end = i;
        while (end < size && data[end] >= 0x80) ++end;
        text += QLatin1Char('[') + FormatHexBytes(data + i, static_cast<int>(end - i)).chopped(1) + QLatin1Char(']');
        i = end;
    }
    return text;
}

int DecimalTextValue(const QString &text) {
    qsizetype i = 0;
    const qsizetype n = text.size();
    while (i < n && (text[i] == QLatin1Char(' ') || (text[i].unicode() >= 9 && text[i].unicode() <= 13))) ++i;
    bool negative = false;
    if (i < n && (text[i] == QLatin1Char('+') || text[i] == QLatin1Char('-'))) {
        negative = text[i] == QLatin1Char('-');
        ++i;
    }
    long long value = 0;
    const long long limit = negative ? -static_cast<long long>(INT_MIN) : INT_MAX;
    for (; i < n && text[i].unicode() >= '0' && text[i].unicode() <= '9'; ++i) {
        value = value * 10 + (text[i].unicode() - '0');
        if (value > limit) value = limit;
    }
    return static_cast<int>(negative ? -value : value);
}
