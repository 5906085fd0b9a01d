#ifndef ARCH_ARCHI_H
#define ARCH_ARCHI_H

#include "arch_itemi.h"

#include <QObject>

#include <memory>

class QIODevice;

namespace arch {

// A document being read: load it once, then fetch fields from root() with
// get calls. The root element's tag name is not checked.
class Archi : public QObject
{
    Q_OBJECT

public:
    // Documents nested deeper than this are refused: no file this program
    // writes comes near it, and the limit keeps a hostile file from taking
    // the reader's time and stack.
    enum { MaxDepth = 256 };

    explicit Archi(QObject *parent = nullptr);
    ~Archi() override;

    // The document element; an empty node named "" before a successful load.
    const Itemi *root() const { return m_root.get(); }

    // Parses the whole document from dev into the node tree. On a parse
    // error logs "failed to load xml data" with the parser's message, line
    // and column, returns false and keeps the tree it had.
    bool load(QIODevice *dev);
    bool loadFile(const QString &path);

private:
    std::unique_ptr<Itemi> m_root;
};

} // namespace arch

#endif
