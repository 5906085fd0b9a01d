#ifndef BD_TEST_SUPPORT_H
#define BD_TEST_SUPPORT_H

// Test doubles and helpers shared by the button-driver tests.

#include "../support/stdout_capture.h"
#include "face_image.h"
#include "ibutton.h"

#include <QByteArray>
#include <QStringList>
#include <QTemporaryFile>

#include <cstdio>
#include <memory>
#include <unistd.h>

namespace bdtest {

// A button that records every call made to it, one line per call.
class RecordingButton : public buttondriver::IButton
{
public:
    explicit RecordingButton(qint32 id, bool led = false, qint32 kind = KIND_LCD)
        : m_id(id), m_led(led), m_kind(led ? KIND_LED : kind)
    {
    }

    void setColor(quint8 r, quint8 g, quint8 b) override
    {
        calls << QStringLiteral("color %1 %2 %3").arg(r).arg(g).arg(b);
    }
    void setImage(const buttondriver::FaceImage &image, qint32 imageId) override
    {
        lastImage = image;
        images.push_back(image);
        calls << QStringLiteral("image %1").arg(imageId);
    }
    qint32 id() const override { return m_id; }
    bool isLED() const override { return m_led; }
    void setText(const QString &text, qint32 flags) override
    {
        calls << QStringLiteral("text %1 %2").arg(text).arg(flags);
    }
    bool isVirtual() const override { return false; }
    IButton *mapped() const override { return partner; }
    void setMapped(IButton *p) override
    {
        partner = p;
        calls << (p ? QStringLiteral("mapped %1").arg(p->id()) : QStringLiteral("mapped none"));
    }
    qint32 kind() const override { return m_kind; }

    QStringList take()
    {
        const QStringList c = calls;
        calls.clear();
        return c;
    }

    QStringList calls;
    buttondriver::FaceImage lastImage;
    std::vector<buttondriver::FaceImage> images;
    IButton *partner = nullptr;

private:
    qint32 m_id;
    bool m_led;
    qint32 m_kind;
};

// Collects Qt log lines ("critical <text>", "debug <text>") while it lives.
class LogCapture
{
public:
    LogCapture()
    {
        s_current = this;
        m_previous = qInstallMessageHandler(handler);
    }
    ~LogCapture()
    {
        qInstallMessageHandler(m_previous);
        s_current = nullptr;
    }

    QStringList lines;

    // Lines starting with prefix.
    QStringList starting(const QString &prefix) const
    {
        QStringList out;
        for (const QString &l : lines)
            if (l.startsWith(prefix))
                out << l;
        return out;
    }

private:
    static void handler(QtMsgType type, const QMessageLogContext &, const QString &text)
    {
        const char *level = type == QtCriticalMsg ? "critical"
                            : type == QtWarningMsg ? "warning"
                            : type == QtFatalMsg   ? "fatal"
                                                   : "debug";
        if (s_current)
            s_current->lines << QString::fromLatin1(level) + QLatin1Char(' ') + text;
    }

    static inline LogCapture *s_current = nullptr;
    QtMessageHandler m_previous = nullptr;
};

// A copy of bytes in a heap block of exactly that size, seen through a
// QByteArray that does not own it: reading one byte past the end is caught by
// AddressSanitizer (a QByteArray of its own would have a terminator there).
class ExactBytes
{
public:
    explicit ExactBytes(const QByteArray &bytes)
        : m_size(bytes.size()), m_data(new char[size_t(std::max<qsizetype>(bytes.size(), 1))])
    {
        std::copy(bytes.cbegin(), bytes.cend(), m_data.get());
    }
    QByteArray bytes() const { return QByteArray::fromRawData(m_data.get(), m_size); }

private:
    qsizetype m_size;
    std::unique_ptr<char[]> m_data;
};

} // namespace bdtest

#endif
