#ifndef PAN_HEADLESSFACE_H
#define PAN_HEADLESSFACE_H

// PAN_HeadlessFace: a panel face without drawing, for hosts that show no
// faces. It reads the face's layout and places its items as a face would,
// and offers the same buttons to the button driver (an LED, LCD key or
// display window for every such item with an id of 0 or more; a display
// starts with the text ":"), each keeping what the driver sets on it, so
// that what every key shows can be read back exactly as from a drawn face.

#include "button_shown.h"
#include "ibutton.h"
#include "pan_item.h"

#include <QColor>
#include <QList>
#include <QMap>
#include <QSize>
#include <QString>

#include <memory>
#include <vector>

class PAN_HeadlessButton : public buttondriver::IButton, public buttondriver::ShownSource
{
public:
    PAN_HeadlessButton(qint32 id, qint32 kind) : m_id(id) { m_shown.kind = kind; }

    void setColor(quint8 red, quint8 green, quint8 blue) override { m_shown.setColor(red, green, blue); }
    void setImage(const buttondriver::FaceImage &image, qint32 imageId) override
    {
        m_shown.setImage(image, imageId);
    }
    qint32 id() const override { return m_id; }
    bool isLED() const override { return m_shown.kind == KIND_LED; }
    void setText(const QString &text, qint32 flags) override { m_shown.setText(text, flags); }
    bool isVirtual() const override { return false; }
    IButton *mapped() const override { return m_mapped; }
    void setMapped(IButton *partner) override { m_mapped = partner; }
    qint32 kind() const override { return m_shown.kind; }

    const buttondriver::ButtonShown &shown() const override { return m_shown; }

private:
    qint32 m_id;
    IButton *m_mapped = nullptr;
    buttondriver::ButtonShown m_shown;
};

class PAN_HeadlessFace
{
public:
    // Reads the layout at path (a file, else the built-in ":/" + the path in
    // lower case) and places its items; false when it cannot be read or a
    // group names an unknown size or type (the items placed before stay).
    bool load(const QString &path);

    QSize panelSize() const { return m_panelSize; }
    // The face's background picture (a name for the image container) and
    // the colour under it.
    QString backgroundImage() const { return m_background; }
    QColor backgroundColor() const { return m_backgroundColor; }
    const QList<PAN_Item::Setup> &items() const { return m_items; }
    // The face's buttons by id, for ButtonSetterImpl::setButtons.
    QMap<qint32, buttondriver::IButton *> buttons() const;

private:
    QSize m_panelSize;
    QString m_background;
    QColor m_backgroundColor = QColor(0, 0, 0);
    QList<PAN_Item::Setup> m_items;
    std::vector<std::unique_ptr<PAN_HeadlessButton>> m_buttons;
};

#endif
