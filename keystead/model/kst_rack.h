#ifndef KST_RACK_H
#define KST_RACK_H

// KST_Rack: a named group of panels with a window of its own in which the
// faces of its visible panels are shown. The rack owns its panels and its
// window. Every panel's notifications are passed on by the rack's signals
// of the same name, so the panel set connects to racks only.

#include "arch_archivable.h"
#include "kst_itemdata.h"
#include "kst_panelinstance.h"
#include "kst_rackwidget.h"

#include <QByteArray>
#include <QList>
#include <QObject>
#include <QPointer>
#include <QRect>
#include <QString>

class KST_PanelInfo;

class KST_Rack : public QObject, public arch::Archivable, public ItemData
{
    Q_OBJECT

public:
    KST_Rack();
    // Deletes the panels (which stop their firmware), then the window.
    ~KST_Rack() override;

    QString name() const { return m_name; }
    // Also the window's title; the panels' tooltips show it.
    void setName(const QString &name);
    QString description() const { return m_desc; }
    void setDescription(const QString &desc) { m_desc = desc; }
    bool isExpanded() const { return m_expanded; }
    void setExpanded(bool on) { m_expanded = on; }
    bool isVisible() const { return m_visible; }
    // Shows or hides the rack window.
    void setVisible(bool visible);
    QByteArray uiData() const { return m_uiData; }
    void setUiData(const QByteArray &geometry) { m_uiData = geometry; }

    const QList<KST_PanelInstance *> &panels() const { return m_panels; }
    int panelCount() const { return m_panels.size(); }
    KST_PanelInstance *panel(int row) const { return m_panels.value(row); }
    // Takes ownership; row out of range appends. The panel's face moves into
    // the window when there is one.
    void insertPanel(int row, KST_PanelInstance *panel);
    // Gives up the panel at row (null when out of range): its notifications
    // are no longer passed on and it has no rack.
    KST_PanelInstance *takePanel(int row);

    // Window. createWindow builds it once (a second call only applies the
    // geometry); mainWindow may be null.
    void createWindow(QWidget *mainWindow, KST_PanelInfo *info, const KST_FaceResources &faces,
                      const QRect *geometry = nullptr);
    KST_RackWidget *window() const;
    KST_RackWidgetResizer *frame() const { return m_frame; }
    bool isWindowShown() const;
    // Shows (fading in) or hides the window without changing the stored flag.
    void showWindow();
    void hideWindow();
    // Lets the face of the panel at row grow into the window, or takes it
    // out; a face shown goes before the faces of the panels after it.
    void showPanel(int row, bool visible);
    // Builds every panel's face in the window.
    void initPanels(const QString &firmwareSource);
    // Builds one panel's face in the window (a panel added later).
    void initPanel(KST_PanelInstance *panel, const QString &firmwareSource);
    // Fits the window to the faces shown.
    void updateLayout();
    // Takes the window's current geometry into the stored geometry.
    void storeGeometry();
    // The window was made without a place to open at (no geometry given and
    // none stored): it waits, hidden, until placeWindow() gives it one.
    bool awaitsPlacement() const { return m_awaitsPlacement; }
    // The frame height the window needs to show its faces in full at a
    // frame width, and to show its tallest face alone (0 without window).
    int wantedHeight(int frameWidth, int *oneFace = nullptr) const;
    // Gives the window its place (frame geometry) and shows it when the
    // rack is visible.
    void placeWindow(const QRect &frame);
    // The window's title and the panels' tooltips after a rename or load.
    void refresh();

    // arch::Archivable
    bool save(arch::Itemo *node) const override;
    bool load(const arch::Itemi *node) override;
    // ItemData
    int rowOfChild(ItemData *child) const override;
    KST_Rack *asRack() override { return this; }
    int childCount() const override { return m_panels.size(); }
    ItemData *child(int row) const override;
    QString itemName() const override { return m_name; }
    void childShown(ItemData *child, bool visible) override;

signals:
    void resize_finished();
    void closed(KST_Rack *rack);
    void panelStateChanged(KST_PanelInstance *panel);
    void onlineStateChanged(KST_PanelInstance *panel);
    void configLoaded(KST_PanelInstance *panel);

public slots:
    void rackWindowClosed();

private:
    void adopt(KST_PanelInstance *panel);
    void placeFace(KST_PanelInstance *panel);

    QPointer<KST_RackWidgetResizer> m_frame;
    QString m_name;
    QString m_desc;
    bool m_expanded = false;
    bool m_visible = false;
    KST_PanelInfo *m_panelInfo = nullptr;
    QList<KST_PanelInstance *> m_panels;
    KST_FaceResources m_faces;
    QByteArray m_uiData;
    bool m_awaitsPlacement = false;
};

#endif
