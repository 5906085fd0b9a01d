// KST_Data: adding and removing racks and panels, checking a panel before
// it starts, the timed start of windows, faces and panels, and the panels'
// notifications turned into cell updates.

#include "kst_data.h"
#include "kst_rackplacement.h"

#include "kst_rack.h"
#include "kst_rackwidget.h"
#include "pan_imagecontainer.h"

#include <QSet>
#include <QApplication>
#include <QGuiApplication>
#include <QScreen>
#include <QStyle>
#include <QWidget>
#include <QWindow>
#include <QtDebug>

#include <algorithm>

// ---- Racks and panels -----------------------------------------------------------

QRect KST_Data::cascadeGeometry(const QRect &mainFrame, int rackCount)
{
    const int n = rackCount % 10 + 1;
    const QPointF centre = QRectF(mainFrame).center();
    return QRect(qRound(centre.x() + 4 * n), qRound(centre.y() + 4 * n),
                 qRound(mainFrame.width() / 2.0), qRound(mainFrame.height() / 2.0));
}

void KST_Data::connectRack(KST_Rack *rack)
{
    rack->setParentItem(this);
    connect(rack, &KST_Rack::resize_finished, this, &KST_Data::rackResized, Qt::UniqueConnection);
    connect(rack, &KST_Rack::closed, this, &KST_Data::rack_closed, Qt::UniqueConnection);
    connect(rack, &KST_Rack::panelStateChanged, this, &KST_Data::panelStateChanged,
            Qt::UniqueConnection);
    connect(rack, &KST_Rack::panelStateChanged, this, &KST_Data::panelStateChanged2,
            Qt::UniqueConnection);
    connect(rack, &KST_Rack::onlineStateChanged, this, &KST_Data::onlineStateChanged,
            Qt::UniqueConnection);
    connect(rack, &KST_Rack::configLoaded, this, &KST_Data::configLoaded, Qt::UniqueConnection);
}

void KST_Data::createRackWindow(KST_Rack *rack, const QRect *geometry)
{
    if (!m_faces.images) {
        m_ownImages = std::make_unique<PAN_ImageContainer>();
        m_faces.images = m_ownImages.get();
    }
    rack->createWindow(m_mainWindow, &m_panelInfo, m_faces, geometry);
}

void KST_Data::placeNewRackWindows()
{
    // The width the demonstration's rack window has: SK-series faces show
    // their legends readably from there on.
    enum { ReadableWidth = 960, Gap = 4 };
    QList<KST_Rack *> racks;
    for (KST_Rack *rack : qAsConst(m_racks))
        if (rack->awaitsPlacement())
            racks << rack;
    if (racks.isEmpty())
        return;
    QScreen *screen = m_mainWindow ? m_mainWindow->screen() : QGuiApplication::primaryScreen();
    const QRect available = screen ? screen->availableGeometry() : QRect(0, 0, 1024, 768);
    // Beside the main window where the screen has room for that (the main
    // window comes to the front whenever a rack window it covers is
    // raised): the largest strip of the screen that it leaves free, when
    // that is at least half the screen.
    QRect area = available;
    if (m_mainWindow && m_mainWindow->isVisible()) {
        const QRect m = m_mainWindow->frameGeometry().intersected(available);
        if (!m.isEmpty()) {
            const QRect a = available;
            const QRect strips[] = {
                QRect(QPoint(a.left(), m.bottom() + 1), a.bottomRight()),
                QRect(a.topLeft(), QPoint(a.right(), m.top() - 1)),
                QRect(QPoint(m.right() + 1, a.top()), a.bottomRight()),
                QRect(a.topLeft(), QPoint(m.left() - 1, a.bottom()))};
            QRect best;
            for (const QRect &r : strips)
                if (r.isValid() && qint64(r.width()) * r.height() > qint64(best.width()) * best.height())
                    best = r;
            if (qint64(best.width()) * best.height() * 2 >= qint64(a.width()) * a.height())
                area = best;
        }
    }
    // Room for the title bar the window manager adds over each window, and
    // for the borders at its sides and foot: as wide as the main window's
    // where it has them, a few pixels where it is not shown yet.
    const int titleBar = QApplication::style()->pixelMetric(QStyle::PM_TitleBarHeight);
    int border = 4;
    if (m_mainWindow && m_mainWindow->isVisible() && m_mainWindow->windowHandle()) {
        const QMargins m = m_mainWindow->windowHandle()->frameMargins();
        border = std::max({m.left(), m.right(), m.bottom(), 0});
    }
    area.adjust(border, titleBar, -border, -border);
    const int width = std::min(int(ReadableWidth), area.width());
    QList<int> wanted, minimum;
    for (KST_Rack *rack : qAsConst(racks)) {
        int oneFace = 0;
        wanted << rack->wantedHeight(width, &oneFace);
        // A rack without faces in view still gets a window to drop them in.
        minimum << std::max(oneFace, width / 8);
    }
    const QList<QRect> places = KST_placeRackWindows(area, width, wanted, minimum, Gap, Gap + titleBar);
    for (int i = 0; i < racks.size() && i < places.size(); ++i)
        racks[i]->placeWindow(places[i]);
}

