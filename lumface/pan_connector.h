#ifndef PAN_CONNECTOR_H
#define PAN_CONNECTOR_H

// Connector: what the button driver sees of one LED, LCD key or text display
// of a face. Colours, pictures and legends it is given go to the face's
// update limiter, which applies them to the item in batches (through the
// apply operations below); without a limiter they are applied at once.

#include "button_shown.h"
#include "face_image.h"
#include "ibutton.h"

#include <QObject>
#include <QPointer>
#include <QString>

class PAN_Item;
class PAN_Limiter;

class Connector : public QObject, public buttondriver::IButton, public buttondriver::ShownSource
{
    Q_OBJECT

public:
    Connector(PAN_Item *item, PAN_Limiter *limiter, bool useItemText, QObject *parent = nullptr);
    ~Connector() override;

    // IButton, in its order.
    void setColor(quint8 red, quint8 green, quint8 blue) override;
    void setImage(const buttondriver::FaceImage &image, qint32 imageId) override;
    qint32 id() const override;
    bool isLED() const override;
    void setText(const QString &text, qint32 flags) override;
    void refresh() override;
    bool isVirtual() const override { return false; }
    IButton *mapped() const override { return m_mapped; }
    void setMapped(IButton *partner) override { m_mapped = partner; }
    qint32 kind() const override;
    void setTag(qint32 tag) override { m_tag = tag; }
    qint32 tag() const override { return m_tag; }

    // What the driver last set, as the face shows it.
    const buttondriver::ButtonShown &shown() const override { return m_shown; }

    PAN_Item *item() const { return m_item; }
    bool useItemText() const { return m_useItemText; }
    bool pictureValid() const { return m_pictureValid; }
    const buttondriver::FaceImage &image() const { return m_image; }
    qint32 imageId() const { return m_imageId; }
    const QString &text() const { return m_text; }
    qint32 flags() const { return m_flags; }

    // Applying to the item (the limiter calls these).
    void applyColor(const QColor &color);
    void applyImage(const buttondriver::FaceImage &image);
    void applyText(const QString &text, qint32 flags);

    // The item is being destroyed.
    void itemGone() { m_item = nullptr; }
    // The limiter is being destroyed.
    void limiterGone() { m_limiter = nullptr; m_tag = -1; }

private:
    bool isDisplay() const;

    PAN_Item *m_item;
    PAN_Limiter *m_limiter;
    bool m_useItemText;
    QString m_text;
    qint32 m_flags = 0;
    bool m_pictureValid = false;
    buttondriver::FaceImage m_image;
    qint32 m_imageId = -1;
    IButton *m_mapped = nullptr;
    qint32 m_tag = -1;
    buttondriver::ButtonShown m_shown;
};

#endif
