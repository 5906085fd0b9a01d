#ifndef IBUTTON_H
#define IBUTTON_H

// IButton: what the button driver sees of one LED, LCD key or text display
// of a panel face (or of a virtual button). The operations keep this order:
// implementations elsewhere rely on the layout of the virtual table.

#include <QString>
#include <QtGlobal>

namespace buttondriver {

class FaceImage;

class IButton
{
public:
    enum Kind { KIND_OTHER = 0, KIND_LED = 1, KIND_LCD = 2, KIND_DISPLAY = 3 };

    virtual ~IButton() = default;
    // Shows a colour.
    virtual void setColor(quint8 red, quint8 green, quint8 blue) = 0;
    // Shows a picture; imageId is -1 when it is not a stored image.
    virtual void setImage(const FaceImage &image, qint32 imageId) = 0;
    // The button's id in the driver's table.
    virtual qint32 id() const = 0;
    virtual bool isLED() const = 0;
    // Shows a legend (LCD key) or text (display); flags are the TextFlag bits.
    virtual void setText(const QString &text, qint32 flags) = 0;
    // Applies the stored picture or text again.
    virtual void refresh() {}
    virtual bool isVirtual() const = 0;
    // The partner of a virtual mapping, or nullptr.
    virtual IButton *mapped() const = 0;
    virtual void setMapped(IButton *partner) = 0;
    // One of Kind.
    virtual qint32 kind() const = 0;
    virtual void setTag(qint32) {}
    virtual qint32 tag() const { return 0; }
};

} // namespace buttondriver

#endif
