#ifndef RM_HOST_H
#define RM_HOST_H

// remote::Host: what the remote API needs of a host program (Keystead or
// panelrun): its panels, each panel's face as the button driver keeps it,
// and the operations a remote client may ask for. Everything runs on the
// host's GUI thread.

#include "pan_item.h"

#include <QColor>
#include <QImage>
#include <QList>
#include <QObject>
#include <QSize>
#include <QString>

namespace buttondriver {
class ButtonSetterImpl;
}

namespace remote {

struct PanelSummary
{
    int uid = 0;
    QString name;
    QString rack;  // empty when the host has no racks
    QString type;  // panel type name, empty for none
    QString ip;
    int port = 0;
    QString state; // "stopped", "starting", "started", "stopping", "error"
    QString error; // what went wrong, in state "error"
    bool online = false;
    bool configLoaded = false;
};

// A panel's face: its items in layout units and the button driver whose
// buttons hold what each shows.
struct FaceView
{
    QSize panelSize;
    QString background;     // the face's background picture, a picture name
    QColor backgroundColor; // the colour under it
    QList<PAN_Item::Setup> items;
    buttondriver::ButtonSetterImpl *setter = nullptr;
};

// Comm channels, as the face's comm indication shows them.
enum CommChannel { CommTransmit = 0, CommReceive = 1, CommSendFailure = 2 };

class Host : public QObject
{
    Q_OBJECT

public:
    using QObject::QObject;

    // Racks in order, each with the uids of its panels in order; a host
    // without racks gives one rack with an empty name.
    struct Rack
    {
        QString name;
        QList<int> panels;
    };
    virtual QList<Rack> racks() const = 0;
    virtual bool panel(int uid, PanelSummary *out) const = 0;
    // False for an unknown panel; a panel without a face gives an empty view.
    virtual bool face(int uid, FaceView *out) const = 0;
    // A comm indication's level, 0 (dark) to commLevels().
    virtual int commLevel(int uid, int channel) const = 0;
    virtual int commLevels() const { return 4; }
    // How long one beep of the buzzer sounds, in ms.
    virtual int beepMs() const { return 250; }

    // A key event into the panel's firmware; false when it is not running.
    virtual bool sendKey(int uid, int key, bool pressed) = 0;
    // Start and stop; on refusal false and why.
    virtual bool startPanel(int uid, QString *why) = 0;
    virtual bool stopPanel(int uid, QString *why) = 0;

    // Pictures as the face draws them; a null image and why when the host
    // cannot draw them.
    virtual QImage faceImage(int uid, QString *why) = 0;
    virtual QImage keyImage(int uid, int key, QString *why) = 0;
    // A picture the face shows on an item of its own (from the panel's
    // item picture files), not one the button driver set; null for none.
    virtual QImage itemPicture(int uid, int key) const
    {
        Q_UNUSED(uid);
        Q_UNUSED(key);
        return QImage();
    }
    // A picture of the face's set (frames, masks, covers, backgrounds) as
    // this host's faces find it: the host's picture directory before the
    // built-in pictures. Null when there is none of that name.
    virtual QImage facePicture(const QString &name) const
    {
        return QImage(QStringLiteral(":/images2/") + name);
    }

signals:
    // The panel's summary changed (state, online, configuration loaded).
    void panelChanged(int uid);
    // What these items of the panel show changed.
    void itemsChanged(int uid, const QList<qint32> &ids);
    // The panel sounded its buzzer.
    void beeped(int uid);
    // Panels were added, removed or moved.
    void panelsChanged();
};

} // namespace remote

#endif
