#ifndef ARCH_ARCHIVABLE_H
#define ARCH_ARCHIVABLE_H

namespace arch {

class Itemo;
class Itemi;

// An object that can be stored in an archive document. save adds the
// object's fields as children of the given node; load reads them back from
// the children of the given node, keeping the current value of any field
// that is missing.
class Archivable
{
public:
    virtual ~Archivable() = default;
    virtual bool save(Itemo *node) const = 0;
    virtual bool load(const Itemi *node) = 0;
};

} // namespace arch

#endif
