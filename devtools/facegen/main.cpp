// facegen: draws the built-in assets of the panel faces and of the host
// and writes them into the resource folder, so that they can be made again
// after a change here:
//
//   facegen [--layouts-only] [--preview DIR] [RESOURCE_DIR]   (default: resources)
//
// RESOURCE_DIR gets the layout files (layout_<model>.xml), the pictures
// (images2/*.png), the buzzer sound (sound_buzzer.wav) and faces.qrc, the
// resource list of all of them. --layouts-only writes only the layout files
// (enough to check that the committed ones match the generator). --preview
// DIR then reads everything back from RESOURCE_DIR and writes the face of
// every model, a rack of all faces and a contact sheet of every picture
// into DIR, to be checked by eye.

#include "buzzer.h"
#include "fronts.h"
#include "icons.h"
#include "keycaps.h"
#include "layout_xml.h"
#include "models.h"
#include "preview.h"

#include <QBuffer>
#include <QCommandLineParser>
#include <QDir>
#include <QGuiApplication>
#include "tess_savefile.h"
#include <QXmlStreamWriter>

#include <cstdio>

using namespace facegen;

namespace {

bool writeFile(const QString &path, const QByteArray &data)
{
    tess::SaveError failure;
    if (!tess::writeFileAtomically(path, data, &failure)) {
        fprintf(stderr, "facegen: cannot write %s: %s\n", qPrintable(path), qPrintable(failure.text));
        return false;
    }
    return true;
}

QByteArray png(const QImage &img)
{
    QByteArray bytes;
    QBuffer buf(&bytes);
    buf.open(QIODevice::WriteOnly);
    img.save(&buf, "PNG");
    return bytes;
}

// Every picture, by its resource name. The key pictures come first: the
// application icon and the splash are composed from them.
ImageSet drawPictures()
{
    ImageSet art;
    for (int i = 0; i < KEY_FRAMES; ++i) {
        const double p = frameProgress(i);
        art[QStringLiteral("b%1.png").arg(i + 1)] = keyFrame(p);
        art[QStringLiteral("b_mask%1.png").arg(i + 1)] = keyMask(p);
        art[QStringLiteral("color_cover_up%1.png").arg(i + 1)] = colourCover(p, false);
        art[QStringLiteral("color_cover_up_down%1.png").arg(i + 1)] = colourCover(p, true);
    }
    for (int kind = 1; kind <= 2; ++kind)
        for (int index = 1; index <= 2; ++index)
            art[QStringLiteral("b_LED%1_mask%2.png").arg(kind).arg(index)] = ledMask(kind, index);
    art[QStringLiteral("panelbk_small.png")] = panelBackground(Plate::Small);
    art[QStringLiteral("panelbk_large.png")] = panelBackground(Plate::Large);
    art[QStringLiteral("panelbk_none.png")] = panelBackground(Plate::Blank);
    for (int n : displayFrameSizes())
        art[displayFrameName(n)] = displayFrame(n);
    art[QStringLiteral("app_icon.png")] = appIcon(art);
    art[QStringLiteral("splash.png")] = splash(art);
    art[QStringLiteral("rack_icon.png")] = rackIcon();
    art[QStringLiteral("new.png")] = newIcon();
    art[QStringLiteral("delete.png")] = deleteIcon();
    art[QStringLiteral("start.png")] = startIcon();
    art[QStringLiteral("stop.png")] = stopIcon();
    art[QStringLiteral("started_yes.png")] = lampIcon(true);
    art[QStringLiteral("started_no.png")] = lampIcon(false);
    art[QStringLiteral("sign_ok.png")] = signIcon(true);
    art[QStringLiteral("sign_notok.png")] = signIcon(false);
    art[QStringLiteral("comm.png")] = commMask();
    return art;
}

QByteArray qrc(const QStringList &files)
{
    QByteArray out;
    QXmlStreamWriter w(&out);
    w.setAutoFormatting(true);
    w.setAutoFormattingIndent(2);
    w.writeDTD(QStringLiteral("<!DOCTYPE RCC>"));
    w.writeComment(QStringLiteral(" The faces' layout files and pictures and the host's pictures "
                                  "and sound. Written by devtools/facegen. "));
    w.writeStartElement(QStringLiteral("RCC"));
    w.writeAttribute(QStringLiteral("version"), QStringLiteral("1.0"));
    w.writeStartElement(QStringLiteral("qresource"));
    w.writeAttribute(QStringLiteral("prefix"), QStringLiteral("/"));
    for (const QString &f : files)
        w.writeTextElement(QStringLiteral("file"), f);
    w.writeEndElement();
    w.writeEndElement();
    w.writeEndDocument();
    // The writer starts the document type on a fresh line.
    if (out.startsWith('\n'))
        out.remove(0, 1);
    return out;
}

} // namespace

int main(int argc, char **argv)
{
    // Pictures and fonts need a GUI application, never a display.
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QGuiApplication app(argc, argv);
    QCommandLineParser parser;
    parser.setApplicationDescription(QStringLiteral("Draws the built-in face and host assets."));
    parser.addHelpOption();
    const QCommandLineOption layoutsOnly(QStringLiteral("layouts-only"),
                                         QStringLiteral("Write only the layout files and faces.qrc."));
    const QCommandLineOption preview(QStringLiteral("preview"),
                                     QStringLiteral("Write previews of the written assets into DIR."),
                                     QStringLiteral("DIR"));
    parser.addOptions({layoutsOnly, preview});
    parser.addPositionalArgument(QStringLiteral("RESOURCE_DIR"),
                                 QStringLiteral("Where to write (default: resources)."));
    parser.process(app);
    const QStringList args = parser.positionalArguments();
    if (args.size() > 1)
        parser.showHelp(2);
    const QString out = args.isEmpty() ? QStringLiteral("resources") : args.first();
    if (!QDir().mkpath(out + QStringLiteral("/images2"))) {
        fprintf(stderr, "facegen: cannot create %s/images2\n", qPrintable(out));
        return 1;
    }

    QStringList files;
    for (const FaceLayout &face : allFaces()) {
        const QString name = layoutFileName(face);
        if (!writeFile(out + QLatin1Char('/') + name, layoutXml(face)))
            return 1;
        files.append(name);
    }

    if (parser.isSet(layoutsOnly)) {
        printf("facegen: %d layouts in %s\n", int(files.size()), qPrintable(out));
        return 0;
    }

    const ImageSet art = drawPictures();
    for (auto it = art.begin(); it != art.end(); ++it) {
        if (!writeFile(out + QStringLiteral("/images2/") + it.key(), png(it.value())))
            return 1;
        files.append(QStringLiteral("images2/") + it.key());
    }
    if (!writeFile(out + QStringLiteral("/sound_buzzer.wav"), buzzerWav()))
        return 1;
    files.append(QStringLiteral("sound_buzzer.wav"));
    if (!writeFile(out + QStringLiteral("/faces.qrc"), qrc(files)))
        return 1;
    printf("facegen: %d layouts, %d pictures and the buzzer sound in %s\n",
           int(allFaces().size()), int(art.size()), qPrintable(out));

    if (parser.isSet(preview) && !writePreviews(out, parser.value(preview)))
        return 1;
    return 0;
}
