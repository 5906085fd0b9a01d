#include "arch_archo.h"

#include <QDomDocument>
#include <QIODevice>
#include <QSaveFile>

#include "tess_savefile.h"

namespace arch {

Archo::Archo(QObject *parent) : QObject(parent), m_root(new Itemo(QStringLiteral("arch"))) {}

Archo::~Archo() = default;

static bool isXmlSpace(const QString &text)
{
    for (const QChar c : text) {
        if (c != QLatin1Char(' ') && c != QLatin1Char('\t') && c != QLatin1Char('\n')
            && c != QLatin1Char('\r'))
            return false;
    }
    return true;
}

// Fills element from node: comment, text, then the children in order.
static bool fill(QDomDocument &doc, QDomElement &element, const Itemo *node)
{
    if (!node->comment().isEmpty())
        element.appendChild(doc.createComment(codec::xmlSafeComment(node->comment())));
    if (!node->text().isEmpty()) {
        bool dropped = false;
        const QString text = codec::xmlSafeText(node->text(), &dropped);
        if (dropped)
            qWarning("characters XML cannot hold dropped from '%s' (%s,%d)",
                     qPrintable(node->name()), __FILE__, __LINE__);
        // A reader drops text that is only blanks as indentation; inside
        // CDATA it stays the value.
        if (!text.isEmpty() && isXmlSpace(text))
            element.appendChild(doc.createCDATASection(text));
        else if (!text.isEmpty())
            element.appendChild(doc.createTextNode(text));
    }
    for (const Itemo *child : node->children()) {
        if (!codec::isElementName(child->name())) {
            qCritical("invalid element name '%s' in '%s' (%s,%d)", qPrintable(child->name()),
                      qPrintable(node->name()), __FILE__, __LINE__);
            return false;
        }
        QDomElement e = doc.createElement(child->name());
        if (!fill(doc, e, child))
            return false;
        element.appendChild(e);
    }
    return true;
}

bool Archo::toXml(QByteArray &out) const
{
    QDomDocument doc;
    // Serialised as <?xml version = '1.0'?>: the target, a blank, the data.
    doc.appendChild(doc.createProcessingInstruction(QStringLiteral("xml version ="),
                                                    QStringLiteral("'1.0'")));
    doc.appendChild(doc.implementation().createDocumentType(QStringLiteral("arch"), QString(),
                                                             QStringLiteral("arch")));
    QDomElement root = doc.createElement(QStringLiteral("arch"));
    if (!fill(doc, root, m_root.get()))
        return false;
    doc.appendChild(root);
    out = doc.toByteArray(1);
    return true;
}

bool Archo::save(QIODevice *dev) const
{
    if (!dev) {
        qCritical("dev = NULL (%s,%d)", __FILE__, __LINE__);
        return false;
    }
    QByteArray bytes;
    if (!toXml(bytes))
        return false;
    if (dev->write(bytes) != bytes.size()) {
        qCritical("failed to write xml data: %s (%s,%d)", qPrintable(dev->errorString()),
                  __FILE__, __LINE__);
        return false;
    }
    return true;
}

bool Archo::saveFile(const QString &path) const
{
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly)) {
        qCritical("failed to open '%s' for writing: %s (%s,%d)", qPrintable(path),
                  qPrintable(file.errorString()), __FILE__, __LINE__);
        return false;
    }
    if (!save(&file)) {
        file.cancelWriting();
        return false;
    }
    tess::SaveError error;
    if (!tess::commitSaveFile(file, &error)) {
        qCritical("failed to write '%s': %s (%s,%d)", qPrintable(path), qPrintable(error.text),
                  __FILE__, __LINE__);
        return false;
    }
    return true;
}

} // namespace arch
