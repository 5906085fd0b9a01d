// The face image container: where pictures come from, the scaled cache and
// the generated display background.

#include "../qbuttondriver/bd_test_support.h"
#include "pan_imagecontainer.h"

#include <QtTest>

class TstPanImageContainer : public QObject
{
    Q_OBJECT

private slots:
    void imageDirectoryFromArguments();
    void directoryPicturesReplaceBuiltInOnes();
    void scaledPicturesAreSharedPerSize();
    void scaledPicturesStayWithinTheirBudget();
    void missingAndHostileNames();
    void displayBackgroundIsGenerated();
    void derivedShapeAndWindow();
};

namespace {

void writePicture(const QString &path, const QColor &c, const QSize &s = QSize(10, 10))
{
    QImage img(s, QImage::Format_ARGB32);
    img.fill(c);
    QVERIFY(img.save(path));
}

QRgb centre(const QPixmap &pm)
{
    const QImage img = pm.toImage();
    return img.pixel(img.width() / 2, img.height() / 2);
}

} // namespace

void TstPanImageContainer::imageDirectoryFromArguments()
{
    using C = PAN_ImageContainer;
    QCOMPARE(C::imageDirFromArguments({"keystead"}), QStringLiteral("./images2"));
    QCOMPARE(C::imageDirFromArguments({"k", "-imdir", "/a"}), QStringLiteral("/a"));
    // The last pair wins; a trailing "-imdir" without a directory is no pair.
    QCOMPARE(C::imageDirFromArguments({"k", "-imdir", "/a", "-imdir", "/b", "-imdir"}),
             QStringLiteral("/b"));
}

void TstPanImageContainer::directoryPicturesReplaceBuiltInOnes()
{
    QTemporaryDir dir;
    writePicture(dir.filePath("b1.png"), Qt::red);
    bdtest::LogCapture log;
    PAN_ImageContainer c(dir.path(), nullptr);
    QVERIFY(log.lines.contains("debug using image dir " + dir.path()));
    QCOMPARE(c.getOriginal("b1.png").pixel(5, 5), QColor(Qt::red).rgb());
    // Only the directory's own names: nothing is taken from outside it.
    writePicture(dir.filePath("../outside.png"), Qt::green);
    QVERIFY(c.getOriginal("../outside.png").isNull());
    QVERIFY(c.getOriginal(QDir(dir.path()).absoluteFilePath("b1.png")).isNull());
    QFile::remove(dir.filePath("../outside.png"));
    // Once loaded, the original stays even when the file goes.
    QFile::remove(dir.filePath("b1.png"));
    QVERIFY(!c.getOriginal("b1.png").isNull());
}

void TstPanImageContainer::scaledPicturesAreSharedPerSize()
{
    QTemporaryDir dir;
    writePicture(dir.filePath("key.png"), Qt::blue, QSize(100, 50));
    PAN_ImageContainer c(dir.path(), nullptr);
    PAN_ImageContainer::StoredImage *a = c.get("key.png", 40, 40);
    QVERIFY(a);
    // Scaled to exactly the size asked for, whatever the proportions.
    QCOMPARE(a->pixmap().size(), QSize(40, 40));
    QCOMPARE(c.get("key.png", 40, 40), a);
    PAN_ImageContainer::StoredImage *b = c.get("key.png", 40, 41);
    QVERIFY(b && b != a);
    QCOMPARE(c.scaledCount(), 2);
    c.reset();
    QCOMPARE(c.scaledCount(), 0);
    QVERIFY(c.get("key.png", 40, 40));
    QCOMPARE(c.scaledCount(), 1);
}

// A window resized through many widths asks for a picture at every width;
// the pictures of widths no longer shown go, least recently used first,
// and what is still in use stays.
void TstPanImageContainer::scaledPicturesStayWithinTheirBudget()
{
    QTemporaryDir dir;
    writePicture(dir.filePath("key.png"), Qt::blue, QSize(100, 50));
    writePicture(dir.filePath("bk.png"), Qt::red, QSize(100, 50));
    PAN_ImageContainer c(dir.path(), nullptr);
    QCOMPARE(c.scaledBudget(), PAN_ImageContainer::DefaultBudgetBytes);
    const qint64 budget = 4 * 1024 * 1024;
    c.setScaledBudget(budget);
    PAN_ImageContainer::StoredImage *kept = c.get("bk.png", 300, 200);
    QVERIFY(kept);
    const QPixmap held = c.get("key.png", 300, 300)->pixmap();
    for (int width = 301; width < 500; ++width) {
        QVERIFY(c.get("key.png", width, 300));
        QCOMPARE(c.get("bk.png", 300, 200), kept); // in use all along
        QVERIFY(c.scaledBytes() <= budget);
    }
    // 200 sizes of 300 x 300 to 500 x 300 would hold about 100 MB.
    QVERIFY(c.scaledCount() < 50);
    QVERIFY(c.memoryBytes() < budget + 100 * 50 * 4 * 2);
    // A picture an item took stays drawable after its entry went.
    QCOMPARE(held.size(), QSize(300, 300));
    QCOMPARE(held.toImage().pixelColor(5, 5), QColor(Qt::blue));
    // A size asked for again is made again.
    QCOMPARE(c.get("key.png", 300, 300)->pixmap().size(), QSize(300, 300));
    c.setScaledBudget(0);
    QCOMPARE(c.scaledCount(), 0);
    QCOMPARE(c.scaledBytes(), 0);
}

