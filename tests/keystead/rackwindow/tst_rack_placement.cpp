// Rack windows of a panel set that holds no window geometry (written by a
// tool or by hand): where they open and how large.

#include "kst_data.h"
#include "kst_panelset_file.h"
#include "kst_rack.h"
#include "kst_rackplacement.h"
#include "kst_rackwidget.h"
#include "pan_imagecontainer.h"
#include "pan_widget.h"
#include "tiny_pictures.h"

#include <QGuiApplication>
#include <QScreen>
#include <QTemporaryDir>
#include <QTest>

class TestRackPlacement : public QObject
{
    Q_OBJECT

    static QString overlapping(const QList<QRect> &r)
    {
        for (int i = 0; i < r.size(); ++i)
            for (int j = i + 1; j < r.size(); ++j)
                if (r[i].intersects(r[j]))
                    return QStringLiteral("%1 and %2 overlap").arg(i).arg(j);
        return QString();
    }

private slots:
    // Windows side by side and one under the other while the screen holds
    // them at one face's height each; heights shared out; the rest in a
    // further layer, never outside the screen.
    void placement()
    {
        const QRect wide(0, 0, 1920, 1200);
        const QList<int> tall(10, 4000), least(10, 200);
        QList<QRect> r = KST_placeRackWindows(wide, 960, tall, least, 4, 20);
        QCOMPARE(r.size(), 10);
        QVERIFY2(overlapping(r).isEmpty(), qPrintable(overlapping(r)));
        for (const QRect &w : r) {
            QCOMPARE(w.width(), 958); // two columns on the screen
            QVERIFY(w.height() >= 200);
            QVERIFY(wide.contains(w));
        }
        QCOMPARE(r[0].left(), 0);
        QCOMPARE(r[5].left(), 962); // the second column
        QCOMPARE(r[1].top(), r[0].bottom() + 1 + 20);

        // Short racks keep their height; a tall one takes what they leave.
        r = KST_placeRackWindows(wide, 960, {300, 2000, 250}, {200, 200, 200}, 4, 20);
        QCOMPARE(r.size(), 3);
        QVERIFY(overlapping(r).isEmpty());
        QCOMPARE(r[0].height(), 300);
        QCOMPARE(r[2].height(), 250);
        QVERIFY(r[1].height() > 500);

        // A small screen: the first layer covers nothing of itself, the rest
        // goes over it, shifted; all on the screen, at the screen's width.
        const QRect small(0, 0, 800, 600);
        r = KST_placeRackWindows(small, 960, tall, least, 4, 20);
        QCOMPARE(r.size(), 10);
        QVERIFY(overlapping(r.mid(0, 2)).isEmpty());
        QVERIFY(r[2].topLeft() != r[0].topLeft());
        for (const QRect &w : r) {
            QCOMPARE(w.width(), 800);
            QVERIFY2(small.contains(w), qPrintable(QStringLiteral("%1,%2 %3x%4").arg(w.x()).arg(w.y()).arg(w.width()).arg(w.height())));
        }
    }

    // A panel set without geometry opens its rack windows at a readable
    // width, not covering each other.
    void windowsOfASetWithoutGeometry()
    {
        QTemporaryDir pictures, base;
        QVERIFY(writeTinyPictures(pictures.path()));
        PAN_ImageContainer images(pictures.path(), nullptr);
        const QString cfg = base.filePath(QStringLiteral("cfg.xml"));
        {
            KST_PanelSetRecords set;
            int uid = 0;
            for (int r = 0; r < 3; ++r) {
                auto *rack = new KST_RackRecord;
                rack->fields.name = QStringLiteral("rack%1").arg(r);
                rack->fields.visible = true;
                for (int i = 0; i < 2; ++i) {
                    auto *p = new KST_PanelRecord;
                    p->fields.uid = ++uid;
                    p->fields.paneltype = 10;
                    p->fields.visible = true;
                    rack->panels << p;
                }
                set.racks << rack;
            }
            set.puid = uid;
            QString problem;
            QVERIFY(set.write(cfg, &problem));
        }
        qputenv("TESSALINE_BASE_DIR", QFile::encodeName(base.path()));
        KST_Data data(cfg);
        data.setImageContainer(&images);
        PAN_WidgetOptions options;
        options.splash = false;
        options.fadeIn = false;
        data.setFaceOptions(options);
        QTRY_VERIFY_WITH_TIMEOUT(data.isInitialised(), 5000);
        const QRect screen = QGuiApplication::primaryScreen()->availableGeometry();
        QList<QRect> frames;
        for (KST_Rack *rack : data.racks()) {
            QTRY_VERIFY_WITH_TIMEOUT(rack->isWindowShown(), 2000);
            const QRect g = rack->frame()->geometry();
            frames << g;
            // About as wide as the demonstration's rack window, or the screen
            // less the window's borders.
            QVERIFY(g.width() >= std::min(864, screen.width() - 16));
            QVERIFY2(screen.contains(g), qPrintable(QStringLiteral("%1,%2 %3x%4 on %5x%6")
                                                        .arg(g.x()).arg(g.y()).arg(g.width()).arg(g.height())
                                                        .arg(screen.width()).arg(screen.height())));
            // At least its largest face in full.
            int oneFace = 0;
            rack->wantedHeight(g.width(), &oneFace);
            QVERIFY(oneFace > 100);
            QVERIFY(g.height() >= oneFace);
        }
        QVERIFY2(overlapping(frames).isEmpty(), qPrintable(overlapping(frames)));

        // Every window got its place.
        for (KST_Rack *rack : data.racks())
            QVERIFY(!rack->awaitsPlacement());
    }
};

QTEST_MAIN(TestRackPlacement)
#include "tst_rack_placement.moc"
