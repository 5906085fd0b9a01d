#ifndef MANAGER_FIXTURE_H
#define MANAGER_FIXTURE_H

// A panel set in a temporary base directory with the main window over it,
// initialised the way the program does it, and a record of every message
// box the window shows (answered from a queue, OK by default).

#include "kst_data.h"
#include "kst_panelmanager.h"
#include "kst_paneltree.h"
#include "kst_rack.h"
#include "pan_imagecontainer.h"
#include "tiny_pictures.h"

#include <QAbstractItemModelTester>
#include <QFile>
#include <QItemSelectionModel>
#include <QTemporaryDir>
#include <QTest>

#include <memory>

struct ShownBox
{
    QMessageBox::Icon icon;
    QString title;
    QString text;
    QMessageBox::StandardButtons buttons;
};

class ManagerFixture
{
public:
    // Addresses the panel set takes for this machine's.
    explicit ManagerFixture(const QStringList &addresses = {QStringLiteral("127.0.0.1")})
    {
        QVERIFY(m_base.isValid());
        qputenv("TESSALINE_BASE_DIR", QFile::encodeName(m_base.path()));
        QVERIFY(writeTinyPictures(m_pictures.path()));
        images = std::make_unique<PAN_ImageContainer>(m_pictures.path(), nullptr);
        data = std::make_unique<KST_Data>(m_base.filePath(QStringLiteral("cfg.xml")));
        data->setImageContainer(images.get());
        PAN_WidgetOptions options;
        options.splash = false;
        options.fadeIn = false;
        data->setFaceOptions(options);
        data->setFirmwareSource(QStringLiteral(TESSFW_LIBRARY));
        data->ipListGetter()->setSource([addresses]() { return addresses; });
        data->setInitDelays(10, 10, 10);
        tester = std::make_unique<QAbstractItemModelTester>(
            data.get(), QAbstractItemModelTester::FailureReportingMode::QtTest);
        window = std::make_unique<KST_PanelManager>(data.get());
        window->setMessageHook([this](QMessageBox::Icon icon, const QString &title,
                                      const QString &text, QMessageBox::StandardButtons b) {
            boxes.append({icon, title, text, b});
            return answers.isEmpty() ? QMessageBox::Ok : answers.takeFirst();
        });
    }

    ~ManagerFixture()
    {
        if (window)
            window->shutdown();
        window.reset();
        tester.reset();
        data.reset();
    }

    // Runs the set's timed start to its end.
    bool initialise()
    {
        if (!window->initialize())
            return false;
        QTest::qWait(0);
        return QTest::qWaitFor([this]() { return data->isInitialised(); }, 5000);
    }

    // A panel of type SK2000A on address ip and port in the rack at rackRow.
    KST_PanelInstance *addPanel(int rackRow, const QString &ip, int port)
    {
        KST_PanelInstance *p = data->addPanel(rackRow);
        const QModelIndex i = data->indexOfItem(p);
        data->setData(i.siblingAtColumn(KST_Data::ColType), QStringLiteral("SK2000A"));
        data->setData(i.siblingAtColumn(KST_Data::ColIP), ip);
        data->setData(i.siblingAtColumn(KST_Data::ColPort), port);
        return p;
    }

    QItemSelectionModel *selection() const { return window->treeView()->selectionModel(); }

    // Selects exactly these racks and panels, in this order.
    void select(const QList<ItemData *> &items)
    {
        selection()->clearSelection();
        for (ItemData *item : items)
            selection()->select(data->indexOfItem(item),
                                QItemSelectionModel::Select | QItemSelectionModel::Rows);
    }

    // Shut rack windows: shown faces hand their scaling to Qt's image
    // threads, which the thread sanitizer cannot follow.
    void hideRackWindows()
    {
        for (KST_Rack *r : data->racks())
            r->setVisible(false);
    }

    QString basePath() const { return m_base.path(); }

    QList<ShownBox> boxes;
    QList<QMessageBox::StandardButton> answers;
    std::unique_ptr<PAN_ImageContainer> images;
    std::unique_ptr<KST_Data> data;
    std::unique_ptr<QAbstractItemModelTester> tester;
    std::unique_ptr<KST_PanelManager> window;

private:
    QTemporaryDir m_base;
    QTemporaryDir m_pictures;
};

#endif
