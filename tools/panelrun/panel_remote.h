#ifndef PANEL_REMOTE_H
#define PANEL_REMOTE_H

// The remote API's view of a panelrun rack: each panel's uid is its UDP
// port; its face is the rack's headless face, fed by the same records as a
// drawn face would be. panelrun draws nothing, so it gives no pictures.

#include "rm_host.h"

#include <QList>
#include <QPair>

class PanelRack;

// The panels (by port) that take presses from browsers and the remote API:
// "all", "none" or a list of ports and ranges, "2001,2003-2005".
class PortSet
{
public:
    bool parse(const QString &text);
    bool contains(int port) const;

private:
    bool m_all = true;
    QList<QPair<int, int>> m_ranges;
};

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
