#ifndef PCSL_LEXER_H
#define PCSL_LEXER_H

#include "pcsl_tokens.h"

class EStreamBuf;

// Lexer state. Token texts alternate between two buffers so that the
// current token and the one read after it are both valid.
struct PcslLexer
{
    EStreamBuf *sb;
    int ch;         // next character, already taken from the stream; -1 at end
    int line;
    int ended;      // the text was ended (end of stream, bad character, ...)
    int which;
    char text[2][PCSL_TEXT_SIZE];
};

// Starts reading sb at line 1.
void pcsl_lex_start(PcslLexer *lx, EStreamBuf *sb);

// Reads the next token. Once the text has ended every call returns
// PCSL_EOF.
void pcsl_lex_next(PcslLexer *lx, PcslToken *tok);

#endif
