#include "face_image.h"

#include <QBitmap>
#include <QImage>

#include <algorithm>
#include <cstdio>

namespace buttondriver {

FaceImage::FaceImage(int characters)
{
    const int n = std::clamp(characters, 0, int(MAX_CHARACTERS));
    m_width = n * 7 > FACE_WIDTH ? n * 7 : FACE_WIDTH;
    m_bytesPerLine = (m_width + 7) / 8;
    m_data = QByteArray(qsizetype(m_bytesPerLine) * ROWS, '\0');
}

bool FaceImage::setData(const char *bytes, qsizetype size)
{
    if (size != m_data.size() || bytes == nullptr) {
        printf("invalid image data, size = %d\n", int(size));
        return false;
    }
    std::copy(bytes, bytes + size, m_data.begin());
    return true;
}

QByteArray FaceImage::line(int row) const
{
    // A negative row is as invalid as one past the bottom.
    if (row < 0 || row >= ROWS) {
        printf("invalid line specified %d\n", row);
        return QByteArray();
    }
    return m_data.mid(qsizetype(row) * m_bytesPerLine, m_bytesPerLine);
}

void FaceImage::setPixels(int x, int row, quint8 bits)
{
    if (row < 0 || row >= ROWS)
        return;
    char *rowData = m_data.data() + qsizetype(row) * m_bytesPerLine;
    for (int k = 0; k < 8; ++k) {
        if (!(bits & (0x80 >> k)))
            continue;
        const qint64 col = qint64(x) + k;
        if (col < 0)
            continue;
        if (col >= m_width)
            break;
        rowData[col / 8] = char(rowData[col / 8] | (0x80 >> (col % 8)));
    }
}

bool FaceImage::pixel(int x, int row) const
{
    if (x < 0 || x >= m_width || row < 0 || row >= ROWS)
        return false;
    const uchar b = uchar(m_data[qsizetype(row) * m_bytesPerLine + x / 8]);
    return b & (0x80 >> (x % 8));
}

bool FaceImage::isBlank() const
{
    for (int row = 0; row < ROWS; ++row)
        for (int x = 0; x < m_width; ++x)
            if (pixel(x, row))
                return false;
    return true;
}

void FaceImage::invert()
{
    for (char &c : m_data)
        c = char(~c);
}

bool FaceImage::copyWindow(int offset, FaceImage &target) const
{
    // A negative offset would read left of the image.
    if (offset < 0 || qint64(offset) + FACE_WIDTH > m_width) {
        qCritical("invalid offset %d %d (%s,%d)", offset, m_width, __FILE__, __LINE__);
        return false;
    }
    for (int row = 0; row < ROWS; ++row)
        for (int x = 0; x < FACE_WIDTH; ++x)
            if (pixel(offset + x, row))
                target.setPixels(x, row, 0x80);
    return true;
}

QImage FaceImage::toImage(int marginX, int marginY) const
{
    if (isBlank())
        return QImage();
    const int mx = std::max(marginX, 0);
    const int my = std::max(marginY, 0);
    QImage img(m_width + 2 * mx, ROWS + 2 * my, QImage::Format_Mono);
    // Index 0 clear (white), index 1 set (black): what QBitmap expects.
    img.setColorTable({qRgb(255, 255, 255), qRgb(0, 0, 0)});
    img.fill(0);
    // Only pixels inside the width: the spare bits at the end of each row
    // (lit after an invert) are not part of the picture.
    for (int row = 0; row < ROWS; ++row)
        for (int x = 0; x < m_width; ++x)
            if (pixel(x, row))
                img.setPixel(mx + x, my + row, 1);
    return img;
}

QBitmap FaceImage::toBitmap(int marginX, int marginY) const
{
    const QImage img = toImage(marginX, marginY);
    if (img.isNull())
        return QBitmap();
    return QBitmap::fromImage(img, Qt::MonoOnly | Qt::ThresholdDither);
}

} // namespace buttondriver
