#ifndef RECORDING_SEMANTICS_H
#define RECORDING_SEMANTICS_H

// A Semantics that writes down every hook call as a line of text, and a
// helper that parses a text through it, collecting the printed messages.

#include "estreambuf.h"
#include "parser.h"
#include "semantic.h"
#include "../support/stdout_capture.h"

#include <QByteArray>
#include <QStringList>

class RecordingSemantics : public Semantics
{
public:
    QStringList events;
    int inits = 0;
    int starts = 0;
    int endResult = 99;

    void init() override { ++inits; Semantics::init(); }
    void parseStart() override { ++starts; }
    void parseEnd(int result) override { endResult = result; }
    void onObjectBegin() override
    {
        const SemContext *c = currentContext();
        events << QStringLiteral("begin %1(%2:%3) depth %4")
                      .arg(c->name, c->arg).arg(c->arg_type).arg(contextDepth());
    }
    void onObjectEnd() override
    {
        const SemContext *c = currentContext();
        events << QStringLiteral("end %1").arg(c ? c->name : "-");
    }
    void onProperty(const char *key, const char *op, const char *value) override
    {
        const SemContext *c = currentContext();
        events << QStringLiteral("prop %1.%2 %3 %4")
                      .arg(c ? c->name : "-", key ? key : "(null)", op ? op : "(null)",
                           value ? value : "(null)");
    }
    void propertyDispatch(const SemValue *key, const SemValue *op, const SemValue *value) override
    {
        lastValueType = value ? value->type : -1;
        Semantics::propertyDispatch(key, op, value);
    }
    void onCommand(const char *arg) override
    {
        events << QStringLiteral("cmd %1(%2)").arg(commandName(), arg ? arg : "(null)");
    }
    void callEnd() override
    {
        Semantics::callEnd();
        QStringList args;
        for (int i = 0; i < callArgCount(); ++i)
            args << QStringLiteral("%1:%2").arg(callArg(i)->type).arg(callArg(i)->text);
        events << QStringLiteral("call %1(%2)").arg(callName(), args.join(','));
    }

    int lastValueType = -1;
};

struct ParseRun
{
    int result;
    QByteArray messages;
};

// Parses text (from memory) with sem, optionally with script arguments.
inline ParseRun parseText(const QByteArray &text, Semantics *sem, int argc = 0,
                          const char *const *argv = nullptr)
{
    QByteArray copy = text;
    EMemBuf mem;
    mem.setbuf(copy.data(), size_t(copy.size()));
    mem.open("r");
    Parser parser;
    parser.attach(&mem, sem);
    StdoutCapture cap;
    int r = parser.parse(argc, argv);
    return {r, cap.text()};
}

#endif
