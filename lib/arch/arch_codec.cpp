#include "arch_codec.h"

#include <QBuffer>
#include <QImage>
#include <QLocale>

#include <cmath>

namespace arch {
namespace codec {

QString encodeBool(bool value)
{
    return value ? QStringLiteral("1") : QStringLiteral("0");
}

bool decodeBool(const QString &text)
{
    return text.toInt(nullptr, 10) != 0;
}

// Equal and of the same sign, so -0 is not written as 0.
template <typename F>
static bool sameValue(F a, F b)
{
    return a == b && std::signbit(a) == std::signbit(b);
}

QString encodeDouble(double value)
{
    // Qt writes a negative zero as "0"; keep the sign so the value comes
    // back unchanged.
    if (value == 0 && std::signbit(value))
        return QStringLiteral("-0");
    const QString shortForm = QString::number(value, 'g', 6);
    if (qIsNaN(value) || sameValue(shortForm.toDouble(), value))
        return shortForm;
    return QString::number(value, 'g', QLocale::FloatingPointShortest);
}

QString encodeFloat(float value)
{
    if (value == 0 && std::signbit(value))
        return QStringLiteral("-0");
    // Nine significant digits always give a float back; use fewer when they do.
    for (int precision = 6; precision < 9; ++precision) {
        const QString s = QString::number(double(value), 'g', precision);
        if (qIsNaN(value) || sameValue(s.toFloat(), value))
            return s;
    }
    return QString::number(double(value), 'g', 9);
}

double decodeDouble(const QString &text)
{
    return text.toDouble();
}

float decodeFloat(const QString &text)
{
    return text.toFloat();
}

QString encodeBytes(const QByteArray &bytes)
{
    return QString::fromLatin1(bytes.toBase64());
}

QByteArray decodeBytes(const QString &text)
{
    return QByteArray::fromBase64(text.toLatin1());
}

void encodeImage(const QImage &image, QString &text)
{
    // A null image is a legitimate "no picture"; it is stored as no text.
    if (image.isNull()) {
        text.clear();
        return;
    }
    QByteArray bytes;
    QBuffer buffer(&bytes);
    if (!buffer.open(QIODevice::WriteOnly)) {
        qCritical("FAILED to open buffer (%s,%d)", __FILE__, __LINE__);
        return;
    }
    if (!image.save(&buffer, "PNG"))
        qCritical("FAILED to save image (%s,%d)", __FILE__, __LINE__);
    text = encodeBytes(bytes);
}

QImage decodeImage(const QString &text)
{
    const QByteArray bytes = decodeBytes(text);
    if (bytes.isEmpty())
        return QImage();
    return QImage::fromData(bytes);
}

const PaletteRole paletteRoles[PaletteRoleCount] = {
    {"WindowText", QPalette::WindowText},
    {"Button", QPalette::Button},
    {"Light", QPalette::Light},
    {"Midlight", QPalette::Midlight},
    {"Dark", QPalette::Dark},
    {"Mid", QPalette::Mid},
    {"Text", QPalette::Text},
    {"BrightText", QPalette::BrightText},
    {"ButtonText", QPalette::ButtonText},
    {"Base", QPalette::Base},
    {"Window", QPalette::Window},
    {"Shadow", QPalette::Shadow},
    {"Highlight", QPalette::Highlight},
    {"HighlightedText", QPalette::HighlightedText},
    {"AlternateBase", QPalette::AlternateBase},
    {"ToolTipBase", QPalette::ToolTipBase},
    {"ToolTipText", QPalette::ToolTipText},
};

bool isXmlChar(char32_t c)
{
    return c == 0x9 || c == 0xA || c == 0xD || (c >= 0x20 && c <= 0xD7FF)
        || (c >= 0xE000 && c <= 0xFFFD) || (c >= 0x10000 && c <= 0x10FFFF);
}

QString xmlSafeText(const QString &text, bool *dropped)
{
    *dropped = false;
    QString out;
    out.reserve(text.size());
    const qsizetype n = text.size();
    for (qsizetype i = 0; i < n; ++i) {
        const QChar c = text.at(i);
        // A surrogate pair is one character; a lone surrogate is none.
        if (c.isHighSurrogate() && i + 1 < n && text.at(i + 1).isLowSurrogate()) {
            out.append(c);
            out.append(text.at(++i));
            continue;
        }
        if (c.isSurrogate() || !isXmlChar(c.unicode())) {
            *dropped = true;
            continue;
        }
        out.append(c);
    }
    return out;
}

QString xmlSafeComment(const QString &comment)
{
    bool dropped = false;
    QString out = xmlSafeText(comment, &dropped);
    while (out.contains(QLatin1String("--")))
        out.replace(QLatin1String("--"), QLatin1String("- -"));
    if (out.endsWith(QLatin1Char('-')))
        out.append(QLatin1Char(' '));
    return out;
}

static bool isNameStart(QChar c)
{
    return c.isLetter() || c == QLatin1Char('_');
}

bool isElementName(const QString &name)
{
    if (name.isEmpty() || !isNameStart(name.at(0)))
        return false;
    for (const QChar c : name) {
        if (!(c.isLetterOrNumber() || c == QLatin1Char('_') || c == QLatin1Char('-')
              || c == QLatin1Char('.')))
            return false;
    }
    return true;
}

} // namespace codec
} // namespace arch
