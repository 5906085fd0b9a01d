// kstshot: pictures of Keystead as a user sees it. Builds a panel set with
// two racks and three panels in a temporary base directory, starts the
// router simulator on 127.0.0.1 and one panel against it, runs the real
// main window and rack windows, and once the panel is online writes
//   OUTDIR/mainwindow.png   the main window
//   OUTDIR/rack.png         the first rack's window with its faces
//   OUTDIR/screen.png       the whole screen
//
//   kstshot [--wait MS] OUTDIR        (best under xvfb-run -a)
//
// Exit status: 0 written, 1 a step failed, 2 usage.

#include "kst_data.h"
#include "kst_panelmanager.h"
#include "kst_paneltree.h"
#include "kst_rack.h"
#include "kst_rackwidget.h"

#include <QApplication>
#include <QCommandLineParser>
#include <QDir>
#include <QElapsedTimer>
#include <QItemSelectionModel>
#include <QProcess>
#include <QScreen>
#include <QTemporaryDir>
#include <QTimer>

#include <cstdio>
#include <functional>

namespace {

bool waitFor(const std::function<bool()> &done, int ms)
{
    QElapsedTimer t;
    t.start();
    while (!done() && t.elapsed() < ms)
        QApplication::processEvents(QEventLoop::AllEvents, 20);
    return done();
}

void settle(int ms)
{
    waitFor([] { return false; }, ms);
}

int fail(const char *what)
{
    fprintf(stderr, "kstshot: %s\n", what);
    return 1;
}

KST_PanelInstance *addPanel(KST_Data &data, int rack, const QString &name, const QString &type,
                            const QString &ip, int port, const QString &desc)
{
    KST_PanelInstance *p = data.addPanel(rack);
    const QModelIndex i = data.indexOfItem(p);
    data.setData(i, name);
    data.setData(i.siblingAtColumn(KST_Data::ColType), type);
    data.setData(i.siblingAtColumn(KST_Data::ColIP), ip);
    data.setData(i.siblingAtColumn(KST_Data::ColPort), port);
    data.setData(i.siblingAtColumn(KST_Data::ColDescription), desc);
    return p;
}

bool save(QWidget *w, const QString &path)
{
    const QPixmap shot = w->grab();
    if (shot.isNull() || !shot.save(path))
        return false;
    printf("%s %dx%d\n", qPrintable(path), shot.width(), shot.height());
    return true;
}

} // namespace

int main(int argc, char **argv)
{
    QApplication app(argc, argv);
    QCommandLineParser parser;
    parser.addHelpOption();
    const QCommandLineOption waitOpt(QStringLiteral("wait"),
                                     QStringLiteral("Time after the panel is online, ms."),
                                     QStringLiteral("MS"), QStringLiteral("3000"));
    parser.addOption(waitOpt);
    parser.addPositionalArgument(QStringLiteral("OUTDIR"), QStringLiteral("Where the PNGs go."));
    parser.process(app);
    if (parser.positionalArguments().size() != 1) {
        fprintf(stderr, "%s", qPrintable(parser.helpText()));
        return 2;
    }
    const QString out = parser.positionalArguments().first();
    if (!QDir().mkpath(out))
        return fail("cannot create the output directory");

    QTemporaryDir base;
    if (!base.isValid())
        return fail("no temporary directory");
    qputenv("TESSALINE_BASE_DIR", QFile::encodeName(base.path()));

    QProcess router;
    router.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    router.start(QStringLiteral(ROUTERSIM),
                 {QStringLiteral("--bind"), QStringLiteral("127.0.0.1:2001"),
                  QStringLiteral("--panel"), QStringLiteral("127.0.0.1:24100"),
                  QStringLiteral("--poll-ms"), QStringLiteral("500")});
    if (!router.waitForStarted())
        return fail("cannot start routersim");

    int status = 0;
    {
        KST_Data data(base.filePath(QStringLiteral("cfg.xml")));
        data.setFirmwareSource(QStringLiteral(TESSFW_LIBRARY));
        KST_PanelManager window(&data);
        window.setMessageHook([](QMessageBox::Icon, const QString &, const QString &text,
                                 QMessageBox::StandardButtons) {
            fprintf(stderr, "kstshot: message box: %s\n", qPrintable(text));
            return QMessageBox::Ok;
        });
        window.initialize();
        if (!waitFor([&] { return data.isInitialised(); }, 5000))
            return fail("the panel set did not initialise");
        window.setGeometry(20, 20, 980, 330);

        data.addRack();
        data.setData(data.index(0, KST_Data::ColName), QStringLiteral("Studio A"));
        data.setData(data.index(0, KST_Data::ColDescription), QStringLiteral("control room"));
        KST_PanelInstance *desk = addPanel(data, 0, QStringLiteral("desk 1"),
                                           QStringLiteral("SK2000A"), QStringLiteral("127.0.0.1"),
                                           24100, QStringLiteral("online against routersim"));
        addPanel(data, 0, QStringLiteral("desk 2"), QStringLiteral("SK1100A"),
                 QStringLiteral("127.0.0.1"), 24101, QStringLiteral("stopped"));
        data.addRack();
        data.setData(data.index(1, KST_Data::ColName), QStringLiteral("Studio B"));
        addPanel(data, 1, QStringLiteral("tx 1"), QStringLiteral("SK1400A"),
                 QStringLiteral("*"), 24102, QStringLiteral("stopped, every address"));
        data.rack(1)->setVisible(false);
        data.rack(0)->frame()->setGeometry(20, 400, 520, 640);

        // The user's way: select the panel and press start.
        window.treeView()->expandAll();
        window.treeView()->selectionModel()->setCurrentIndex(
            data.indexOfItem(desk), QItemSelectionModel::ClearAndSelect | QItemSelectionModel::Rows);
        window.startAction()->trigger();
        if (!waitFor([&] { return desk->isOnline() && desk->isConfigLoaded(); }, 20000)) {
            status = fail("the panel did not come online");
        } else {
            settle(parser.value(waitOpt).toInt());
            window.raise();
            settle(200);
            if (!save(&window, QDir(out).filePath(QStringLiteral("mainwindow.png")))
                || !save(data.rack(0)->frame(), QDir(out).filePath(QStringLiteral("rack.png"))))
                status = fail("cannot write a picture");
            const QPixmap screen = QGuiApplication::primaryScreen()->grabWindow(0);
            if (screen.isNull() || !screen.save(QDir(out).filePath(QStringLiteral("screen.png"))))
                status = fail("cannot write the screen picture");
        }
        desk->stop();
        waitFor([&] { return desk->state() == KST_PanelInstance::Stopped; }, 10000);
        window.shutdown();
    }
    router.write("quit\n");
    if (!router.waitForFinished(3000))
        router.kill();
    return status;
}
