#include "pan_limiter.h"

#include "pan_connector.h"
#include "pan_item.h"

#include <algorithm>

bool PAN_Limiter::Content::operator==(const Content &o) const
{
    if (kind != o.kind)
        return false;
    switch (kind) {
    case Image: return image == o.image;
    case Text: return text == o.text && flags == o.flags;
    default: return true;
    }
}

PAN_Limiter::PAN_Limiter(QObject *parent) : QObject(parent)
{
    m_timer.setInterval(m_interval);
    // Batches pace the face's frames: a coarse timer would let them drift.
    // Each start is for the time left to the next slot.
    m_timer.setTimerType(Qt::PreciseTimer);
    m_timer.setSingleShot(true);
    connect(&m_timer, &QTimer::timeout, this, &PAN_Limiter::timerUpdate);
    m_batchClock.start();
}

PAN_Limiter::~PAN_Limiter()
{
    for (Record &r : m_records)
        if (r.connector)
            r.connector->limiterGone();
}

PAN_Limiter::Record *PAN_Limiter::record(Connector *c, bool create)
{
    const int tag = c->tag();
    if (tag >= 0 && tag < int(m_records.size()) && m_records[size_t(tag)].connector == c)
        return &m_records[size_t(tag)];
    if (!create)
        return nullptr;
    int index;
    if (!m_free.empty()) {
        index = m_free.back();
        m_free.pop_back();
        m_records[size_t(index)] = Record();
    } else {
        index = int(m_records.size());
        m_records.emplace_back();
    }
    m_records[size_t(index)].connector = c;
    c->setTag(index);
    return &m_records[size_t(index)];
}

void PAN_Limiter::setColor(Connector *c, const QColor &color)
{
    Record *r = record(c, true);
    r->colorSet = true;
    r->color = color;
    enqueue(c);
}

void PAN_Limiter::setImage(Connector *c, const buttondriver::FaceImage &image)
{
    Record *r = record(c, true);
    r->content.kind = Content::Image;
    r->content.image = image;
    r->content.text.clear();
    r->content.flags = 0;
    enqueue(c);
}

void PAN_Limiter::setText(Connector *c, const QString &text, int flags)
{
    Record *r = record(c, true);
    r->content.kind = Content::Text;
    r->content.image = buttondriver::FaceImage();
    r->content.text = text;
    r->content.flags = flags;
    enqueue(c);
}

void PAN_Limiter::refresh(Connector *c)
{
    Record *r = record(c, false);
    if (!r)
        return; // nothing was ever given: nothing to show again
    r->force = true;
    enqueue(c);
}

void PAN_Limiter::forget(Connector *c)
{
    Record *r = record(c, false);
    if (!r)
        return;
    const int index = c->tag();
    m_queue.erase(std::remove(m_queue.begin(), m_queue.end(), index), m_queue.end());
    *r = Record();
    m_free.push_back(index);
    c->setTag(-1);
}

void PAN_Limiter::enqueue(Connector *c)
{
    Record *r = record(c, false);
    if (!r->queued) {
        r->queued = true;
        m_queue.push_back(c->tag());
    }
    // The next batch is due one interval after the last one's slot, not one
    // interval after this update: under a steady stream of updates the face
    // is drawn once per interval.
    const qint64 due = m_lastSlot + m_interval;
    const qint64 now = m_batchClock.elapsed();
    if (now >= due)
        runBatch(m_batchSize, true);
    else if (!m_timer.isActive())
        m_timer.start(int(due - now));
}

void PAN_Limiter::timerUpdate()
{
    runBatch(m_batchSize, true);
}

int PAN_Limiter::timerRemainingMs() const
{
    return m_timer.remainingTime();
}

void PAN_Limiter::timerUpdateEnabler()
{
    setBatch(100, 33);
    m_timer.start();
}

void PAN_Limiter::setBatch(int size, int intervalMs)
{
    m_batchSize = std::max(0, size);
    m_interval = std::max(1, intervalMs);
    m_timer.setInterval(m_interval);
}

void PAN_Limiter::flush()
{
    runBatch(int(m_queue.size()), false);
}

void PAN_Limiter::runBatch(int maxCount, bool onCadence)
{
    // Batches keep to slots one interval apart: one that runs a little late
    // (the GUI thread was busy) keeps its slot, so the lateness does not add
    // up from batch to batch and the face keeps its frame rate. One more
    // than an interval late, early, or out of turn (flush) starts the slots
    // afresh from now.
    const qint64 now = m_batchClock.elapsed();
    const qint64 slot = m_lastSlot + m_interval;
    m_lastSlot = onCadence && now >= slot && now - slot < m_interval ? slot : now;
    for (int n = 0; n < maxCount && !m_queue.empty(); ++n) {
        const int index = m_queue.front();
        m_queue.pop_front();
        Record &r = m_records[size_t(index)];
        r.queued = false;
        if (r.connector)
            apply(r);
    }
    if (m_queue.empty())
        m_timer.stop();
    else
        m_timer.start(int(std::max<qint64>(1, m_lastSlot + m_interval - m_batchClock.elapsed())));
}

void PAN_Limiter::apply(Record &r)
{
    Connector *c = r.connector;
    PAN_Item *item = c->item();
    if (!item)
        return;
    // Colour and legend of one key are drawn together.
    item->holdRedraw();
    if (r.colorSet && (r.force || !r.colorApplied || r.color != r.appliedColor)) {
        c->applyColor(r.color);
        r.appliedColor = r.color;
        r.colorApplied = true;
    }
    if (r.content.kind != Content::None && (r.force || r.content != r.applied)) {
        const Content content = r.content; // applying may not touch the record, but be safe
        if (content.kind == Content::Image)
            c->applyImage(content.image);
        else
            c->applyText(content.text, content.flags);
        r.applied = content;
    }
    r.force = false;
    item->releaseRedraw();
}
