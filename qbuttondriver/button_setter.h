#ifndef BUTTON_SETTER_H
#define BUTTON_SETTER_H

// The interfaces around the button driver: where batches of button-driver
// records go in (ButtonSetter), and the optional listeners a setter can be
// given (ButtonObserver, MessageHandler).

#include <QByteArray>
#include <QString>
#include <QtGlobal>

#include <vector>

namespace buttondriver {

class FaceImage;

// Takes batches of button-driver records (one record per byte array, applied
// in order).
class ButtonSetter
{
public:
    virtual ~ButtonSetter() = default;
    virtual void process_messages(const std::vector<QByteArray> &batch) = 0;
};

// Told of everything a setter shows on a button.
class ButtonObserver
{
public:
    virtual ~ButtonObserver() = default;
    virtual void colorApplied(qint32 id, quint8 red, quint8 green, quint8 blue) = 0;
    virtual void textApplied(qint32 id, const QString &text, qint32 flags) = 0;
    // imageId is -1 for pictures that are not stored images (scrolling legends).
    virtual void imageApplied(qint32 id, const FaceImage &image, qint32 imageId) = 0;
};

// Receives the two values of every TYPE_FORWARD record.
class MessageHandler
{
public:
    virtual ~MessageHandler() = default;
    virtual void forwardMessage(quint32 value1, quint32 value2) = 0;
};

} // namespace buttondriver

#endif
