#ifndef REPORT_SEMANTICS_H
#define REPORT_SEMANTICS_H

#include "semantic.h"

// A Semantics that gives the text no meaning: it counts what the parser
// recognised and, when verbose, prints it as an indented outline.
class ReportSemantics : public Semantics
{
public:
    explicit ReportSemantics(bool verbose) : verbose_(verbose) {}

    void parseStart() override;
    void onObjectBegin() override;
    void onObjectEnd() override;
    void onProperty(const char *key, const char *op, const char *value) override;
    void onCommand(const char *arg) override;
    void callEnd() override;

    int objects = 0;
    int properties = 0;
    int commands = 0;
    int calls = 0;
    int maxDepth = 0;

private:
    void indent() const;

    bool verbose_;
};

#endif
