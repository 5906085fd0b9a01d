#ifndef BUTTON_VIRTUAL_H
#define BUTTON_VIRTUAL_H

// ButtonVirtual: a button with no face of its own. It keeps the last colour
// and the last picture or text it was given and shows them through the
// physical button it is mapped with, at once when mapped and on every change
// after that.

#include "face_image.h"
#include "ibutton.h"

namespace buttondriver {

class ButtonVirtual : public IButton
{
public:
    explicit ButtonVirtual(qint32 id);

    void setColor(quint8 red, quint8 green, quint8 blue) override;
    // Passed on with image id -1: the partner shows a copy, not a stored image.
    void setImage(const FaceImage &image, qint32 imageId) override;
    qint32 id() const override { return m_id; }
    // LED-ness and kind are the partner's (false and KIND_OTHER without one).
    bool isLED() const override;
    void setText(const QString &text, qint32 flags) override;
    bool isVirtual() const override { return true; }
    IButton *mapped() const override { return m_partner; }
    // Takes a new partner and shows it the stored colour, then the stored
    // picture or text. Unmapping the old partner is the driver's job.
    void setMapped(IButton *partner) override;
    qint32 kind() const override;

private:
    qint32 m_id;
    IButton *m_partner = nullptr;
    bool m_colorValid = true;
    quint8 m_red = 0;
    quint8 m_green = 0;
    quint8 m_blue = 0;
    bool m_pictureValid = false;
    FaceImage m_picture;
    bool m_textValid = true;
    QString m_text;
    qint32 m_flags = 0;
};

} // namespace buttondriver

#endif
