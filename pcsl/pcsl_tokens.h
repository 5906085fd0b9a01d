#ifndef PCSL_TOKENS_H
#define PCSL_TOKENS_H

// Tokens of PCSL, the panel configuration script language. The numbers are
// part of what a Semantics sees (the type of each pushed value).
enum PcslTokenType {
    PCSL_BEGIN = 0,
    PCSL_END = 1,
    PCSL_OBJECT = 2,        // "object", "obj" and "data"
    PCSL_CMD = 3,
    PCSL_LBRACKET = 4,
    PCSL_RBRACKET = 5,
    PCSL_LBRACE = 6,
    PCSL_RBRACE = 7,
    PCSL_LPAREN = 8,
    PCSL_RPAREN = 9,
    PCSL_IDENTIFIER = 10,
    PCSL_NUMBER = 11,
    PCSL_STRING = 12,
    PCSL_ASSIGN = 13,
    PCSL_COMMA = 14,
    PCSL_HEX = 15,          // text starts with "&" in both spellings
    PCSL_SCRIPT_ARG = 16,   // text is what follows the "$"
    PCSL_GLOBAL_VAR = 17,   // text starts with the at sign
    PCSL_EOF = 18,
    PCSL_UNKNOWN = 19,      // only named in messages
    PCSL_NONE = 20,         // no token buffered / empty argument
    PCSL_TOKEN_COUNT = 21,
};

enum {
    PCSL_TEXT_SIZE = 255,   // token text buffer
    PCSL_MAX_LEXEME = 254,  // longest lexeme
};

// A token: its number and its text. The text lives in the lexer's buffers
// and stays valid until the token after next is read.
struct PcslToken
{
    int type;
    const char *text;
    int line;
};

// The token's name as used in messages ("identifier", "(", ...).
const char *pcsl_token_name(int type);

#endif
