#ifndef KST_REMOTEHOST_H
#define KST_REMOTEHOST_H

// KST_RemoteHost: the remote API's view of Keystead's panel set. Panels are
// known by their uid; what an item shows is read from the face's buttons
// as the panel's button driver set them, and pictures are drawn by the
// face itself. Key presses go to the firmware exactly as a click on the
// face sends them; starts are checked as the main window checks them.

#include "rm_host.h"

class KST_Data;
class KST_PanelInstance;

class KST_RemoteHost : public remote::Host
{
    Q_OBJECT

public:
    explicit KST_RemoteHost(KST_Data *data, QObject *parent = nullptr);

    QList<Rack> racks() const override;
    bool panel(int uid, remote::PanelSummary *out) const override;
    bool face(int uid, remote::FaceView *out) const override;
    int commLevel(int uid, int channel) const override;
    int commLevels() const override;
    int beepMs() const override;
    bool sendKey(int uid, int key, bool pressed) override;
    bool startPanel(int uid, QString *why) override;
    bool stopPanel(int uid, QString *why) override;
    QImage faceImage(int uid, QString *why) override;
    QImage keyImage(int uid, int key, QString *why) override;
    QImage itemPicture(int uid, int key) const override;
    QImage facePicture(const QString &name) const override;

    KST_PanelInstance *find(int uid) const;
    // The panel's switch for presses from browsers and the remote API.
    bool pressAllowed(int uid, QString *why) const;

private:
    // Follows every panel of the set (again after panels were added).
    void follow();
    void onState(KST_PanelInstance *p);
    void onFace(KST_PanelInstance *p, const QList<qint32> &ids);
    void onBeep(KST_PanelInstance *p);

    KST_Data *m_data;
};

#endif
