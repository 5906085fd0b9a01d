// Face redraw benchmark: a face of 80 LCD keys gets a full set of colour and
// legend records for every key, the records go through the button driver
// and the face's update limiter, and the face is repainted; frames per second
// at 600 x 120 and 1200 x 240 (offscreen), and the memory one face takes.
//
//   bench_face [--frames N] [--model NAME] [--keep DIR]
//
// --model draws a shipped model's face (its layout and pictures must be
// built in) instead of the generated 80-key face; --keep leaves the
// generated layout and pictures in DIR.

#include "bd_records.h"
#include "button_setter_impl.h"
#include "face_fixture.h"
#include "ibutton.h"
#include "pan_imagecontainer.h"
#include "pan_item.h"
#include "pan_limiter.h"
#include "pan_uibuilder.h"
#include "pan_widget.h"

#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QTemporaryDir>

#include <algorithm>
#include <cstdio>
#include <memory>
#include <unistd.h>
#include <vector>

namespace {

qint64 residentBytes()
{
    QFile f(QStringLiteral("/proc/self/statm"));
    if (!f.open(QIODevice::ReadOnly))
        return 0;
    const QList<QByteArray> v = f.readAll().split(' ');
    return v.size() > 1 ? v.at(1).toLongLong() * sysconf(_SC_PAGESIZE) : 0;
}

// Every key gets a new colour and a new legend each frame.
std::vector<QByteArray> frameRecords(const QList<qint32> &ids, int frame)
{
    std::vector<QByteArray> batch;
    batch.reserve(size_t(ids.size()) * 2);
    for (int k = 0; k < ids.size(); ++k) {
        const int v = (frame * 7 + k * 13) % 256;
        batch.push_back(buttondriver::makeColor(ids.at(k), quint8(v), quint8(255 - v),
                                                quint8((v * 3) % 256)));
        const QByteArray legend = "K" + QByteArray::number(ids.at(k)) + "\nF"
                                  + QByteArray::number(frame % 1000);
        batch.push_back(buttondriver::makeText(ids.at(k), legend, (frame & 1) ? 0x02 : 0));
    }
    return batch;
}

struct Result
{
    double fps = 0;
    double applyMs = 0; // records through driver and limiter, per frame
    double paintMs = 0; // repaint of the view, per frame
    qint64 rssDelta = 0;
    qint64 pixmapBytes = 0;
    qint64 containerBytes = 0;
    int keys = 0;
};

Result run(const QString &layout, const QString &imageDir, int width, int height, int frames)
{
    Result res;
    const qint64 rssBefore = residentBytes();
    auto images = std::make_unique<PAN_ImageContainer>(imageDir, nullptr);
    PAN_WidgetOptions options;
    options.splash = false;
    options.fadeIn = false;
    auto face = std::make_unique<PAN_Widget>(nullptr, options, images.get());
    face->setFiles(layout, QString(), QString());
    face->setupUI();
    face->resize(width, height);
    face->show();
    QCoreApplication::processEvents();

    QMap<qint32, buttondriver::IButton *> buttons;
    face->collectButtons(buttons);
    QList<qint32> ids;
    for (auto it = buttons.cbegin(); it != buttons.cend(); ++it)
        if (it.value()->kind() == buttondriver::IButton::KIND_LCD)
            ids << it.key();
    res.keys = int(ids.size());
    buttondriver::ButtonSetterImpl setter;
    setter.setButtons(buttons);
    face->limiter()->timerUpdateEnabler();

    QWidget *viewport = face->view()->viewport();
    for (int f = 0; f < 10; ++f) { // warm-up: fonts, caches, first pixmaps
        setter.process_messages(frameRecords(ids, f));
        face->limiter()->flush();
        viewport->repaint();
    }
    res.rssDelta = residentBytes() - rssBefore;
    for (PAN_Item *i : face->builder()->items())
        res.pixmapBytes += qint64(i->pixmap().width()) * i->pixmap().height() * 4;
    res.containerBytes = images->memoryBytes();

    QElapsedTimer total, part;
    qint64 applyNs = 0, paintNs = 0;
    total.start();
    for (int f = 0; f < frames; ++f) {
        const std::vector<QByteArray> batch = frameRecords(ids, f + 10);
        part.start();
        setter.process_messages(batch);
        face->limiter()->flush();
        applyNs += part.nsecsElapsed();
        part.start();
        viewport->repaint();
        paintNs += part.nsecsElapsed();
    }
    const double seconds = total.nsecsElapsed() / 1e9;
    res.fps = frames / seconds;
    res.applyMs = applyNs / 1e6 / frames;
    res.paintMs = paintNs / 1e6 / frames;
    setter.setButtons({});
    return res;
}

} // namespace

int main(int argc, char **argv)
{
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    int frames = 300;
    QString model, keep;
    const QStringList args = QCoreApplication::arguments();
    for (int i = 1; i < args.size(); ++i) {
        if (args.at(i) == QLatin1String("--frames") && i + 1 < args.size())
            frames = std::max(1, args.at(++i).toInt());
        else if (args.at(i) == QLatin1String("--model") && i + 1 < args.size())
            model = args.at(++i);
        else if (args.at(i) == QLatin1String("--keep") && i + 1 < args.size())
            keep = args.at(++i);
        else {
            fprintf(stderr, "usage: bench_face [--frames N] [--model NAME] [--keep DIR]\n");
            return 2;
        }
    }

    QTemporaryDir tmp;
    const QString dir = keep.isEmpty() ? tmp.path() : keep;
    QDir().mkpath(dir);
    QString layout;
    if (model.isEmpty()) {
        if (!facefixture::writeKeyPictures(dir)) {
            fprintf(stderr, "bench_face: cannot write pictures to %s\n", qPrintable(dir));
            return 1;
        }
        layout = QDir(dir).filePath(QStringLiteral("layout_bench.xml"));
        QFile f(layout);
        if (!f.open(QIODevice::WriteOnly)
            || f.write(facefixture::keyGridLayout(4, 20).toUtf8()) < 0) {
            fprintf(stderr, "bench_face: cannot write %s\n", qPrintable(layout));
            return 1;
        }
    } else {
        layout = QStringLiteral("layout_%1.xml").arg(model.toLower());
    }

    // Quiet: the benchmark measures drawing, not logging.
    qInstallMessageHandler([](QtMsgType, const QMessageLogContext &, const QString &) {});
    // One face built and thrown away first, so that the memory of the face
    // measured next holds no process-wide start-up costs (fonts, caches).
    run(layout, dir, 600, 120, 1);

    printf("face redraw: %d frames, colour + legend record for every key each frame\n", frames);
    bool slow = false;
    for (const QSize s : {QSize(600, 120), QSize(1200, 240)}) {
        const Result r = run(layout, dir, s.width(), s.height(), frames);
        printf("%4dx%-4d %2d keys: %7.1f frames/s  (records %.2f ms + repaint %.2f ms a frame)\n",
               s.width(), s.height(), r.keys, r.fps, r.applyMs, r.paintMs);
        printf("           memory of the face: %.1f MiB resident, %.1f MiB item pictures, "
               "%.1f MiB picture cache\n",
               r.rssDelta / 1048576.0, r.pixmapBytes / 1048576.0, r.containerBytes / 1048576.0);
        slow = slow || r.fps < 60;
    }
    printf("target: at least 60 frames/s for one face: %s\n", slow ? "MISSED" : "met");
    return 0;
}
