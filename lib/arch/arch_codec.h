#ifndef ARCH_CODEC_H
#define ARCH_CODEC_H

// Text encodings of the values an archive stores, one element text per value,
// and the checks that keep a written document well-formed.

#include <QPalette>
#include <QString>

#include <limits>
#include <type_traits>

class QImage;

namespace arch {
namespace codec {

QString encodeBool(bool value);
// Any integer text other than 0 is true; text that is no integer is false.
bool decodeBool(const QString &text);

template <typename T>
using EnableIfInteger = std::enable_if_t<std::is_integral_v<T> && !std::is_same_v<T, bool>, int>;

template <typename T, EnableIfInteger<T> = 0>
QString encodeInt(T value)
{
    if constexpr (std::is_signed_v<T>)
        return QString::number(qlonglong(value));
    else
        return QString::number(qulonglong(value));
}

// Decimal text of the type's own width; anything that does not parse or does
// not fit the type reads as 0.
template <typename T, EnableIfInteger<T> = 0>
T decodeInt(const QString &text)
{
    bool ok = false;
    if constexpr (std::is_signed_v<T>) {
        const qlonglong v = text.toLongLong(&ok, 10);
        if (!ok || v < qlonglong(std::numeric_limits<T>::min())
            || v > qlonglong(std::numeric_limits<T>::max()))
            return 0;
        return T(v);
    } else {
        const qulonglong v = text.toULongLong(&ok, 10);
        if (!ok || v > qulonglong(std::numeric_limits<T>::max()))
            return 0;
        return T(v);
    }
}

// Six significant digits when they give the value back exactly, otherwise
// the shortest text that does, so no stored value changes on a round trip.
QString encodeDouble(double value);
QString encodeFloat(float value);
double decodeDouble(const QString &text);
float decodeFloat(const QString &text);

QString encodeBytes(const QByteArray &bytes);
QByteArray decodeBytes(const QString &text);

// Sets text to the Base64 of the image as PNG. A null image gives an empty
// text. On a buffer failure the text is left as it was.
void encodeImage(const QImage &image, QString &text);
QImage decodeImage(const QString &text);

struct PaletteRole
{
    const char *name;
    QPalette::ColorRole role;
};
// The stored palette roles in the order they are written and read.
enum { PaletteRoleCount = 17 };
extern const PaletteRole paletteRoles[PaletteRoleCount];

// XML 1.0 accepts only some characters; anything else would make the whole
// document unreadable.
bool isXmlChar(char32_t c);
// The text without the characters XML cannot hold; *dropped tells whether
// any were removed.
QString xmlSafeText(const QString &text, bool *dropped);
// A comment body XML accepts: no "--" and no trailing "-".
QString xmlSafeComment(const QString &comment);
// Whether the text is usable as an element name: a letter or "_" first,
// then letters, digits, "_", "-" or ".".
bool isElementName(const QString &name);

} // namespace codec
} // namespace arch

#endif
