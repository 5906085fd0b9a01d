#ifndef PAN_LIMITER_H
#define PAN_LIMITER_H

// PAN_Limiter: takes every colour, picture and text update of a face's
// connectors and applies them in batches, so that a burst of button-driver
// records costs one redraw per key per batch. It keeps the latest values per
// connector, queues the connector once, and a batch applies to each queued
// connector only what differs from what it last applied.
//
// Until timerUpdateEnabler() runs (the face starts it 1000 ms after it is
// built) the batch size is 0: updates are kept but nothing is drawn.

#include "face_image.h"

#include <QColor>
#include <QElapsedTimer>
#include <QObject>
#include <QString>
#include <QTimer>

#include <deque>
#include <vector>

class Connector;

class PAN_Limiter : public QObject
{
    Q_OBJECT

public:
    explicit PAN_Limiter(QObject *parent = nullptr);
    ~PAN_Limiter() override;

    void setColor(Connector *c, const QColor &color);
    void setImage(Connector *c, const buttondriver::FaceImage &image);
    void setText(Connector *c, const QString &text, int flags);
    // Applies everything the connector holds again at the next batch.
    void refresh(Connector *c);
    // The connector is being destroyed: drops its record.
    void forget(Connector *c);

    // Applies every queued update now, whatever the batch size.
    void flush();

    int batchSize() const { return m_batchSize; }
    int interval() const { return m_interval; }
    void setBatch(int size, int intervalMs);
    int queued() const { return int(m_queue.size()); }
    bool timerActive() const { return m_timer.isActive(); }
    // Time until the next batch; -1 when none is due.
    int timerRemainingMs() const;

public slots:
    // One batch; the timer stops once the queue is empty.
    void timerUpdate();
    // Batches of 100 connectors every 33 ms from now on.
    void timerUpdateEnabler();

private:
    struct Content
    {
        enum Kind { None, Image, Text };
        Kind kind = None;
        buttondriver::FaceImage image;
        QString text;
        int flags = 0;
        bool operator==(const Content &o) const;
        bool operator!=(const Content &o) const { return !(*this == o); }
    };

    struct Record
    {
        Connector *connector = nullptr;
        bool colorSet = false;
        QColor color;
        bool colorApplied = false;
        QColor appliedColor;
        Content content;
        Content applied;
        bool queued = false;
        bool force = false;
    };

    Record *record(Connector *c, bool create);
    void enqueue(Connector *c);
    // onCadence: a batch of the timer or of an update, which keeps to the
    // slots; otherwise (flush) the slots start again from now.
    void runBatch(int maxCount, bool onCadence);
    void apply(Record &r);

    std::vector<Record> m_records; // indexed by the connector's tag
    std::vector<int> m_free;
    std::deque<int> m_queue;
    int m_batchSize = 0;
    int m_interval = 1000;
    QTimer m_timer;
    QElapsedTimer m_batchClock;
    qint64 m_lastSlot = 0; // the batch clock's time of the last batch's slot (ms)
};

#endif
