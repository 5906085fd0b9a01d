#include "button_virtual.h"

namespace buttondriver {

ButtonVirtual::ButtonVirtual(qint32 id) : m_id(id), m_picture(FaceImage::FACE_CHARACTERS) {}

void ButtonVirtual::setColor(quint8 red, quint8 green, quint8 blue)
{
    m_red = red;
    m_green = green;
    m_blue = blue;
    m_colorValid = true;
    if (m_partner)
        m_partner->setColor(red, green, blue);
}

void ButtonVirtual::setImage(const FaceImage &image, qint32)
{
    m_picture = image;
    m_pictureValid = true;
    m_textValid = false;
    if (m_partner)
        m_partner->setImage(image, -1);
}

bool ButtonVirtual::isLED() const
{
    return m_partner ? m_partner->isLED() : false;
}

void ButtonVirtual::setText(const QString &text, qint32 flags)
{
    m_text = text;
    m_flags = flags;
    m_textValid = true;
    m_pictureValid = false;
    if (m_partner)
        m_partner->setText(text, flags);
}

void ButtonVirtual::setMapped(IButton *partner)
{
    if (partner == m_partner)
        return;
    m_partner = partner;
    if (!partner)
        return;
    if (m_colorValid)
        partner->setColor(m_red, m_green, m_blue);
    if (m_pictureValid)
        partner->setImage(m_picture, -1);
    if (m_textValid)
        partner->setText(m_text, m_flags);
}

qint32 ButtonVirtual::kind() const
{
    return m_partner ? m_partner->kind() : KIND_OTHER;
}

} // namespace buttondriver
