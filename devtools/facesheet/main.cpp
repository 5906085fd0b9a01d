// facesheet: a contact sheet of what LCD keys can show. Every built-in
// picture (ids 0..22), legends of one, two and three lines (plain, inverted
// lines, the whole face inverted, clipped, too many lines), both legend fonts
// in full, display text and the frames of a scrolling legend, drawn as the
// face's pixels enlarged, each with a caption. Written as one PNG.
//
//   facesheet [--scale N] [OUTPUT.png]     (default facesheet.png, scale 4)

#include "bd_records.h"
#include "builtin_images.h"
#include "face_image.h"
#include "legend.h"

#include <QCoreApplication>
#include <QImage>
#include <QPainter>
#include <QStringList>

#include <cstdio>

using namespace buttondriver;

namespace {

const QColor kSheet(48, 52, 56);
const QColor kFaceOff(200, 214, 176);
const QColor kFaceOn(24, 32, 24);
const QColor kCaption(235, 235, 235);
const QColor kHeading(255, 196, 64);

// Lays pictures out left to right, wrapping at the sheet's width.
class Sheet
{
public:
    Sheet(int width, int scale) : m_width(width), m_scale(scale), m_img(width, 6000, QImage::Format_RGB32)
    {
        m_img.fill(kSheet);
    }

    void heading(const QString &text)
    {
        newRow();
        m_y += 8;
        drawText(text, kMargin, m_y, 3, kHeading);
        m_y += 8 * 3 + 10;
    }

    void face(const FaceImage &image, const QString &caption)
    {
        const int w = std::max(image.width() * m_scale, textWidth(caption));
        const int h = FaceImage::ROWS * m_scale + kCaptionHeight;
        if (m_x + w > m_width - kMargin)
            newRow();
        drawText(caption, m_x, m_y, 2, kCaption);
        drawFace(image, m_x, m_y + kCaptionHeight);
        m_x += w + kGap;
        m_rowHeight = std::max(m_rowHeight, h);
    }

    // A 1-bit picture that is not a face (display text), same look.
    void mono(const QImage &img, const QString &caption)
    {
        const int w = std::max(img.width() * m_scale, textWidth(caption));
        if (m_x + w > m_width - kMargin)
            newRow();
        drawText(caption, m_x, m_y, 2, kCaption);
        paintMono(img, m_x, m_y + kCaptionHeight, m_scale, kFaceOn, kFaceOff);
        m_x += w + kGap;
        m_rowHeight = std::max(m_rowHeight, img.height() * m_scale + kCaptionHeight);
    }

    QImage finish()
    {
        newRow();
        return m_img.copy(0, 0, m_width, m_y + kMargin);
    }

private:
    static constexpr int kMargin = 16;
    static constexpr int kGap = 20;
    static constexpr int kCaptionHeight = 22;

    void newRow()
    {
        if (m_rowHeight > 0)
            m_y += m_rowHeight + kGap;
        m_x = kMargin;
        m_rowHeight = 0;
    }

    static int textWidth(const QString &s) { return int(s.size()) * 8 * 2; }

    // Captions use the display font itself: the sheet needs no system fonts.
    void drawText(const QString &text, int x, int y, int scale, const QColor &colour)
    {
        const QImage t = textImage(text);
        if (!t.isNull())
            paintMono(t, x, y, scale, colour, QColor());
    }

    void paintMono(const QImage &img, int x, int y, int scale, const QColor &on, const QColor &off)
    {
        QPainter p(&m_img);
        if (off.isValid())
            p.fillRect(x, y, img.width() * scale, img.height() * scale, off);
        for (int r = 0; r < img.height(); ++r)
            for (int c = 0; c < img.width(); ++c)
                if (img.pixelIndex(c, r) == 1)
                    p.fillRect(x + c * scale, y + r * scale, scale, scale, on);
    }

    void drawFace(const FaceImage &image, int x, int y)
    {
        QPainter p(&m_img);
        p.fillRect(x, y, image.width() * m_scale, FaceImage::ROWS * m_scale, kFaceOff);
        const int dot = m_scale > 2 ? m_scale - 1 : m_scale; // a hairline grid between pixels
        for (int r = 0; r < FaceImage::ROWS; ++r)
            for (int c = 0; c < image.width(); ++c)
                if (image.pixel(c, r))
                    p.fillRect(x + c * m_scale, y + r * m_scale, dot, dot, kFaceOn);
    }

