#include "pan_connector.h"

#include "legend.h"
#include "pan_displaytext.h"
#include "pan_item.h"
#include "pan_limiter.h"

Connector::Connector(PAN_Item *item, PAN_Limiter *limiter, bool useItemText, QObject *parent)
    : QObject(parent), m_item(item), m_limiter(limiter), m_useItemText(useItemText)
{
    m_shown.kind = kind();
}

Connector::~Connector()
{
    if (m_limiter)
        m_limiter->forget(this);
    if (m_item && m_item->connector() == this)
        m_item->setConnector(nullptr);
}

bool Connector::isDisplay() const
{
    return m_item && m_item->itemType() == PAN_Item::TypeVacuum;
}

qint32 Connector::id() const
{
    return m_item ? m_item->id() : -1;
}

bool Connector::isLED() const
{
    return m_item && m_item->itemType() == PAN_Item::TypeLED;
}

qint32 Connector::kind() const
{
    if (!m_item)
        return KIND_OTHER;
    switch (m_item->itemType()) {
    case PAN_Item::TypeLED: return KIND_LED;
    case PAN_Item::TypeLCD: return KIND_LCD;
    case PAN_Item::TypeVacuum: return KIND_DISPLAY;
    default: return KIND_OTHER;
    }
}

void Connector::setColor(quint8 red, quint8 green, quint8 blue)
{
    m_shown.setColor(red, green, blue);
    if (isDisplay())
        return; // displays have their own colours
    const QColor c(red, green, blue);
    if (m_limiter)
        m_limiter->setColor(this, c);
    else
        applyColor(c);
}

void Connector::setImage(const buttondriver::FaceImage &image, qint32 imageId)
{
    m_shown.setImage(image, imageId);
    m_image = image;
    m_imageId = imageId;
    m_pictureValid = true;
    if (isDisplay())
        return;
    if (m_limiter)
        m_limiter->setImage(this, image);
    else
        applyImage(image);
}

void Connector::setText(const QString &text, qint32 flags)
{
    m_shown.setText(text, flags);
    m_pictureValid = false;
    m_text = text;
    m_flags = flags;
    if (isLED())
        return; // LEDs have no legend
    if (m_limiter)
        m_limiter->setText(this, text, flags);
    else
        applyText(text, flags);
}

void Connector::refresh()
{
    if (m_limiter) {
        m_limiter->refresh(this);
        return;
    }
    if (m_pictureValid) {
        if (!isDisplay())
            applyImage(m_image);
    } else if (!isLED()) {
        applyText(m_text, m_flags);
    }
}

void Connector::applyColor(const QColor &color)
{
    if (m_item)
        m_item->setColor(color);
}

void Connector::applyImage(const buttondriver::FaceImage &image)
{
    if (m_item)
        m_item->setLegendBitmap(image.toBitmap(2, 2));
}

void Connector::applyText(const QString &text, qint32 flags)
{
    if (!m_item)
        return;
    if (isDisplay()) {
        if (m_useItemText) {
            m_item->setText(text, flags);
        } else {
            m_item->setPicture(QPixmap::fromImage(pan_display::renderBitmapText(
                text, m_item->setup().vacuumLineCount, m_item->setup().vacuumCharPerLine)));
        }
        return;
    }
    if (m_useItemText) {
        m_item->setText(text, flags);
        return;
    }
    // The legend as the key's own picture, exactly as an uploaded picture
    // would show.
    buttondriver::FaceImage legend;
    buttondriver::renderLegend(legend, text, flags);
    m_image = legend;
    m_imageId = -1;
    m_pictureValid = true;
    applyImage(legend);
}
