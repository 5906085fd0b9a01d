#include "pan_displaytext.h"

#include "legend.h"

#include <QFontMetrics>
#include <QPainter>

namespace pan_display {

QColor textColor()
{
    return QColor(150, 255, 50);
}

QColor backgroundColor()
{
    return QColor(10, 16, 12);
}

bool checkCase(int lines, int chars)
{
    const bool ok = chars >= 1 && chars <= MaxCharsPerLine
                    && (lines == 1 || (lines == 2 && chars == 20));
    if (!ok)
        qCritical("unhandled vacuum line count case (%d lines of %d) (%s,%d)", lines, chars,
                  __FILE__, __LINE__);
    return ok;
}

QStringList displayLines(const QString &text, int lines, int chars)
{
    const QStringList all = text.split(QLatin1Char('\n'));
    QStringList out;
    for (int i = 0; i < lines; ++i) {
        QString line = i < all.size() ? all.at(i) : QString();
        line.truncate(chars);
        out << line.leftJustified(chars, QLatin1Char(' '));
    }
    return out;
}

QImage unhandledPicture()
{
    QImage img(100, 100, QImage::Format_ARGB32_Premultiplied);
    img.fill(QColor(255, 0, 255));
    return img;
}

QImage renderBitmapText(const QString &text, int lines, int chars)
{
    if (!checkCase(lines, chars))
        return unhandledPicture();
    const QStringList rows = displayLines(text, lines, chars);
    QImage out(chars * 8, lines * 8, QImage::Format_ARGB32_Premultiplied);
    out.fill(backgroundColor());
    QPainter p(&out);
    for (int i = 0; i < rows.size(); ++i) {
        QImage line = buttondriver::textImage(rows.at(i));
        if (line.isNull())
            continue;
        line.setColorTable({backgroundColor().rgba(), textColor().rgba()});
        p.drawImage(0, i * 8, line);
    }
    p.end();
    // Doubled with hard edges; the item smooths it when it scales it to the
    // display's size.
    return out.scaled(out.width() * 2, out.height() * 2, Qt::IgnoreAspectRatio,
                      Qt::FastTransformation);
}

QImage renderFontText(const QString &text, int lines, int chars, const QSize &size,
                      const QFont &font)
{
    if (!checkCase(lines, chars))
        return unhandledPicture();
    if (size.isEmpty())
        return QImage();
    QImage out(size, QImage::Format_ARGB32_Premultiplied);
    out.fill(backgroundColor());
    QPainter p(&out);
    p.setRenderHint(QPainter::TextAntialiasing);
    p.setFont(font);
    p.setPen(textColor());
    const QStringList rows = displayLines(text, lines, chars);
    const int rowHeight = size.height() / lines;
    for (int i = 0; i < rows.size(); ++i)
        p.drawText(QRect(0, i * rowHeight, size.width(), rowHeight),
                   Qt::AlignLeft | Qt::AlignVCenter, rows.at(i));
    return out;
}

QFont fontForCell(int cellWidth, int cellHeight)
{
    QFont f(QStringLiteral("Courier New"));
    f.setStyleHint(QFont::TypeWriter);
    f.setFixedPitch(true);
    f.setWeight(QFont::Bold);
    f.setKerning(false);
    f.setStyleStrategy(QFont::PreferAntialias);
    for (int px = cellHeight + 10; px > 0; --px) {
        f.setPixelSize(px);
        const QFontMetrics m(f);
        if (m.horizontalAdvance(QLatin1Char('O')) <= cellWidth && m.height() <= cellHeight)
            return f;
    }
    f.setPixelSize(1);
    return f;
}

} // namespace pan_display
