#include "arch_archi.h"

#include <QFile>
#include <QXmlStreamReader>

namespace arch {

Archi::Archi(QObject *parent) : QObject(parent), m_root(new Itemi(QString())) {}

Archi::~Archi() = default;

namespace {

// Collects consecutive character data of one element. A run of blanks only
// is indentation and is dropped, unless it came from a CDATA section, which
// is how a value made of blanks is written.
struct TextRun
{
    QString text;
    bool blank = true;
    bool cdata = false;

    void add(const QXmlStreamReader &reader)
    {
        text.append(reader.text());
        blank = blank && reader.isWhitespace();
        cdata = cdata || reader.isCDATA();
    }
    void flushInto(Itemi *node)
    {
        if (node && !text.isEmpty() && (!blank || cdata))
            node->appendText(text);
        text.clear();
        blank = true;
        cdata = false;
    }
};

} // namespace

bool Archi::load(QIODevice *dev)
{
    if (!dev) {
        qCritical("dev = NULL (%s,%d)", __FILE__, __LINE__);
        return false;
    }
    // The tree is built without recursion, so only memory bounds the work;
    // MaxDepth bounds the recursion of the node destructor.
    QXmlStreamReader reader(dev);
    reader.setNamespaceProcessing(false);
    std::unique_ptr<Itemi> root;
    QList<Itemi *> open;
    TextRun run;

    while (!reader.atEnd()) {
        const QXmlStreamReader::TokenType token = reader.readNext();
        if (token == QXmlStreamReader::Characters) {
            run.add(reader);
            continue;
        }
        run.flushInto(open.isEmpty() ? nullptr : open.last());
        if (token == QXmlStreamReader::StartElement) {
            if (open.size() >= MaxDepth) {
                reader.raiseError(
                    QStringLiteral("elements nested deeper than %1 levels").arg(int(MaxDepth)));
                break;
            }
            const QString name = reader.qualifiedName().toString();
            if (open.isEmpty()) {
                root.reset(new Itemi(name));
                open.append(root.get());
            } else {
                open.append(open.last()->addChild(name));
            }
        } else if (token == QXmlStreamReader::EndElement) {
            if (!open.isEmpty())
                open.removeLast();
        }
        // Comments, processing instructions, the document type and
        // unresolved entity references carry no values.
    }

    if (reader.hasError() || !root) {
        qWarning("failed to load xml data %s (line,col) %lld %lld (%s,%d)",
                 qPrintable(reader.errorString()), reader.lineNumber(), reader.columnNumber(),
                 __FILE__, __LINE__);
        return false;
    }
    m_root = std::move(root);
    return true;
}

bool Archi::loadFile(const QString &path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) {
        qWarning("failed to open '%s': %s (%s,%d)", qPrintable(path),
                 qPrintable(file.errorString()), __FILE__, __LINE__);
        return false;
    }
    return load(&file);
}

} // namespace arch
