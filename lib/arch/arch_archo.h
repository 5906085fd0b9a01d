#ifndef ARCH_ARCHO_H
#define ARCH_ARCHO_H

#include "arch_itemo.h"

#include <QObject>

#include <memory>

class QIODevice;

namespace arch {

// A document being written: fill root() with put calls, then save it once.
// The document starts with the lines
//   <?xml version = '1.0'?>
//   <!DOCTYPE arch SYSTEM 'arch'>
// followed by the root element "arch", indented by one space per level.
class Archo : public QObject
{
    Q_OBJECT

public:
    explicit Archo(QObject *parent = nullptr);
    ~Archo() override;

    Itemo *root() { return m_root.get(); }

    // The whole document as UTF-8 bytes. False (after a critical line) when
    // a node's name cannot be an element name: such a document could not be
    // read back.
    bool toXml(QByteArray &out) const;
    // Writes the document to dev; false when dev is null, the document
    // cannot be built or the device does not take all of it.
    bool save(QIODevice *dev) const;
    // Writes the document to a file atomically: either the whole new file is
    // in place afterwards or the old one is untouched.
    bool saveFile(const QString &path) const;

private:
    std::unique_ptr<Itemo> m_root;
};

} // namespace arch

#endif
