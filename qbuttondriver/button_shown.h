#ifndef BUTTON_SHOWN_H
#define BUTTON_SHOWN_H

// ButtonShown: what one face button shows as the button driver last set it
// (its colour, its legend or display text with the legend flags, or its
// picture). A face's buttons keep one each, with or without drawing, so
// that a host can tell what every key shows. The rules of what a kind of
// button takes are those of the face: a display window ignores colours and
// pictures, an LED ignores legends.

#include "face_image.h"
#include "ibutton.h"

#include <QString>
#include <QtGlobal>

namespace buttondriver {

struct ButtonShown
{
    qint32 kind = IButton::KIND_OTHER;
    bool colorSet = false;
    quint8 rgb[3] = {0, 0, 0};
    bool textSet = false;
    QString text;
    qint32 flags = 0;
    // A picture shows instead of the text (never on a display window).
    bool pictureSet = false;
    FaceImage picture;
    qint32 imageId = -1; // -1: not a stored image (a scroll window)

    void setColor(quint8 red, quint8 green, quint8 blue)
    {
        if (kind == IButton::KIND_DISPLAY)
            return;
        colorSet = true;
        rgb[0] = red;
        rgb[1] = green;
        rgb[2] = blue;
    }
    void setImage(const FaceImage &image, qint32 id)
    {
        if (kind == IButton::KIND_DISPLAY)
            return;
        pictureSet = true;
        picture = image;
        imageId = id;
    }
    void setText(const QString &t, qint32 f)
    {
        if (kind == IButton::KIND_LED)
            return;
        textSet = true;
        text = t;
        flags = f;
        pictureSet = false;
    }
};

// Implemented by the buttons that keep a ButtonShown.
class ShownSource
{
public:
    virtual ~ShownSource() = default;
    virtual const ButtonShown &shown() const = 0;
};

} // namespace buttondriver

#endif
