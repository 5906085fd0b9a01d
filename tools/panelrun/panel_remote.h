#ifndef PANEL_REMOTE_H
#define PANEL_REMOTE_H

// The remote API's view of a panelrun rack: each panel's uid is its UDP
// port; its face is the rack's headless face, fed by the same records as a
// drawn face would be. panelrun draws nothing, so it gives no pictures.

#include "rm_host.h"

class PanelRack;

class PanelRemoteHost : public remote::Host
{
    Q_OBJECT

public:
    explicit PanelRemoteHost(PanelRack *rack, QObject *parent = nullptr);

    QList<Rack> racks() const override;
    bool panel(int uid, remote::PanelSummary *out) const override;
    bool face(int uid, remote::FaceView *out) const override;
    int commLevel(int uid, int channel) const override;
    bool sendKey(int uid, int key, bool pressed) override;
    bool startPanel(int uid, QString *why) override;
    bool stopPanel(int uid, QString *why) override;
    QImage faceImage(int uid, QString *why) override;
    QImage keyImage(int uid, int key, QString *why) override;

private:
    PanelRack *m_rack;
};

#endif
