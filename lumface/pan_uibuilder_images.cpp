// The face builder's pictures from files: the item image mapper and the
// user's custom key pictures.

#include "pan_uibuilder.h"

#include "arch_archi.h"
#include "arch_archo.h"
#include "pan_imagecontainer.h"
#include "pan_item.h"

#include <QFile>
#include <QHash>
#include <QPixmap>
#include <QSet>
#include <QXmlStreamReader>

namespace {

const char *const kCustomImagesName = "customImages";

} // namespace

bool PAN_UIBuilder::setupMappedImages(QIODevice *dev)
{
    QHash<int, QString> images;
    QSet<int> custom;
    QXmlStreamReader r(dev);
    // "Item" elements wherever they stand; everything else is ignored.
    while (!r.atEnd()) {
        r.readNext();
        if (!r.isStartElement() || r.name() != QLatin1String("Item"))
            continue;
        bool haveId = false;
        int id = 0;
        QString image;
        bool isCustom = false;
        while (r.readNextStartElement()) {
            if (r.name() == QLatin1String("id")) {
                bool ok = false;
                id = r.readElementText().trimmed().toInt(&ok, 10);
                if (!ok)
                    id = 0;
                haveId = true;
            } else if (r.name() == QLatin1String("image")) {
                image = r.readElementText().trimmed();
            } else if (r.name() == QLatin1String("custom")) {
                isCustom = true;
                r.skipCurrentElement();
            } else {
                r.skipCurrentElement();
            }
        }
        if (!haveId)
            continue;
        if (!image.isEmpty())
            images.insert(id, image);
        if (isCustom)
            custom.insert(id);
    }
    if (r.hasError()) {
        qWarning("PAN_UIBuilder::load, xml error %s (line %lld) (%s,%d)",
                 qPrintable(r.errorString()), r.lineNumber(), __FILE__, __LINE__);
        return false;
    }

    // Only LEDs take mapped pictures.
    for (PAN_Item *item : std::as_const(m_items)) {
        if (item->itemType() != PAN_Item::TypeLED)
            continue;
        const auto it = images.constFind(item->id());
        if (it != images.constEnd()) {
            const QImage img = m_images->getOriginal(*it);
            if (img.isNull())
                qWarning("PAN_UIBuilder::setupMappedImages, failed to load \"%s\" (%s,%d)",
                         qPrintable(*it), __FILE__, __LINE__);
            else
                item->setPicture(QPixmap::fromImage(img));
        }
        if (custom.contains(item->id()))
            item->setAcceptsCustomPictures(true);
    }
    return true;
}

bool PAN_UIBuilder::loadCustomImages()
{
    QFile file(m_customFile);
    if (m_customFile.isEmpty() || !file.open(QIODevice::ReadOnly))
        return false;
    arch::Archi archive;
    if (!archive.load(&file)) {
        qCritical("FAILED to parse custom image file %s (%s,%d)", qPrintable(m_customFile),
                  __FILE__, __LINE__);
        return false;
    }
    QMap<int, QImage> stored;
    archive.root()->get(QString::fromLatin1(kCustomImagesName), stored);
    for (auto it = stored.cbegin(); it != stored.cend(); ++it) {
        if (it.value().isNull()) {
            qWarning("custom image of button %d unreadable (%s,%d)", it.key(), __FILE__,
                     __LINE__);
            continue;
        }
        m_custom.insert(it.key(), it.value());
        if (PAN_Item *item = this->item(it.key()))
            item->setPicture(QPixmap::fromImage(it.value()));
        else
            qWarning("invalid button id %d (%s,%d)", it.key(), __FILE__, __LINE__);
    }
    return true;
}

bool PAN_UIBuilder::setCustomImage(int id, const QImage &image)
{
    m_custom.insert(id, image);
    arch::Archo archive;
    archive.root()->put(QString::fromLatin1(kCustomImagesName), m_custom);
    if (m_customFile.isEmpty() || !archive.saveFile(m_customFile)) {
        qCritical("could not save custom images list %s (%s,%d)", qPrintable(m_customFile),
                  __FILE__, __LINE__);
        return false;
    }
    return true;
}
