// xshot: writes what an X display shows to a PNG, and measures pictures.
//
//   xshot OUT.png [WINDOW_ID]
//       The whole screen of $DISPLAY, or the window with the given id
//       (decimal or 0x hexadecimal, as xdotool prints it) with what
//       overlaps it.
//   xshot --mean FILE.png X0 Y0 X1 Y1
//       The mean colour of the pixels x0 <= x < x1, y0 <= y < y1 of a
//       picture (clipped to it), printed as "R G B" (0..255, one decimal).
//
// Exit status 0 done, 1 no screen, no picture or an empty region, 2 usage.

#include <QGuiApplication>
#include <QImage>
#include <QPixmap>
#include <QScreen>

#include <cstdio>

namespace {

int mean(int argc, char **argv)
{
    if (argc != 7) {
        std::fprintf(stderr, "usage: xshot --mean FILE.png X0 Y0 X1 Y1\n");
        return 2;
    }
    const QImage image = QImage(QString::fromLocal8Bit(argv[2])).convertToFormat(QImage::Format_RGB32);
    if (image.isNull()) {
        std::fprintf(stderr, "xshot: cannot read %s\n", argv[2]);
        return 1;
    }
    int v[4];
    for (int i = 0; i < 4; ++i) {
        bool ok = false;
        v[i] = QByteArray(argv[3 + i]).toInt(&ok);
        if (!ok) {
            std::fprintf(stderr, "xshot: bad coordinate %s\n", argv[3 + i]);
            return 2;
        }
    }
    const QRect r = QRect(QPoint(v[0], v[1]), QPoint(v[2] - 1, v[3] - 1)) & image.rect();
    if (r.isEmpty()) {
        std::fprintf(stderr, "xshot: empty region\n");
        return 1;
    }
    double sum[3] = {0, 0, 0};
    for (int y = r.top(); y <= r.bottom(); ++y) {
        const QRgb *line = reinterpret_cast<const QRgb *>(image.constScanLine(y));
        for (int x = r.left(); x <= r.right(); ++x) {
            sum[0] += qRed(line[x]);
            sum[1] += qGreen(line[x]);
            sum[2] += qBlue(line[x]);
        }
    }
    const double n = double(r.width()) * r.height();
    std::printf("%.1f %.1f %.1f\n", sum[0] / n, sum[1] / n, sum[2] / n);
    return 0;
}

} // namespace

int main(int argc, char **argv)
{
    if (argc >= 2 && QByteArray(argv[1]) == "--mean")
        return mean(argc, argv);
    if (argc < 2 || argc > 3 || argv[1][0] == '-') {
        std::fprintf(stderr, "usage: xshot OUT.png [WINDOW_ID]\n"
                             "       xshot --mean FILE.png X0 Y0 X1 Y1\n");
        return 2;
    }
    // The screen as it is, not as a desktop's scaling would show it.
    qputenv("QT_QPA_PLATFORM", "xcb");
    QGuiApplication app(argc, argv);
    QScreen *screen = QGuiApplication::primaryScreen();
    if (!screen) {
        std::fprintf(stderr, "xshot: no screen\n");
        return 1;
    }
    WId window = 0;
    if (argc == 3) {
        bool ok = false;
        window = WId(QByteArray(argv[2]).toULongLong(&ok, 0));
        if (!ok) {
            std::fprintf(stderr, "xshot: bad window id %s\n", argv[2]);
            return 2;
        }
    }
    const QPixmap shot = screen->grabWindow(window);
    if (shot.isNull() || !shot.save(QString::fromLocal8Bit(argv[1]), "PNG")) {
        std::fprintf(stderr, "xshot: could not write %s\n", argv[1]);
        return 1;
    }
    return 0;
}
