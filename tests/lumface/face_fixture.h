#ifndef FACE_FIXTURE_H
#define FACE_FIXTURE_H

// Pictures and layouts the face tests and the face benchmark build on: a key
// with a bevelled frame, a legend window (the display mask) and a glossy
// colour cover, drawn here so the tests need no shipped artwork.

#include <QColor>
#include <QDir>
#include <QImage>
#include <QPainter>
#include <QPainterPath>
#include <QString>

namespace facefixture {

// Key pictures kf1..kf<n>, km1..km<n>, kc1..kc<n> (frames, masks, covers),
// an LED (lf1, lm1) and a panel background "bk.png", written into dir.
inline bool writeKeyPictures(const QString &dir, int steps = 3)
{
    const int s = 100;
    bool ok = true;
    for (int i = 1; i <= steps; ++i) {
        const double press = steps > 1 ? double(i - 1) / (steps - 1) : 0;
        QImage frame(s, s, QImage::Format_ARGB32_Premultiplied);
        frame.fill(Qt::transparent);
        {
            QPainter p(&frame);
            p.setRenderHint(QPainter::Antialiasing);
            QPainterPath outer, inner;
            outer.addRoundedRect(QRectF(2, 2, s - 4, s - 4), 10, 10);
            inner.addRoundedRect(QRectF(16, 16, s - 32, s - 32), 4, 4);
            QLinearGradient g(0, 0, 0, s);
            g.setColorAt(0, QColor(200 - int(60 * press), 200 - int(60 * press), 205));
            g.setColorAt(1, QColor(70, 70, 75));
            p.fillPath(outer.subtracted(inner), g);
            p.setPen(QColor(20, 20, 20));
            p.drawPath(outer);
        }
        ok &= frame.save(QDir(dir).filePath(QStringLiteral("kf%1.png").arg(i)));

        QImage mask(s, s, QImage::Format_ARGB32_Premultiplied);
        mask.fill(Qt::transparent);
        {
            QPainter p(&mask);
            p.fillRect(QRect(16, 16, s - 32, s - 32), Qt::white);
        }
        ok &= mask.save(QDir(dir).filePath(QStringLiteral("km%1.png").arg(i)));

        QImage cover(s, s, QImage::Format_ARGB32_Premultiplied);
        cover.fill(Qt::transparent);
        {
            QPainter p(&cover);
            QLinearGradient g(0, 16, 0, s - 16);
            g.setColorAt(0, QColor(255, 255, 255, 90 - int(60 * press)));
            g.setColorAt(0.5, QColor(255, 255, 255, 0));
            g.setColorAt(1, QColor(0, 0, 0, 40 + int(60 * press)));
            p.fillRect(QRect(16, 16, s - 32, s - 32), g);
        }
        ok &= cover.save(QDir(dir).filePath(QStringLiteral("kc%1.png").arg(i)));
    }
    QImage ledFrame(40, 40, QImage::Format_ARGB32_Premultiplied);
    ledFrame.fill(Qt::transparent);
    {
        QPainter p(&ledFrame);
        p.setRenderHint(QPainter::Antialiasing);
        p.setPen(QPen(QColor(40, 40, 40), 4));
        p.drawEllipse(QRectF(4, 4, 32, 32));
    }
    ok &= ledFrame.save(QDir(dir).filePath(QStringLiteral("lf1.png")));
    QImage ledMask(40, 40, QImage::Format_ARGB32_Premultiplied);
    ledMask.fill(Qt::transparent);
    {
        QPainter p(&ledMask);
        p.setRenderHint(QPainter::Antialiasing);
        p.setBrush(Qt::white);
        p.setPen(Qt::NoPen);
        p.drawEllipse(QRectF(6, 6, 28, 28));
    }
    ok &= ledMask.save(QDir(dir).filePath(QStringLiteral("lm1.png")));
    QImage bk(240, 60, QImage::Format_RGB32);
    {
        QPainter p(&bk);
        QLinearGradient g(0, 0, 0, 60);
        g.setColorAt(0, QColor(90, 92, 96));
        g.setColorAt(1, QColor(50, 52, 56));
        p.fillRect(bk.rect(), g);
    }
    ok &= bk.save(QDir(dir).filePath(QStringLiteral("bk.png")));
    return ok;
}

// The key sequence of writeKeyPictures as layout text.
inline QString keySequence(const QString &name, int steps = 3, int fw = 60, int rv = 200)
{
    QString s = QStringLiteral("<image_sequence><name>%1</name>").arg(name);
    for (int i = 1; i <= steps; ++i)
        s += QStringLiteral("<frame>kf%1.png</frame>").arg(i);
    for (int i = 1; i <= steps; ++i)
        s += QStringLiteral("<display_mask>km%1.png</display_mask>").arg(i);
    for (int i = 1; i <= steps; ++i)
        s += QStringLiteral("<color_cover>kc%1.png</color_cover>").arg(i);
    s += QStringLiteral("<duration_fw>%1</duration_fw><duration_rv>%2</duration_rv>"
                        "</image_sequence>")
             .arg(fw)
             .arg(rv);
    return s;
}

// A face of rows x columns LCD keys (ids 1 up, row by row) on a 1200 x 240
// panel whose window is 600 x 120.
inline QString keyGridLayout(int rows, int columns)
{
    const int cell = 1200 / columns;
    const int key = cell * 8 / 10;
    QString s = QStringLiteral("<KTPPanel><background><image>bk.png</image></background><sizes>"
                               "<item_size><name>Panel</name><width>1200</width>"
                               "<height>240</height></item_size>"
                               "<item_size><name>Window</name><width>600</width>"
                               "<height>120</height></item_size>"
                               "<item_size><name>key</name><width>%1</width><height>%2</height>"
                               "</item_size></sizes>")
                    .arg(key)
                    .arg(std::min(key, 240 / rows * 8 / 10));
    s += keySequence(QStringLiteral("key"));
    for (int r = 0; r < rows; ++r) {
        s += QStringLiteral("<group><type>LCD</type><sequence>key</sequence><size>key</size>"
                            "<offset_x>%1</offset_x><offset_y>%2</offset_y>"
                            "<spacing>%3</spacing><item_range><id_first>%4</id_first>"
                            "<id_last>%5</id_last></item_range></group>")
                 .arg((cell - key) / 2)
                 .arg(r * (240 / rows) + (240 / rows) / 10)
                 .arg(cell - key)
                 .arg(r * columns + 1)
                 .arg((r + 1) * columns);
    }
    return s + QStringLiteral("</KTPPanel>");
}

} // namespace facefixture

#endif