void KST_Data::insertRack(int position, KST_Rack *rack)
{
    if (position < 0 || position > m_racks.size())
        position = m_racks.size();
    beginInsertRows(QModelIndex(), position, position);
    m_racks.insert(position, rack);
    connectRack(rack);
    endInsertRows();
}

KST_Rack *KST_Data::takeRack(int row)
{
    beginRemoveRows(QModelIndex(), row, row);
    KST_Rack *rack = m_racks.takeAt(row);
    disconnect(rack, nullptr, this, nullptr);
    rack->setParentItem(nullptr);
    endRemoveRows();
    return rack;
}

void KST_Data::insertPanel(KST_Rack *rack, int row, KST_PanelInstance *panel)
{
    if (row < 0 || row > rack->panelCount())
        row = rack->panelCount();
    beginInsertRows(indexOfItem(rack), row, row);
    rack->insertPanel(row, panel);
    endInsertRows();
}

KST_PanelInstance *KST_Data::takePanel(KST_Rack *rack, int row)
{
    beginRemoveRows(indexOfItem(rack), row, row);
    KST_PanelInstance *panel = rack->takePanel(row);
    endRemoveRows();
    return panel;
}

KST_Rack *KST_Data::addRack(int position)
{
    auto *rack = new KST_Rack;
    rack->setName(QStringLiteral("rack"));
    connectRack(rack);
    if (m_mainWindow) {
        const QRect frame = cascadeGeometry(m_mainWindow->frameGeometry(), m_racks.size());
        createRackWindow(rack, &frame);
    } else {
        createRackWindow(rack, nullptr);
    }
    insertRack(position, rack);
    return rack;
}

KST_PanelInstance *KST_Data::addPanel(int rackRow, int panelRow)
{
    if (m_racks.isEmpty())
        addRack(-1);
    rackRow = qBound(0, rackRow, int(m_racks.size()) - 1);
    KST_Rack *rack = m_racks.at(rackRow);
    if (!rack->window())
        createRackWindow(rack, nullptr);

    auto *panel = new KST_PanelInstance(nextFreeUid());
    rack->initPanel(panel, m_firmwareSource);
    insertPanel(rack, panelRow, panel);
    rack->updateLayout();
    if (m_initialised)
        placeNewRackWindows();
    setChanged();
    // The face is shown, and with it the rack's window.
    const bool rackWasVisible = rack->isVisible();
    panel->setVisible(true);
    if (!rackWasVisible) {
        rack->setVisible(true);
        const QModelIndex r = indexOfItem(rack);
        emit dataChanged(r.siblingAtColumn(ColVisible), r.siblingAtColumn(ColVisible));
    }
    return panel;
}

void KST_Data::removePanels(const QList<KST_PanelInstance *> &panels, bool del)
{
    struct Place
    {
        KST_Rack *rack;
        int rackRow;
        int row;
    };
    QList<Place> places;
    for (KST_PanelInstance *p : panels) {
        int rackRow = -1, row = -1;
        if (!findPanel(p, rackRow, row)) {
            qCritical("invalid rack,panel index (%s,%d)", __FILE__, __LINE__);
            continue;
        }
        bool twice = false;
        for (const Place &pl : qAsConst(places))
            twice |= pl.rackRow == rackRow && pl.row == row;
        if (!twice)
            places.append({m_racks.at(rackRow), rackRow, row});
    }
    // From the highest row, so the rows still to go keep their numbers.
    std::sort(places.begin(), places.end(), [](const Place &a, const Place &b) {
        return a.rackRow != b.rackRow ? a.rackRow > b.rackRow : a.row > b.row;
    });
    QList<KST_Rack *> touched;
    for (const Place &pl : qAsConst(places)) {
        KST_PanelInstance *p = takePanel(pl.rack, pl.row);
        if (!touched.contains(pl.rack))
            touched.append(pl.rack);
        if (del && p) {
            p->removeFiles();
            delete p;
        }
    }
    for (KST_Rack *r : qAsConst(touched))
        r->updateLayout();
    if (!places.isEmpty())
        setChanged();
}

