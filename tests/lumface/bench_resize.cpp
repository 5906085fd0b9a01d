// Picture cache under window resizing: faces sharing one image container
// are resized through 200 widths, as a rack window dragged wider does; the
// scaled pictures held and the process's resident memory before and after,
// with the container's byte budget and without one.
//
//   bench_resize [--faces N] [--model NAME]

#include "pan_imagecontainer.h"
#include "pan_widget.h"

#include <QApplication>
#include <QFile>

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

double mib(qint64 bytes)
{
    return double(bytes) / (1024.0 * 1024.0);
}

void sweep(const QString &layout, int faces, qint64 budget)
{
    PAN_ImageContainer images(QStringLiteral("./images2"), nullptr);
    if (budget > 0)
        images.setScaledBudget(budget);
    PAN_WidgetOptions options;
    options.splash = false;
    options.fadeIn = false;
    std::vector<std::unique_ptr<PAN_Widget>> shown;
    for (int i = 0; i < faces; ++i) {
        auto face = std::make_unique<PAN_Widget>(nullptr, options, &images);
        face->setFiles(layout, QString(), QString());
        face->setupUI();
        face->resize(600, 120);
        face->show();
        shown.push_back(std::move(face));
    }
    QCoreApplication::processEvents();
    const qint64 cacheBefore = images.scaledBytes();
    const qint64 rssBefore = residentBytes();
    for (int w = 400; w < 800; w += 2) {
        for (auto &face : shown)
            face->resize(w, w / 5);
        QCoreApplication::processEvents();
    }
    printf("%-9s budget %8s: picture cache %6.1f -> %6.1f MiB (%d pictures), resident %6.1f -> "
           "%6.1f MiB\n",
           qPrintable(layout.mid(7, 7)),
           budget > 0 ? qPrintable(QString::number(mib(budget), 'f', 0) + " MiB") : "none",
           mib(cacheBefore), mib(images.scaledBytes()), images.scaledCount(), mib(rssBefore),
           mib(residentBytes()));
}

} // namespace

int main(int argc, char **argv)
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    int faces = 4;
    QString model = QStringLiteral("SK2000A");
    const QStringList args = app.arguments();
    for (int i = 1; i < args.size(); ++i) {
        if (args.at(i) == QLatin1String("--faces") && i + 1 < args.size())
            faces = args.at(++i).toInt();
        else if (args.at(i) == QLatin1String("--model") && i + 1 < args.size())
            model = args.at(++i);
        else {
            fprintf(stderr, "usage: bench_resize [--faces N] [--model NAME]\n");
            return 2;
        }
    }
    qInstallMessageHandler([](QtMsgType, const QMessageLogContext &, const QString &) {});
    const QString layout = QStringLiteral("layout_%1.xml").arg(model.toLower());
    sweep(layout, faces, PAN_ImageContainer::DefaultBudgetBytes);
    sweep(layout, faces, qint64(1) << 40);
    return 0;
}
