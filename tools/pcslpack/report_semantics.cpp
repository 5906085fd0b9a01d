#include "report_semantics.h"

#include <cstdio>

void ReportSemantics::parseStart()
{
    objects = properties = commands = calls = maxDepth = 0;
}

void ReportSemantics::indent() const
{
    for (int i = 1; i < contextDepth(); ++i)
        fputs("  ", stdout);
}

void ReportSemantics::onObjectBegin()
{
    ++objects;
    if (contextDepth() > maxDepth)
        maxDepth = contextDepth();
    if (verbose_) {
        const SemContext *c = currentContext();
        indent();
        printf("%s(%s) {\n", c ? c->name : "", c ? c->arg : "");
    }
}

void ReportSemantics::onObjectEnd()
{
    if (verbose_) {
        indent();
        printf("}\n");
    }
}

void ReportSemantics::onProperty(const char *key, const char *op, const char *value)
{
    ++properties;
    if (verbose_) {
        indent();
        printf("  %s %s \"%s\"\n", key ? key : "", op ? op : "", value ? value : "");
    }
}

void ReportSemantics::onCommand(const char *arg)
{
    ++commands;
    if (verbose_) {
        indent();
        printf("  cmd %s(%s)\n", commandName(), arg ? arg : "");
    }
}

void ReportSemantics::callEnd()
{
    Semantics::callEnd();
    ++calls;
    if (verbose_) {
        indent();
        printf("  %s(", callName());
        for (int i = 0; i < callArgCount(); ++i)
            printf("%s%s", i ? ", " : "", callArg(i)->text);
        printf(")\n");
    }
}
