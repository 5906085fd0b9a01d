#include "pan_placement.h"

bool PAN_placeGroup(const PAN_Layout &L, const PAN_Layout::Group &g, qsizetype maxItems,
                    QList<PAN_Item::Setup> *out)
{
    if (!L.hasSize(g.size)) {
        qCritical("PAN_UIBuilder: size not found %s (%s,%d)", qPrintable(g.size), __FILE__,
                  __LINE__);
        return false;
    }
    const QSize size = L.size(g.size);
    const int type = PAN_Item::typeFromText(g.type);
    if (type == PAN_Item::TypeNone) {
        qCritical("PAN_UIBuilder::setup, invalid type %s (%s,%d)", qPrintable(g.type), __FILE__,
                  __LINE__);
        return false;
    }

    // The listed ids first, then the range; the counts are checked before
    // anything is expanded.
    auto rangeCount = [](int first, int last) -> qint64 {
        return (first != -1 && last != -1 && first <= last) ? qint64(last) - first + 1 : 0;
    };
    const qint64 ids = g.itemIds.size() + rangeCount(g.idFirst, g.idLast);
    const qint64 shafts = rangeCount(g.shaftIdFirst, g.shaftIdLast);
    if (ids + out->size() > maxItems || shafts > maxItems) {
        qCritical("PAN_UIBuilder::setup, too many items in group %s (%s,%d)", qPrintable(g.name),
                  __FILE__, __LINE__);
        return false;
    }
    QList<int> idList = g.itemIds;
    for (qint64 id = g.idFirst; rangeCount(g.idFirst, g.idLast) && id <= g.idLast; ++id)
        idList << int(id);
    QList<int> shaftList;
    for (qint64 id = g.shaftIdFirst; shafts && id <= g.shaftIdLast; ++id)
        shaftList << int(id);

    const PAN_Layout::ImageSequence sequence = L.sequence(g.sequence);
    const double step = double(size.width()) + g.spacing;
    for (int i = 0; i < idList.size(); ++i) {
        const int id = idList.at(i);
        if (id == -1)
            continue; // an empty place
        PAN_Item::Setup s;
        s.type = type;
        s.id = id;
        s.shaftId = i < shaftList.size() ? shaftList.at(i) : -1;
        s.name = g.name;
        s.pos = QPointF(double(g.offsetX) + i * step, double(g.offsetY));
        s.size = QSizeF(size);
        s.sequence = sequence;
        s.pushable = g.pushable;
        s.keepAspect = g.keepAspect;
        s.vacuumLineCount = g.vacuumLineCount;
        s.vacuumCharPerLine = g.vacuumCharPerLine;
        s.ledType = (type == PAN_Item::TypeLED || type == PAN_Item::TypeLCD) ? g.ledType
                                                                               : PAN_Layout::LedPlain;
        out->append(s);
    }
    return true;
}
