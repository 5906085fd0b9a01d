#ifndef SNAP_HOST_H
#define SNAP_HOST_H

// The remote API's view of the face facesnap drew (facesnap --serve): one
// panel, uid 1, whose face and button driver are facesnap's own, so that a
// browser can show the very records the picture was drawn from. Nothing
// runs behind the face: presses are refused.

#include "rm_host.h"

class PAN_ImageContainer;
class PAN_Widget;

class SnapHost : public remote::Host
{
    Q_OBJECT

public:
    SnapHost(PAN_Widget *face, buttondriver::ButtonSetterImpl *setter, const QString &name,
             PAN_ImageContainer *images, QObject *parent = nullptr);

    QList<Rack> racks() const override;
    bool panel(int uid, remote::PanelSummary *out) const override;
    bool face(int uid, remote::FaceView *out) const override;
    int commLevel(int, int) const override { return 0; }
    bool sendKey(int, int, bool) override { return false; }
    bool startPanel(int, QString *why) override;
    bool stopPanel(int, QString *why) override;
    QImage faceImage(int uid, QString *why) override;
    QImage keyImage(int uid, int key, QString *why) override;
    QImage facePicture(const QString &name) const override;

private:
    PAN_Widget *m_face;
    buttondriver::ButtonSetterImpl *m_setter;
    QString m_name;
    PAN_ImageContainer *m_images;
};

#endif