    int m_width;
    int m_scale;
    QImage m_img;
    int m_x = kMargin;
    int m_y = kMargin;
    int m_rowHeight = 0;
};

FaceImage legend(const QString &text, int flags, int characters = FaceImage::FACE_CHARACTERS)
{
    FaceImage img(characters);
    renderLegend(img, text, flags);
    return img;
}

QString caption(const QString &text, int flags)
{
    QString c = text;
    c.replace(QLatin1Char('\n'), QLatin1String("\\n")); // as panelrun shows it
    if (flags)
        c += QStringLiteral(" f%1").arg(flags, 2, 16, QLatin1Char('0'));
    return c;
}

QString charRange(int from, int to)
{
    QString s;
    for (int c = from; c <= to && c <= 126; ++c)
        s += QChar(c);
    return s;
}

} // namespace

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    QStringList args = app.arguments().mid(1);
    int scale = 4;
    QString out = QStringLiteral("facesheet.png");
    for (int i = 0; i < args.size(); ++i) {
        if (args[i] == QLatin1String("--scale") && i + 1 < args.size()) {
            scale = std::clamp(args[++i].toInt(), 1, 16);
        } else if (args[i].startsWith(QLatin1Char('-'))) {
            fprintf(stderr, "usage: facesheet [--scale N] [OUTPUT.png]\n");
            return 2;
        } else {
            out = args[i];
        }
    }

    Sheet sheet(std::max(1200, 8 * (36 * scale + 20) + 32), scale);

    sheet.heading(QStringLiteral("Built-in images 0-22"));
    for (int id = 0; id < BUILTIN_IMAGE_COUNT; ++id) {
        FaceImage img;
        img.setData(reinterpret_cast<const char *>(builtinImageData(id)), IMAGE_DATA_SIZE);
        sheet.face(img, QString::number(id));
    }

    sheet.heading(QStringLiteral("Legends"));
    const struct { const char *text; int flags; } legends[] = {
        {"AB", 0}, {"ABCDE", 0}, {"ABCDEFG", 0}, {"Take", 0},
        {"CAM\n12", 0}, {"\nX", 0}, {"VTR 4\nREC", 0x02}, {"VTR 4\nREC", 0x04},
        {"SRC\nDST\nLVL", 0}, {"SRC\nDST\nLVL", 0x0A}, {"CAM 1\nMIC 2\nPGM", 0x0E},
        {"AB", 0x01}, {"PGM\nOUT", 0x01}, {"LINE\nTWO\nTHREE", 0x01},
        {"A\nB\nC\nD", 0}, {"A\nB\nC\nD", 0x01},
        {"mm@m\nWMN", 0}, {"jgpqy\nTake", 0}, {"gpqy\nmwxz\nabcd", 0},
        {"01234\n56789", 0}, {"12:59\n08:15", 0}, {"+5 %\n-42%", 0}, {"[A/B]\n<C&D>", 0},
        {"#$*?!\n(){}|", 0}, {"#$*?!\n(){}|\n~^_`'", 0},
    };
    for (const auto &l : legends) {
        const QString text = QString::fromLatin1(l.text);
        sheet.face(legend(text, l.flags), caption(text, l.flags));
    }

    sheet.heading(QStringLiteral("Large font 32-126"));
    for (int from = 32; from <= 126; from += 32)
        sheet.face(legend(charRange(from, from + 15) + QLatin1Char('\n') + charRange(from + 16, from + 31), 0, 16),
                   QStringLiteral("%1-%2").arg(from).arg(std::min(from + 31, 126)));

    sheet.heading(QStringLiteral("Small font 32-126"));
    for (int from = 32; from <= 126; from += 48)
        sheet.face(legend(charRange(from, from + 15) + QLatin1Char('\n') + charRange(from + 16, from + 31)
                              + QLatin1Char('\n') + charRange(from + 32, from + 47),
                          0, 16),
                   QStringLiteral("%1-%2").arg(from).arg(std::min(from + 47, 126)));

    sheet.heading(QStringLiteral("Display text"));
    sheet.mono(textImage(QStringLiteral("CAM 1   ")), QStringLiteral("CAM 1"));
    sheet.mono(textImage(QStringLiteral("VTR-2 ok")), QStringLiteral("VTR-2 ok"));
    sheet.mono(textImage(QStringLiteral("Router 12 take: src")), QStringLiteral("20 chars"));

    sheet.heading(QStringLiteral("Scrolling legend ABCDEFGHIJ"));
    const QString scrollText = QStringLiteral("ABCDEFGHIJ");
    const FaceImage wide = legend(scrollText, 0, int(scrollText.size()));
    sheet.face(wide, QStringLiteral("wide image"));
    const int lastOffset = wide.width() - FaceImage::FACE_WIDTH;
    for (const int offset : {0, 7, 17, lastOffset}) {
        FaceImage window;
        wide.copyWindow(offset, window);
        sheet.face(window, QStringLiteral("offset %1").arg(offset));
    }

    const QImage result = sheet.finish();
    if (!result.save(out, "PNG")) {
        fprintf(stderr, "facesheet: cannot write %s\n", qPrintable(out));
        return 1;
    }
    printf("%s\n", qPrintable(out));
    return 0;
}
