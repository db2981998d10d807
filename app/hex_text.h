// Hexadecimal text as the operator types it ("5A 3C 96 E1 0F 7B") and as the
// program shows bytes ("%02X " per byte), and decimal text of the number boxes.
#pragma once

#include <QByteArray>
#include <QString>

class QWidget;

enum class HexTextError {
    kNone,
    kOddDigits,  // an incomplete pair
    kNotHex,     // a pair that is not two hexadecimal digits
    kTooLong,    // more bytes than the destination holds
    kTooShort,   // fewer bytes than the operation needs
};

struct HexParse {
    HexTextError error = HexTextError::kNone;
    int count = 0;  // bytes written (0 after an error)
};

// Pure conversion: blanks (0x20) are removed, every other character takes
// part in the pairing; the rest is read two digits at a time into `dest`
// (capacity `dest_size`). At least `min_bytes` must be given. Nothing is
// written unless the whole text is valid.
HexParse ConvertHexText(const QString &text, unsigned char *dest, int dest_size, int min_bytes = 0);

// The message the operator sees for an error (caption "数据检查").
QString HexTextErrorMessage(HexTextError error, int dest_size, int min_bytes);

// ConvertHexText, showing the error (caption "数据检查", error icon) owned by
// `owner`. Returns the count of bytes written, or -1 after an error.
int ParseHexText(QWidget *owner, const QString &text, unsigned char *dest, int dest_size,
                 int min_bytes = 0);

// Each byte as two upper-case digits and a blank: 16 bytes give 48 characters.
QString FormatHexBytes(const unsigned char *bytes, int count);

// Shows bytes of GBK text without a GBK decoder: ASCII bytes as they are,
// every run of other bytes as hexadecimal pairs in brackets ("[B7 A2]"),
// zero bytes dropped.
QString AsciiWithHexBytes(const QByteArray &bytes);

// A signed decimal number read the way C's atoi reads it (leading white space,
// an optional sign, digits up to the first other character; none gives 0),
// but saturated to the int range instead of overflowing.
int DecimalTextValue(const QString &text);
