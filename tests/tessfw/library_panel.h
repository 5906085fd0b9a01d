#ifndef LIBRARY_PANEL_H
#define LIBRARY_PANEL_H

#include "panel_host.h"

#include <QElapsedTimer>
#include <QList>
#include <QTest>

using State = TFW_IFirmwareCallback;

// A panel under test: a host plus the states it has seen, in order.
struct Panel
{
    PanelHost host;
    QList<int> states;
    QStringList texts;

    Panel()
    {
        QObject::connect(&host, &PanelHost::stateReported, &host,
                         [this](State::StateMsg m) { states.append(int(m)); }, Qt::QueuedConnection);
        QObject::connect(&host, &PanelHost::textReported, &host,
                         [this](const QString &t) { texts.append(t); }, Qt::QueuedConnection);
    }
    bool waitFor(int state, int timeoutMs = 5000)
    {
        QElapsedTimer t;
        t.start();
        while (!states.contains(state) && t.elapsed() < timeoutMs)
            QTest::qWait(5);
        return states.contains(state);
    }
};

#endif