void TstPanImageContainer::missingAndHostileNames()
{
    QTemporaryDir dir;
    PAN_ImageContainer c(dir.path(), nullptr);
    bdtest::LogCapture log;
    QVERIFY(!c.get("nothing.png", 10, 10));
    QCOMPARE(log.starting("warning image load failed nothing.png").size(), 1);
    QCOMPARE(log.starting("warning PAN_ImageContainer::getOriginal failed nothing.png").size(), 1);
    // Each lookup asks again (a picture may appear later), and says so.
    QVERIFY(!c.get("nothing.png", 10, 10));
    QCOMPARE(log.starting("warning image load failed nothing.png").size(), 2);
    QCOMPARE(c.scaledCount(), 0);

    // Sizes no face has are refused before anything is allocated.
    writePicture(dir.filePath("k.png"), Qt::white);
    QVERIFY(!c.get("k.png", 0, 10));
    QVERIFY(!c.get("k.png", 10, -1));
    QVERIFY(!c.get("k.png", 70000, 10));
    QVERIFY(!c.get("k.png", 10, PAN_ImageContainer::MaxSide + 1));
    QVERIFY(c.get("k.png", PAN_ImageContainer::MaxSide, 1));

    // A file that is no picture is a missing picture.
    QFile f(dir.filePath("junk.png"));
    QVERIFY(f.open(QIODevice::WriteOnly));
    f.write("\x89PNG\r\n\x1a\n garbage");
    f.close();
    QVERIFY(!c.get("junk.png", 10, 10));
}

void TstPanImageContainer::displayBackgroundIsGenerated()
{
    QTemporaryDir dir;
    PAN_ImageContainer c(dir.path(), nullptr);
    bdtest::LogCapture log;
    PAN_ImageContainer::StoredImage *s = c.get("vacuum_bk.png", 200, 80);
    QVERIFY(s);
    QVERIFY(log.starting("warning").isEmpty());
    const QImage img = s->pixmap().toImage();
    QCOMPARE(img.size(), QSize(200, 80));
    // Dark and opaque inside, a softer border towards the edge.
    const QColor inside = img.pixelColor(100, 40);
    QCOMPARE(inside.alpha(), 255);
    QVERIFY(inside.red() < 40 && inside.green() < 40 && inside.blue() < 40);
    QVERIFY(img.pixelColor(0, 40).alpha() < img.pixelColor(3, 40).alpha());
    QVERIFY(img.pixelColor(0, 40).alpha() < 255);
    // Any size, however small, without failing.
    QVERIFY(c.get("vacuum_bk.png", 1, 1));
    QVERIFY(c.get("vacuum_bk.png", 3, 100));
}

void TstPanImageContainer::derivedShapeAndWindow()
{
    QTemporaryDir dir;
    QImage mask(100, 100, QImage::Format_ARGB32);
    mask.fill(Qt::transparent);
    for (int y = 20; y < 60; ++y)
        for (int x = 10; x < 90; ++x)
            mask.setPixelColor(x, y, Qt::white);
    QVERIFY(mask.save(dir.filePath("m.png")));
    QImage clear(10, 10, QImage::Format_ARGB32);
    clear.fill(Qt::transparent);
    QVERIFY(clear.save(dir.filePath("clear.png")));

    PAN_ImageContainer c(dir.path(), nullptr);
    PAN_ImageContainer::StoredImage *m = c.get("m.png", 100, 100);
    QVERIFY(m);
    QCOMPARE(m->opaqueRect(), QRect(10, 20, 80, 40));
    QVERIFY(m->opaqueShape().contains(QPointF(50, 40)));
    QVERIFY(!m->opaqueShape().contains(QPointF(50, 70)));
    PAN_ImageContainer::StoredImage *none = c.get("clear.png", 10, 10);
    QVERIFY(none->opaqueRect().isEmpty());
    QVERIFY(none->opaqueShape().isEmpty());
    QCOMPARE(centre(c.get("m.png", 100, 100)->pixmap()), QColor(Qt::white).rgb());
}

QTEST_MAIN(TstPanImageContainer)
#include "tst_pan_imagecontainer.moc"
