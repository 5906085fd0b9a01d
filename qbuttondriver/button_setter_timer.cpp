// ButtonSetterImpl's 20 ms step: flashing colours, picture sequences and
// scrolling legends.

#include "button_setter_impl.h"

#include "ibutton.h"
#include "legend.h"

#include <QStringList>

#include <algorithm>

namespace buttondriver {

namespace {

constexpr int kTickMs = 20;

} // namespace

// A legend wider than the face is drawn once into a wide image; the timer
// then shows a face-sized window of it that moves one pixel a frame, after a
// pause at the start (lead-in) and before starting over (tail).
bool ButtonSetterImpl::setupScroll(const QString &text, quint32 flags, TextScroll *scroll) const
{
    const QStringList lines = text.split(QLatin1Char('\n'));
    qsizetype widest = FaceImage::FACE_CHARACTERS; // five characters fill the face
    for (int i = 0; i < lines.size() && i < 3; ++i)
        widest = std::max(widest, lines[i].size());
    const int chars = int(std::min<qsizetype>(widest, FaceImage::MAX_CHARACTERS));
    const int steps = std::max(1, (chars - FaceImage::FACE_CHARACTERS) * 7);
    if (steps <= 1)
        return false; // fits: shown as plain text
    scroll->active = true;
    scroll->text = text;
    scroll->flags = flags;
    scroll->steps = steps;
    scroll->wide = FaceImage(chars);
    renderLegend(scroll->wide, text, int(flags));
    // Short legends pause longer so that they can be read.
    scroll->leadIn = text.size() < 8 ? 80 : 40;
    scroll->tail = text.size() < 8 ? 20 : 10;
    return true;
}

qint64 ButtonSetterImpl::frameCount(const AnimState &a)
{
    if (a.scroll.active)
        return qint64(a.scroll.leadIn) + a.scroll.steps + a.scroll.tail;
    return qint64(a.imageIds.size());
}

void ButtonSetterImpl::showColor(IButton *b, const quint8 (&rgb)[3])
{
    b->setColor(rgb[0], rgb[1], rgb[2]);
    if (m_observer)
        m_observer->colorApplied(b->id(), rgb[0], rgb[1], rgb[2]);
}

void ButtonSetterImpl::showFrame(IButton *b, AnimState &a, qint64 frame)
{
    a.lastFrame = frame;
    if (a.scroll.active) {
        const TextScroll &s = a.scroll;
        int offset = 0;
        if (frame >= qint64(s.leadIn) + s.steps)
            offset = s.steps - 1;
        else if (frame >= s.leadIn)
            offset = int(frame - s.leadIn);
        FaceImage window;
        s.wide.copyWindow(offset, window);
        b->setImage(window, -1);
        if (m_observer)
            m_observer->imageApplied(b->id(), window, -1);
        return;
    }
    const qint32 imageId = a.imageIds[size_t(frame)];
    const auto it = m_images.constFind(imageId);
    if (it == m_images.constEnd()) {
        qCritical("ButtonSetterImpl::update_timer, image id not found %d (%s,%d)", imageId,
                  __FILE__, __LINE__);
        return;
    }
    if (b->isLED())
        return;
    b->setImage(*it, imageId);
    if (m_observer)
        m_observer->imageApplied(b->id(), *it, imageId);
}

void ButtonSetterImpl::update_timer()
{
    for (auto &[b, f] : m_flashing) {
        const qint64 t1 = std::max<qint64>(1, f.ms1 / kTickMs);
        const qint64 t2 = std::max<qint64>(1, f.ms2 / kTickMs);
        if (f.counter == -1 || f.counter >= t1 + t2)
            f.counter = 0;
        if (f.counter == 0)
            showColor(b, f.color1);
        else if (f.counter == t1)
            showColor(b, f.color2);
        ++f.counter;
    }

    std::vector<IButton *> finished;
    for (auto &[b, a] : m_animations) {
        const qint64 count = frameCount(a);
        if (count == 0) {
            finished.push_back(b); // a sequence without frames has nothing to show
            continue;
        }
        // Frame due at this tick; restarts keep the tick small.
        const quint64 frame = quint64(a.rate) * a.tick * kTickMs / 1000;
        if (frame < quint64(count)) {
            if (qint64(frame) != a.lastFrame)
                showFrame(b, a, qint64(frame));
        } else {
            a.tick = 0;
            if (a.repeat == 0 || ++a.repeatCounter != a.repeat) {
                if (a.lastFrame != 0)
                    showFrame(b, a, 0);
            } else {
                finished.push_back(b); // the last frame stays shown
            }
        }
        ++a.tick;
    }
    for (IButton *b : finished) {
        m_animations.erase(b);
        touch(b);
    }
    reportTouched();

    if (m_flashing.empty() && m_animations.empty())
        m_timer.stop();
}

} // namespace buttondriver
