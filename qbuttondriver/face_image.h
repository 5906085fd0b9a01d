#ifndef FACE_IMAGE_H
#define FACE_IMAGE_H

// FaceImage: a 1-bit picture of an LCD key face, 24 rows high. A row is
// bytesPerLine() bytes, leftmost pixel in the most significant bit; a set bit
// is a lit pixel. The standard face is 36 pixels wide (5 bytes a row, 120
// bytes in all); wider images hold legends that scroll through the face.

#include <QByteArray>
#include <QtGlobal>

class QBitmap;
class QImage;

namespace buttondriver {

class FaceImage
{
public:
    enum {
        ROWS = 24,
        FACE_WIDTH = 36,     // pixels of the standard face
        FACE_CHARACTERS = 5, // legend characters that fill it
        // Upper bound on an image's characters; keeps the size arithmetic
        // far from overflow whatever a record asks for.
        MAX_CHARACTERS = 4096
    };

    // create(characters): an empty image n x 7 pixels wide when that exceeds
    // the face, else the face's 36 pixels (n is clamped to MAX_CHARACTERS).
    explicit FaceImage(int characters = FACE_CHARACTERS);

    int width() const { return m_width; }
    int bytesPerLine() const { return m_bytesPerLine; }
    const QByteArray &data() const { return m_data; }

    // Copies size bytes if size is exactly bytesPerLine() x 24; otherwise
    // prints "invalid image data, size = %d" and leaves the image as it was.
    bool setData(const char *bytes, qsizetype size);
    bool setData(const QByteArray &bytes) { return setData(bytes.constData(), bytes.size()); }

    // The bytes of one row; an invalid row prints "invalid line specified %d"
    // and gives an empty array.
    QByteArray line(int row) const;

    // Lights pixel x + k for every set bit 7 - k of bits, on rows 0..23 only;
    // columns left of 0 are skipped, and it stops at the image's width. Never
    // clears a pixel.
    void setPixels(int x, int row, quint8 bits);

    bool pixel(int x, int row) const;
    // True when no pixel inside the width is lit.
    bool isBlank() const;

    // Complements every byte.
    void invert();

    // Lights in target (a face-sized image, normally fresh) every pixel lit
    // in the 36-pixel window of this image starting at column offset. The
    // window must lie inside the image; otherwise it logs "invalid offset"
    // and leaves target unchanged.
    bool copyWindow(int offset, FaceImage &target) const;

    // The picture as a monochrome image of (width + 2 mx) x (24 + 2 my)
    // pixels, background clear (colour index 0), lit pixels set (index 1) at
    // (mx + x, my + row). A blank image gives a null image.
    QImage toImage(int marginX, int marginY) const;
    // The same as a bitmap (set pixels are color1), for the face items; a
    // blank image gives a null bitmap. Needs a QGuiApplication, as every
    // pixmap does.
    QBitmap toBitmap(int marginX, int marginY) const;

    bool operator==(const FaceImage &o) const
    {
        return m_width == o.m_width && m_data == o.m_data;
    }
    bool operator!=(const FaceImage &o) const { return !(*this == o); }

private:
    int m_width;
    int m_bytesPerLine;
    QByteArray m_data;
};

} // namespace buttondriver

#endif
