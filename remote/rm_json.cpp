#include "rm_json.h"

#include "button_setter_impl.h"
#include "button_shown.h"
#include "bd_records.h"
#include "builtin_images.h"
#include "legend.h"
#include "pan_layout.h"

#include <QJsonArray>

#include <algorithm>

namespace remote {

using buttondriver::ButtonSetterImpl;
using buttondriver::ButtonShown;
using buttondriver::FaceImage;
using buttondriver::IButton;

QString itemKindText(int type)
{
    switch (type) {
    case PAN_Item::TypeLED: return QStringLiteral("led");
    case PAN_Item::TypeLCD: return QStringLiteral("lcd");
    case PAN_Item::TypeShaftUp: return QStringLiteral("shaft_up");
    case PAN_Item::TypeShaftDown: return QStringLiteral("shaft_down");
    case PAN_Item::TypeShaft: return QStringLiteral("shaft");
    case PAN_Item::TypeVacuum: return QStringLiteral("display");
    case PAN_Item::TypeScreen: return QStringLiteral("screen");
    case PAN_Item::TypeWidget: return QStringLiteral("widget");
    case PAN_Item::TypeUtilButton: return QStringLiteral("utility");
    default: return QStringLiteral("other");
    }
}

QString colorText(const quint8 (&rgb)[3])
{
    static const char hex[] = "0123456789abcdef";
    char out[8] = {'#'};
    for (int i = 0; i < 3; ++i) {
        out[1 + 2 * i] = hex[rgb[i] >> 4];
        out[2 + 2 * i] = hex[rgb[i] & 15];
    }
    return QString::fromLatin1(out, 7);
}

bool lampLit(const quint8 (&rgb)[3])
{
    const int hi = std::max({rgb[0], rgb[1], rgb[2]});
    const int lo = std::min({rgb[0], rgb[1], rgb[2]});
    return hi >= 96 && hi - lo >= 96;
}

QJsonObject panelJson(const PanelSummary &p)
{
    QJsonObject o;
    o.insert(QStringLiteral("uid"), p.uid);
    o.insert(QStringLiteral("name"), p.name);
    o.insert(QStringLiteral("rack"), p.rack);
    o.insert(QStringLiteral("type"), p.type);
    o.insert(QStringLiteral("ip"), p.ip);
    o.insert(QStringLiteral("port"), p.port);
    o.insert(QStringLiteral("state"), p.state);
    o.insert(QStringLiteral("error"), p.error.isEmpty() ? QJsonValue() : QJsonValue(p.error));
    o.insert(QStringLiteral("online"), p.online);
    o.insert(QStringLiteral("configLoaded"), p.configLoaded);
    return o;
}

const PAN_Item::Setup *findItem(const FaceView &face, int id)
{
    for (qsizetype i = face.items.size() - 1; i >= 0; --i)
        if (face.items.at(i).id == id)
            return &face.items.at(i);
    return nullptr;
}

namespace {

QString bitmapText(const FaceImage &img)
{
    if (img.width() != FaceImage::FACE_WIDTH)
        return QString();
    return QString::fromLatin1(img.data().toBase64());
}

// The colour pair of a key with an upper and a lower colour area, as the
// face splits each component's two nibbles.
void splitColors(const quint8 (&rgb)[3], quint8 (&upper)[3], quint8 (&lower)[3])
{
    for (int i = 0; i < 3; ++i) {
        upper[i] = quint8(rgb[i] & 0xf0);
        lower[i] = quint8(rgb[i] << 4);
    }
}

void insertColor(QJsonObject &o, const PAN_Item::Setup &item, const quint8 (&rgb)[3],
                 const QString &key)
{
    o.insert(key, colorText(rgb));
    if (item.ledType == PAN_Layout::LedUpDownColors) {
        quint8 up[3], down[3];
        splitColors(rgb, up, down);
        o.insert(key + QStringLiteral("Upper"), colorText(up));
        o.insert(key + QStringLiteral("Lower"), colorText(down));
    }
}

void insertShown(QJsonObject &o, const FaceView &face, const PAN_Item::Setup &item, IButton *b)
{
    const auto *src = dynamic_cast<const buttondriver::ShownSource *>(b);
    if (!src)
        return;
    const ButtonShown &s = src->shown();
    ButtonSetterImpl *setter = face.setter;
    // A virtual button mapped onto this one flashes and animates for it.
    IButton *partner = b->mapped();

    if (s.kind != IButton::KIND_DISPLAY) {
        ButtonSetterImpl::FlashInfo f;
        const bool flashing = setter->flashInfo(b, &f)
                              || (partner && partner->isVirtual() && setter->flashInfo(partner, &f));
        if (flashing) {
            insertColor(o, item, f.color1, QStringLiteral("color"));
            QJsonObject flash;
            insertColor(flash, item, f.color2, QStringLiteral("color2"));
            flash.insert(QStringLiteral("ms1"), qint64(f.ms1));
            flash.insert(QStringLiteral("ms2"), qint64(f.ms2));
            flash.insert(QStringLiteral("phase"), f.phase);
            o.insert(QStringLiteral("flash"), flash);
            o.insert(QStringLiteral("lamp"), QStringLiteral("flashing"));
        } else {
            if (s.colorSet)
                insertColor(o, item, s.rgb, QStringLiteral("color"));
            else
                o.insert(QStringLiteral("color"), QJsonValue());
            o.insert(QStringLiteral("flash"), QJsonValue());
            o.insert(QStringLiteral("lamp"), s.colorSet && lampLit(s.rgb) ? QStringLiteral("on")
                                                                         : QStringLiteral("off"));
        }
    }
    if (s.kind == IButton::KIND_LED)
        return;

    ButtonSetterImpl::AnimInfo anim;
    const bool animating = setter->animInfo(b, &anim)
                           || (partner && partner->isVirtual() && setter->animInfo(partner, &anim));
    QString text;
    qint32 flags = 0;
    bool hasText = false;
    if (animating && anim.scroll) {
        text = anim.text;
        flags = qint32(anim.flags);
        hasText = true;
    } else if (s.textSet && !s.pictureSet) {
        text = s.text;
        flags = s.flags;
        hasText = true;
    }
    QJsonArray lines;
    if (hasText) {
        QStringList split = text.split(QLatin1Char('\n'));
        if (s.kind == IButton::KIND_DISPLAY)
            split = split.mid(0, std::max(1, item.vacuumLineCount));
        for (const QString &l : std::as_const(split))
            lines.append(l);
    }
    o.insert(QStringLiteral("text"), hasText ? QJsonValue(text) : QJsonValue());
    o.insert(QStringLiteral("lines"), lines);
    if (s.kind == IButton::KIND_DISPLAY)
        return;
    o.insert(QStringLiteral("flags"), flags);
    o.insert(QStringLiteral("scroll"), animating && anim.scroll);

    // The picture of the key's face: a stored picture, or the legend drawn.
    QJsonValue picture;
    QString bitmap;
    if (animating && !anim.scroll) {
        QJsonObject seq;
        QJsonArray ids;
        for (qint32 id : anim.imageIds)
            ids.append(id);
        seq.insert(QStringLiteral("ids"), ids);
        seq.insert(QStringLiteral("rate"), qint64(anim.rate));
        seq.insert(QStringLiteral("repeat"), qint64(anim.repeat));
        o.insert(QStringLiteral("sequence"), seq);
    } else {
        o.insert(QStringLiteral("sequence"), QJsonValue());
    }
    if (animating && anim.scroll) {
        // The window the scroll starts from.
        qsizetype widest = FaceImage::FACE_CHARACTERS;
        const QStringList scrollLines = text.split(QLatin1Char('\n'));
        for (int i = 0; i < scrollLines.size() && i < 3; ++i)
            widest = std::max(widest, scrollLines[i].size());
        FaceImage full(int(std::min<qsizetype>(widest, FaceImage::MAX_CHARACTERS)));
        buttondriver::renderLegend(full, text, flags);
        FaceImage first;
        full.copyWindow(0, first);
        bitmap = bitmapText(first);
    } else if (s.pictureSet) {
        QJsonObject pic;
        pic.insert(QStringLiteral("id"), s.imageId);
        QString source = QStringLiteral("uploaded");
        if (s.imageId < 0) {
            source = QStringLiteral("frame"); // a picture made by the driver
        } else if (s.imageId < buttondriver::BUILTIN_IMAGE_COUNT) {
            const FaceImage *stored = setter->image(s.imageId);
            const QByteArray builtin(reinterpret_cast<const char *>(buttondriver::builtinImageData(s.imageId)),
                                     buttondriver::IMAGE_DATA_SIZE);
            if (stored && stored->data() == builtin)
                source = QStringLiteral("builtin");
        }
        pic.insert(QStringLiteral("source"), source);
        picture = pic;
        bitmap = bitmapText(s.picture);
    } else if (hasText) {
        FaceImage legend;
        buttondriver::renderLegend(legend, text, flags);
        bitmap = bitmapText(legend);
    }
    o.insert(QStringLiteral("picture"), picture);
    o.insert(QStringLiteral("bitmap"), bitmap.isEmpty() ? QJsonValue() : QJsonValue(bitmap));
}

} // namespace

QJsonObject itemJson(const FaceView &face, const PAN_Item::Setup &item)
{
    QJsonObject o;
    o.insert(QStringLiteral("id"), item.id);
    o.insert(QStringLiteral("kind"), itemKindText(item.type));
    o.insert(QStringLiteral("x"), item.pos.x());
    o.insert(QStringLiteral("y"), item.pos.y());
    o.insert(QStringLiteral("w"), item.size.width());
    o.insert(QStringLiteral("h"), item.size.height());
    o.insert(QStringLiteral("pushable"), item.pushable);
    if (face.setter && item.id >= 0) {
        IButton *b = face.setter->buttons().value(item.id, nullptr);
        // Two items of one id: the driver's table holds the later one.
        if (b && findItem(face, item.id) == &item)
            insertShown(o, face, item, b);
    }
    return o;
}

QJsonObject faceJson(const FaceView &face)
{
    QJsonObject o;
    o.insert(QStringLiteral("width"), face.panelSize.width());
    o.insert(QStringLiteral("height"), face.panelSize.height());
    QJsonArray items;
    for (const PAN_Item::Setup &item : face.items)
        items.append(itemJson(face, item));
    o.insert(QStringLiteral("items"), items);
    return o;
}

} // namespace remote
