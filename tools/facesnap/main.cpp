// facesnap: draws one panel face to a PNG, the way a panel window shows it,
// so that faces can be looked at and compared without a display.
//
//   facesnap (--model NAME | --layout FILE) [--width W] [--height H]
//            [--records FILE] [--face-state 0|1|2] [--imdir DIR] [--datadir DIR]
//            [--mapper FILE] [--custom FILE] [--item-text] [--wait MS]
//            [--serve ADDR:PORT] OUT.png
//
// --serve keeps the face after writing the picture and serves it over the
// remote API and its browser pages (one panel, uid 1) until standard input
// ends, so that a browser's face can be compared with the picture of the
// same records.
// The face's LEDs, keys and displays are handed to a button driver exactly
// as a running panel's are; the records of --records (panelrun's "bd" lines)
// are then applied to it in order. Exit status: 0 written, 1 the face or the
// picture failed, 2 usage.

#include "button_setter_impl.h"
#include "bd_records.h"
#include "kst_panelinfo.h"
#include "pan_imagecontainer.h"
#include "pan_item.h"
#include "pan_limiter.h"
#include "pan_uibuilder.h"
#include "pan_widget.h"
#include "record_file.h"
#include "rm_server.h"
#include "rm_web.h"
#include "snap_host.h"

#include <QApplication>
#include <QCommandLineParser>
#include <QElapsedTimer>
#include <QFileInfo>
#include <QPixmap>
#include <QSocketNotifier>

#include <cstdio>
#include <memory>
#include <unistd.h>

namespace {

int usage(const QCommandLineParser &p, const QString &why)
{
    fprintf(stderr, "facesnap: %s\n\n%s", qPrintable(why), qPrintable(p.helpText()));
    return 2;
}

// The layout file of a model name (any case), or an empty string.
QString layoutForModel(const QString &model)
{
    const KST_PanelInfo info;
    if (model.compare(QLatin1String("none"), Qt::CaseInsensitive) == 0)
        return info.layoutFileName(0);
    const QStringList names = info.typeNames();
    for (int i = 0; i < names.size(); ++i)
        if (names.at(i).compare(model, Qt::CaseInsensitive) == 0)
            return info.layoutFileName(info.typeIndex(names.at(i)));
    return QString();
}

// What a panel shows while stopped (1), starting (0) or failed to start (2):
// blank legends on every button, in black, dark blue or dark red.
std::vector<QByteArray> faceState(int kind)
{
    static const quint8 colors[3][3] = {{0, 0, 0}, {0, 0, 64}, {64, 0, 0}};
    const quint8 *c = colors[kind];
    return {buttondriver::makeText(buttondriver::ALL_BUTTONS, QByteArray(), 0),
            buttondriver::makeColor(buttondriver::ALL_BUTTONS, c[0], c[1], c[2])};
}

void runEvents(int ms)
{
    QElapsedTimer t;
    t.start();
    while (t.elapsed() < ms)
        QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
}

} // namespace

