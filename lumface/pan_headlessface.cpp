#include "pan_headlessface.h"

#include "pan_layout.h"
#include "pan_placement.h"
#include "pan_uibuilder.h"

#include <QFile>

#include <algorithm>

bool PAN_HeadlessFace::load(const QString &path)
{
    m_items.clear();
    m_buttons.clear();
    m_panelSize = QSize();
    m_background.clear();
    m_backgroundColor = QColor(0, 0, 0);
    QFile file(path);
    if (path.isEmpty() || !file.open(QIODevice::ReadOnly)) {
        file.setFileName(QStringLiteral(":/") + path.toLower());
        if (path.isEmpty() || !file.open(QIODevice::ReadOnly)) {
            qCritical("failed to load layout %s (%s,%d)", qPrintable(path), __FILE__, __LINE__);
            return false;
        }
    }
    PAN_Layout layout;
    bool ok = layout.load(&file);
    const QSize panel = layout.size(QStringLiteral("Panel"));
    if (panel.width() > 0 && panel.height() > 0)
        m_panelSize = panel;
    m_background = layout.backgroundImage();
    m_backgroundColor = QColor(std::clamp(layout.backgroundRed(), 0, 255),
                               std::clamp(layout.backgroundGreen(), 0, 255),
                               std::clamp(layout.backgroundBlue(), 0, 255));
    for (const PAN_Layout::Group &g : layout.groups()) {
        if (!PAN_placeGroup(layout, g, PAN_UIBuilder::MaxItems, &m_items)) {
            ok = false;
            break;
        }
    }
    for (const PAN_Item::Setup &s : std::as_const(m_items)) {
        qint32 kind = buttondriver::IButton::KIND_OTHER;
        switch (s.type) {
        case PAN_Item::TypeLED: kind = buttondriver::IButton::KIND_LED; break;
        case PAN_Item::TypeLCD: kind = buttondriver::IButton::KIND_LCD; break;
        case PAN_Item::TypeVacuum: kind = buttondriver::IButton::KIND_DISPLAY; break;
        default: continue;
        }
        if (s.id < 0)
            continue;
        m_buttons.push_back(std::make_unique<PAN_HeadlessButton>(s.id, kind));
        if (kind == buttondriver::IButton::KIND_DISPLAY)
            m_buttons.back()->setText(QStringLiteral(":"), 0);
    }
    return ok;
}

QMap<qint32, buttondriver::IButton *> PAN_HeadlessFace::buttons() const
{
    QMap<qint32, buttondriver::IButton *> map;
    for (const auto &b : m_buttons)
        map.insert(b->id(), b.get());
    return map;
}