void KST_Data::removeRacks(const QList<KST_Rack *> &racks, bool del)
{
    QList<int> rows;
    for (KST_Rack *r : racks) {
        const int row = r ? int(m_racks.indexOf(r)) : -1;
        if (row < 0) {
            qCritical("invalid rack index (%s,%d)", __FILE__, __LINE__);
            continue;
        }
        if (!rows.contains(row))
            rows.append(row);
    }
    std::sort(rows.begin(), rows.end(), std::greater<int>());
    for (int row : qAsConst(rows)) {
        KST_Rack *rack = takeRack(row);
        if (del) {
            for (KST_PanelInstance *p : rack->panels())
                p->removeFiles();
            delete rack;
        }
    }
    if (!rows.isEmpty())
        setChanged();
}

bool KST_Data::findPanel(KST_PanelInstance *panel, int &rackRow, int &panelRow) const
{
    if (!panel)
        return false;
    for (int r = 0; r < m_racks.size(); ++r) {
        const int row = int(m_racks.at(r)->panels().indexOf(panel));
        if (row >= 0) {
            rackRow = r;
            panelRow = row;
            return true;
        }
    }
    return false;
}

void KST_Data::setUiData(int key, const QByteArray &bytes)
{
    if (m_uiData.value(key) == bytes && m_uiData.contains(key))
        return;
    m_uiData.insert(key, bytes);
    setChanged();
}

// ---- Validation -----------------------------------------------------------------

namespace {

// Two panels cannot share a port on one address, and "*" (every address)
// shares it with every address. Besides its UDP port a panel binds TCP
// ports derived from it (FTP control and data, the injector), and those of
// two different UDP ports can meet: 2001 and 34769 have the same FTP
// control port, the FTP data port of 5000 is the injector port of 20. The
// text of why a collides with b, or empty.
QString collision(const KST_PanelInstance *a, const KST_PanelInstance *b)
{
    const QString star = QStringLiteral("*");
    if (a->ip() != b->ip() && a->ip() != star && b->ip() != star)
        return QString();
    if (a->panelPort() == b->panelPort())
        return QStringLiteral("IP - PanelPort already used.");
    const QList<int> tcpA = KST_PanelInstance::tcpPorts(a->panelPort(), a->injectorEnabled());
    const QList<int> tcpB = KST_PanelInstance::tcpPorts(b->panelPort(), b->injectorEnabled());
    for (int port : tcpA)
        if (tcpB.contains(port))
            return QStringLiteral("IP - PanelPort: TCP port %1 is used by panel %2 as well.")
                .arg(port)
                .arg(b->name());
    return QString();
}

bool sameEndpoint(const KST_PanelInstance *a, const KST_PanelInstance *b)
{
    return !collision(a, b).isEmpty();
}

} // namespace

bool KST_Data::validatePanel(KST_PanelInstance *panel, QString *errorText)
{
    auto fail = [errorText](const char *text) {
        if (errorText)
            *errorText = QString::fromLatin1(text);
        return false;
    };
    if (!panel)
        return fail("No panel selected.");
    if (panel->panelType() == 0)
        return fail("No panel type selected.");
    const QString unusable = panel->settingsProblem();
    if (!unusable.isEmpty()) {
        if (errorText)
            *errorText = unusable;
        return false;
    }
    if (panel->ip().isEmpty())
        return fail("No IP selected.");
    if (panel->ip() != QLatin1String("*") && !m_ipList.list().contains(panel->ip()))
        return fail("IP is not valid.");
    for (KST_Rack *rack : qAsConst(m_racks)) {
        for (KST_PanelInstance *other : rack->panels()) {
            // A panel never collides with itself, whatever its state.
            if (other == panel || other->state() == KST_PanelInstance::Stopped)
                continue;
            const QString why = collision(panel, other);
            if (!why.isEmpty()) {
                if (errorText)
                    *errorText = why;
                return false;
            }
        }
    }
    // The panel's own FTP server and injector on one port (UDP port 9979
    // or 9980).
    const QList<int> own = KST_PanelInstance::tcpPorts(panel->panelPort(), panel->injectorEnabled());
    if (QSet<int>(own.begin(), own.end()).size() != own.size()) {
        if (errorText)
            *errorText = QStringLiteral("IP - PanelPort: the panel's FTP server and injector "
                                        "would share a TCP port.");
        return false;
    }
    return true;
}