int main(int argc, char **argv)
{
    // Always drawn off screen: the picture must not depend on a display.
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("facesnap"));

    QCommandLineParser p;
    p.setApplicationDescription(QStringLiteral("Draws a panel face to a PNG."));
    p.addHelpOption();
    p.addOptions({
        {QStringLiteral("model"), QStringLiteral("Panel model (SK1100A ... SK2200A, none)."),
         QStringLiteral("NAME")},
        {QStringLiteral("layout"), QStringLiteral("Layout file instead of a model's."),
         QStringLiteral("FILE")},
        {QStringLiteral("width"), QStringLiteral("Width in pixels (default 1200)."),
         QStringLiteral("W")},
        {QStringLiteral("height"),
         QStringLiteral("Height in pixels (default: the face's proportions)."),
         QStringLiteral("H")},
        {QStringLiteral("records"),
         QStringLiteral("Button-driver records to apply (panelrun's \"bd\" lines)."),
         QStringLiteral("FILE")},
        {QStringLiteral("face-state"),
         QStringLiteral("First show a panel's face state: 0 starting, 1 stopped, 2 failed."),
         QStringLiteral("K")},
        {QStringLiteral("imdir"), QStringLiteral("Picture directory before the built-in set."),
         QStringLiteral("DIR")},
        {QStringLiteral("datadir"),
         QStringLiteral("Directory of relative layout, mapper and custom picture files."),
         QStringLiteral("DIR")},
        {QStringLiteral("mapper"), QStringLiteral("Item image mapper file."),
         QStringLiteral("FILE")},
        {QStringLiteral("custom"), QStringLiteral("Custom key pictures file."),
         QStringLiteral("FILE")},
        {QStringLiteral("item-text"),
         QStringLiteral("Draw legends and display text with fonts, not the panel's pixels.")},
        {QStringLiteral("wait"),
         QStringLiteral("Run flashing and animations for MS milliseconds before drawing."),
         QStringLiteral("MS")},
        {QStringLiteral("serve"),
         QStringLiteral("Then serve the face to browsers on ADDR:PORT (loopback) until the end "
                        "of standard input."),
         QStringLiteral("ADDR:PORT")},
    });
    p.addPositionalArgument(QStringLiteral("out"), QStringLiteral("The PNG to write."));
    if (!p.parse(QCoreApplication::arguments()))
        return usage(p, p.errorText());
    if (p.isSet(QStringLiteral("help"))) {
        printf("%s", qPrintable(p.helpText()));
        return 0;
    }
    if (p.positionalArguments().size() != 1)
        return usage(p, QStringLiteral("give one output file"));
    const QString out = p.positionalArguments().first();

    QString layout = p.value(QStringLiteral("layout"));
    if (p.isSet(QStringLiteral("model"))) {
        if (!layout.isEmpty())
            return usage(p, QStringLiteral("--model and --layout exclude each other"));
        layout = layoutForModel(p.value(QStringLiteral("model")));
        if (layout.isEmpty())
            return usage(p, QStringLiteral("unknown model ") + p.value(QStringLiteral("model")));
    }
    if (layout.isEmpty())
        return usage(p, QStringLiteral("give --model or --layout"));

    auto number = [&p](const char *name, int fallback, int min, int max, bool *ok) {
        if (!p.isSet(QLatin1String(name)))
            return fallback;
        bool good = false;
        const int v = p.value(QLatin1String(name)).toInt(&good);
        if (!good || v < min || v > max)
            *ok = false;
        return v;
    };
    bool ok = true;
    const int width = number("width", 1200, 1, PAN_ImageContainer::MaxSide, &ok);
    int height = number("height", 0, 1, PAN_ImageContainer::MaxSide, &ok);
    const int state = number("face-state", -1, 0, 2, &ok);
    const int wait = number("wait", 0, 0, 600000, &ok);
    if (!ok)
        return usage(p, QStringLiteral("a number is out of range"));

    RecordFile records;
    if (p.isSet(QStringLiteral("records"))) {
        QString why;
        if (!readRecordFile(p.value(QStringLiteral("records")), &records, &why)) {
            fprintf(stderr, "facesnap: cannot read %s: %s\n",
                    qPrintable(p.value(QStringLiteral("records"))), qPrintable(why));
            return 1;
        }
        for (const QString &e : records.errors)
            fprintf(stderr, "facesnap: %s: %s\n", qPrintable(p.value(QStringLiteral("records"))),
                    qPrintable(e));
    }

    std::unique_ptr<PAN_ImageContainer> images;
    if (p.isSet(QStringLiteral("imdir")))
        images = std::make_unique<PAN_ImageContainer>(p.value(QStringLiteral("imdir")), nullptr);

    PAN_WidgetOptions options;
    options.splash = false;
    options.fadeIn = false;
    PAN_Widget face(nullptr, options, images.get());
    face.setAttribute(Qt::WA_DontShowOnScreen);
    face.setDataDirectory(p.value(QStringLiteral("datadir")));
    face.setFiles(layout, p.value(QStringLiteral("mapper")), p.value(QStringLiteral("custom")));
    face.setUseItemText(p.isSet(QStringLiteral("item-text")));
    const bool built = face.setupUI();
    if (face.panelSize().isEmpty()) {
        fprintf(stderr, "facesnap: no face could be built from %s\n", qPrintable(layout));
        return 1;
    }
    if (height == 0)
        height = std::max(1, face.heightForWidth(width));
    face.resize(width, height);
    face.show();
    QCoreApplication::processEvents();

    QMap<qint32, buttondriver::IButton *> buttons;
    face.collectButtons(buttons);
    buttondriver::ButtonSetterImpl setter;
    setter.setButtons(buttons);
    if (state >= 0)
        setter.process_messages(faceState(state));
    setter.process_messages(records.records);
    face.limiter()->flush();
    if (wait > 0) {
        face.limiter()->timerUpdateEnabler();
        runEvents(wait);
        face.limiter()->flush();
    }
    QCoreApplication::processEvents();

    const QPixmap picture = face.grab();
    if (picture.isNull() || !picture.save(out, "PNG")) {
        fprintf(stderr, "facesnap: cannot write %s\n", qPrintable(out));
        return 1;
    }
    printf("facesnap: %s %dx%d: %d items, %d buttons, %d records applied, %d rejected%s -> %s\n",
           qPrintable(layout), width, height, int(face.builder()->items().size()),
           int(buttons.size()), int(records.records.size()), int(records.errors.size()),
           built ? "" : " (face built with errors)", qPrintable(out));
    if (!p.isSet(QStringLiteral("serve")))
        return 0;

    remote::Endpoint at;
    QString why;
    if (!remote::parseEndpoint(p.value(QStringLiteral("serve")), &at, &why) || !at.address.isLoopback()) {
        fprintf(stderr, "facesnap: --serve %s\n",
                why.isEmpty() ? "serves loopback addresses only" : qPrintable(why));
        return 2;
    }
    QString name = p.value(QStringLiteral("model")).toUpper();
    if (name.isEmpty())
        name = QFileInfo(layout).completeBaseName();
    SnapHost host(&face, &setter, name, images.get());
    remote::Server server(&host);
    if (!server.start(at, QByteArray(), &why)) {
        fprintf(stderr, "facesnap: %s\n", qPrintable(why));
        return 1;
    }
    remote::WebPages::install(server.router(), &host);
    printf("http %s\n", qPrintable(server.url()));
    fflush(stdout);
    QSocketNotifier input(STDIN_FILENO, QSocketNotifier::Read);
    QObject::connect(&input, &QSocketNotifier::activated, &app, [&input] {
        char buf[256];
        if (::read(STDIN_FILENO, buf, sizeof buf) <= 0) {
            input.setEnabled(false);
            QCoreApplication::quit();
        }
    });
    return app.exec();
}
