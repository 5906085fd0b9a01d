#ifndef PCSL_PARSER_H
#define PCSL_PARSER_H

#include "lexer.h"
#include "pcsl_tokens.h"

class EStreamBuf;
class Semantics;

// Recursive-descent parser of PCSL. It reads characters from a stream
// buffer and reports what it recognises to a Semantics; it keeps no tree
// and no copy of the text.
//
//   program     = statements EOF
//   statements  = { object | command | assignment | call }
//   object      = ("object"|"obj"|"data") identifier "(" [number|string] ")"
//                 "{" statements "}"
//   command     = "cmd" identifier "(" [number|string] ")"
//   assignment  = identifier "=" (identifier | value)
//   call        = identifier "(" [item {"," item}] ")"    item = identifier | value
//   value       = number | string | hex | global var | "$n"
//
// The first syntax error is logged, the result becomes -1 and the parser
// halts: no further statement is parsed, but the productions already under
// way finish (their remaining expected tokens are still checked and each
// open object is still ended).
class Parser
{
public:
    Parser();

    void attach(EStreamBuf *sb, Semantics *sem);
    // Parses the whole stream. argv[0..argc) are the script arguments that
    // "$1", "$2", ... stand for. Returns 0, -1 after a syntax error, or 1
    // when the stream is not good (nothing is reported then).
    int parse(int argc = 0, const char *const *argv = nullptr);

    int line() const { return lex_.line; }

private:
    void advance();
    bool expect(int type);
    void syntaxError(int expected);
    bool halting();
    void pushCurrent();
    void pushEmpty();

    void program();
    void statements();
    void object();
    void objectArgument();
    void command();
    void assignmentOrCall();
    void callArguments();
    void value();

    EStreamBuf *sb_;
    Semantics *semantics;
    PcslLexer lex_;
    PcslToken cur_;
    PcslToken look_;
    bool halted_;
    int result_;
    int argc_;
    const char *const *argv_;
};

#endif
