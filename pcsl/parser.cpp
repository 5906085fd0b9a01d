#include "parser.h"

#include "estreambuf.h"
#include "semantic.h"
#include "util_assert.h"

#include <cstdio>

#define PARSER_MODULE "pcsl\\parser"

Parser::Parser()
    : sb_(NULL), semantics(NULL), halted_(false), result_(0), argc_(0), argv_(nullptr)
{
    cur_ = {PCSL_NONE, "", 1};
    look_ = {PCSL_NONE, "", 1};
    lex_.sb = nullptr;
    lex_.line = 1;
}

void Parser::attach(EStreamBuf *sb, Semantics *sem)
{
    sb_ = sb;
    semantics = sem;
}

int Parser::parse(int argc, const char *const *argv)
{
    UTIL_ASSERT(sb_ != NULL && "parser not inited", PARSER_MODULE);
    UTIL_ASSERT(semantics != NULL && "parser not inited", PARSER_MODULE);
    if (!sb_->good()) {
        printf("stream is not good\n");
        return 1;
    }
    semantics->init();
    semantics->parseStart();
    pcsl_lex_start(&lex_, sb_);
    result_ = 0;
    halted_ = false;
    argc_ = argv != nullptr && argc > 0 ? argc : 0;
    argv_ = argv;
    look_.type = PCSL_NONE;
    advance();
    program();
    return result_;
}

void Parser::advance()
{
    if (look_.type != PCSL_NONE) {
        cur_ = look_;
        look_.type = PCSL_NONE;
        return;
    }
    pcsl_lex_next(&lex_, &cur_);
}

void Parser::syntaxError(int expected)
{
    printf("Line %d: Syntax error (%s) expecting '%s' \n", cur_.line, cur_.text,
           pcsl_token_name(expected));
    result_ = -1;
    halted_ = true;
}

bool Parser::expect(int type)
{
    if (cur_.type == type) {
        advance();
        return true;
    }
    syntaxError(type);
    return false;
}

bool Parser::halting()
{
    if (!halted_)
        return false;
    printf("Parser halting.\n");
    return true;
}

void Parser::pushCurrent()
{
    semantics->pushValue(cur_);
}

void Parser::pushEmpty()
{
    PcslToken empty = {PCSL_NONE, "", cur_.line};
    semantics->pushValue(empty);
}

void Parser::program()
{
    statements();
    expect(PCSL_EOF);
    semantics->parseEnd(result_);
}

void Parser::statements()
{
    for (;;) {
        if (halting())
            return;
        switch (cur_.type) {
        case PCSL_OBJECT:
            object();
            break;
        case PCSL_CMD:
            command();
            break;
        case PCSL_IDENTIFIER:
            assignmentOrCall();
            break;
        default:
            return;
        }
    }
}

void Parser::object()
{
    expect(PCSL_OBJECT);
    pushCurrent();
    expect(PCSL_IDENTIFIER);
    expect(PCSL_LPAREN);
    objectArgument();
    expect(PCSL_RPAREN);
    // Begin and end stay paired even after an error, so that every object
    // that was begun is also ended.
    semantics->objectBegin();
    expect(PCSL_LBRACE);
    statements();
    expect(PCSL_RBRACE);
    semantics->objectEnd();
}

void Parser::objectArgument()
{
    if (halting()) {
        // Keeps name and argument paired for objectBegin.
        pushEmpty();
        return;
    }
    if (cur_.type == PCSL_NUMBER || cur_.type == PCSL_STRING) {
        pushCurrent();
        advance();
    } else {
        pushEmpty();
    }
}

void Parser::command()
{
    expect(PCSL_CMD);
    pushCurrent();
    expect(PCSL_IDENTIFIER);
    expect(PCSL_LPAREN);
    if (cur_.type == PCSL_NUMBER || cur_.type == PCSL_STRING) {
        pushCurrent();
        advance();
    } else {
        pushEmpty();
    }
    expect(PCSL_RPAREN);
    // Nothing after an error reaches the hooks.
    if (!halted_)
        semantics->commandComplete();
}

void Parser::assignmentOrCall()
{
    pushCurrent();
    expect(PCSL_IDENTIFIER);
    if (cur_.type == PCSL_ASSIGN) {
        pushCurrent();
        expect(PCSL_ASSIGN);
        if (cur_.type == PCSL_IDENTIFIER) {
            pushCurrent();
            advance();
        } else {
            value();
        }
        if (!halted_)
            semantics->assignmentComplete();
    } else if (cur_.type == PCSL_LPAREN) {
        semantics->callBegin();
        expect(PCSL_LPAREN);
        callArguments();
        expect(PCSL_RPAREN);
        if (!halted_)
            semantics->callEnd();
    } else {
        syntaxError(PCSL_UNKNOWN);
    }
}

void Parser::callArguments()
{
    if (cur_.type == PCSL_RPAREN)
        return;
    for (;;) {
        if (cur_.type == PCSL_IDENTIFIER) {
            pushCurrent();
            advance();
        } else {
            value();
        }
        if (halted_ || cur_.type != PCSL_COMMA)
            return;
        advance();
    }
}

void Parser::value()
{
    if (halting())
        return;
    switch (cur_.type) {
    case PCSL_NUMBER:
    case PCSL_STRING:
    case PCSL_HEX:
    case PCSL_GLOBAL_VAR:
        pushCurrent();
        advance();
        return;
    case PCSL_SCRIPT_ARG: {
        // "$n" stands for the n-th script argument, as a string; an n that
        // names no argument gives the empty string.
        long n = 0;
        for (const char *p = cur_.text; *p >= '0' && *p <= '9' && n <= 100000; ++p)
            n = n * 10 + (*p - '0');
        PcslToken arg = {PCSL_STRING, "", cur_.line};
        if (n >= 1 && n <= argc_ && argv_[n - 1] != nullptr)
            arg.text = argv_[n - 1];
        semantics->pushValue(arg);
        advance();
        return;
    }
    default:
        syntaxError(PCSL_UNKNOWN);
        return;
    }
}