// ---- Timed start ----------------------------------------------------------------

void KST_Data::timer_execute_init()
{
    for (KST_Rack *rack : qAsConst(m_racks))
        if (!rack->window())
            createRackWindow(rack, nullptr);
    m_step1Done = true;
    emit init_step1_finished();
    m_initPanelsTimer.start();
}

void KST_Data::timer_init_panels()
{
    for (KST_Rack *rack : qAsConst(m_racks)) {
        // Panels added since the start have their face already.
        for (KST_PanelInstance *p : rack->panels())
            if (!p->face())
                rack->initPanel(p, m_firmwareSource);
        rack->updateLayout();
    }
    placeNewRackWindows();

    // Panels that start now are not running yet when the next one is
    // checked, so they are checked against each other as well.
    QList<KST_PanelInstance *> starting;
    for (KST_Rack *rack : qAsConst(m_racks)) {
        for (KST_PanelInstance *p : rack->panels()) {
            if (!p->shouldAutostart())
                continue;
            QString why;
            bool ok = validatePanel(p, &why);
            for (KST_PanelInstance *s : qAsConst(starting))
                if (ok && sameEndpoint(p, s)) {
                    ok = false;
                    why = collision(p, s);
                }
            if (!ok) {
                p->setShouldAutostart(false);
                setChanged();
                qWarning("panel autostart failed %s: %s (%s,%d)", qPrintable(p->summary()),
                         qPrintable(why), __FILE__, __LINE__);
                continue;
            }
            if (p->start(m_autostartDelay))
                starting.append(p);
            else
                qCritical("failed to autostart %s (%s,%d)", qPrintable(p->summary()), __FILE__,
                          __LINE__);
            setChanged();
        }
    }
    m_initialised = true;
    emit init_step2_finished();
}

// ---- Windows and notifications --------------------------------------------------

void KST_Data::rack_closed(KST_Rack *rack)
{
    if (!rack)
        return;
    rack->setVisible(false);
    setChanged();
    const QModelIndex r = indexOfItem(rack);
    if (r.isValid())
        emit dataChanged(r.siblingAtColumn(ColVisible), r.siblingAtColumn(ColVisible));
}

void KST_Data::rackResized()
{
    // The tree redraws every row; the rows themselves stay, and with them
    // the view's selection and expanded racks.
    for (KST_Rack *rack : qAsConst(m_racks)) {
        const QModelIndex r = indexOfItem(rack);
        emit dataChanged(r, r.siblingAtColumn(ColumnCount - 1));
        if (rack->panelCount() > 0)
            emit dataChanged(index(0, 0, r), index(rack->panelCount() - 1, ColumnCount - 1, r));
    }
}

void KST_Data::setExpandedFlag(const QModelIndex &index, bool expanded)
{
    KST_Rack *rack = index.isValid() && index.model() == this ? itemOf(index)->asRack() : nullptr;
    if (!rack) {
        qDebug() << __FILE__ << __LINE__ << "not a rack:" << index;
        return;
    }
    if (rack->isExpanded() != expanded) {
        rack->setExpanded(expanded);
        setChanged();
    }
}

void KST_Data::rack_expanded(const QModelIndex &index)
{
    setExpandedFlag(index, true);
}

void KST_Data::rack_collapsed(const QModelIndex &index)
{
    setExpandedFlag(index, false);
}

void KST_Data::emitPanelCells(KST_PanelInstance *panel, std::initializer_list<int> columns)
{
    int rackRow = -1, row = -1;
    if (!findPanel(panel, rackRow, row)) {
        qCritical("invalid panel p (%s,%d)", __FILE__, __LINE__);
        return;
    }
    const QModelIndex parent = indexOfItem(m_racks.at(rackRow));
    for (int column : columns) {
        const QModelIndex cell = index(row, column, parent);
        emit dataChanged(cell, cell);
    }
}

void KST_Data::panelStateChanged(KST_PanelInstance *panel)
{
    emitPanelCells(panel,
                   {ColComm, ColStarted, ColIP, ColPort, ColType, ColOnline, ColCfg, ColRouters});
    // A start sets the panel's autostart flag and a stop clears it: the file
    // follows, so the set restarts what was running when the program ended.
    setChanged();
}

void KST_Data::onlineStateChanged(KST_PanelInstance *panel)
{
    emitPanelCells(panel, {ColOnline});
}

void KST_Data::configLoaded(KST_PanelInstance *panel)
{
    emitPanelCells(panel, {ColCfg});
}
