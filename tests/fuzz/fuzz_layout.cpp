// The face layout reader over arbitrary input, and the face built from
// whatever it read: setup, layout at two sizes (one fast), and the same
// bytes read as an item image mapper file. Nothing may crash, no face may
// hold more items than its limit, and no item picture is larger than the
// face it is drawn for.

#include "../lumface/face_fixture.h"
#include "fuzz_common.h"
#include "pan_imagecontainer.h"
#include "pan_item.h"
#include "pan_layout.h"
#include "pan_uibuilder.h"

#include <QApplication>
#include <QBuffer>
#include <QGraphicsScene>
#include <QTemporaryDir>

static QApplication *s_app;
static QTemporaryDir *s_pictures;
static PAN_ImageContainer *s_images;

extern "C" int LLVMFuzzerInitialize(int *, char ***)
{
    fuzz_silence_stdout();
    qputenv("QT_QPA_PLATFORM", "offscreen");
    static int argc = 1;
    static char name[] = "fuzz_layout";
    static char *argv[] = {name, nullptr};
    s_app = new QApplication(argc, argv);
    if (getenv("TESS_FUZZ_VERBOSE") == nullptr)
        qInstallMessageHandler([](QtMsgType, const QMessageLogContext &, const QString &) {});
    s_pictures = new QTemporaryDir;
    FUZZ_CHECK(s_pictures->isValid() && facefixture::writeKeyPictures(s_pictures->path()));
    s_images = new PAN_ImageContainer(s_pictures->path(), nullptr);
    return 0;
}

static void checkFace(const PAN_UIBuilder &builder, const QSize &face)
{
    FUZZ_CHECK(builder.items().size() <= PAN_UIBuilder::MaxItems);
    for (const PAN_Item *i : builder.items()) {
        FUZZ_CHECK(i->pixelSize().width() <= face.width());
        FUZZ_CHECK(i->pixelSize().height() <= face.height());
        FUZZ_CHECK(i->pixmap().width() <= face.width() && i->pixmap().height() <= face.height());
    }
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const QByteArray bytes(reinterpret_cast<const char *>(data), qsizetype(size));
    auto layout = std::make_shared<PAN_Layout>();
    {
        QBuffer b;
        b.setData(bytes);
        b.open(QIODevice::ReadOnly);
        layout->load(&b);
    }
    FUZZ_CHECK(layout->groups().size() <= qsizetype(size));

    QGraphicsScene scene;
    PAN_UIBuilder builder(s_images, &scene, nullptr, nullptr);
    builder.setLayout(layout);
    builder.setup();
    builder.resize(120, 24, false);
    checkFace(builder, QSize(120, 24));
    builder.resize(37, 13, true);
    checkFace(builder, QSize(37, 13));

    QBuffer mapper;
    mapper.setData(bytes);
    mapper.open(QIODevice::ReadOnly);
    builder.setupMappedImages(&mapper);
    s_images->reset();
    return 0;
}
