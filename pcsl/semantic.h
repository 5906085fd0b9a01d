#ifndef PCSL_SEMANTIC_H
#define PCSL_SEMANTIC_H

#include "pcsl_tokens.h"

#include <cstdint>

enum {
    SEM_MAX_CONTEXTS = 6,
    SEM_VALUE_STACK = 32,
    SEM_TEXT_SIZE = 256,
};

// A value the parser pushed: token number and a copy of its text.
struct SemValue
{
    int type;
    char text[SEM_TEXT_SIZE];
};

// An open object.
struct SemContext
{
    char arg[SEM_TEXT_SIZE];
    char name[SEM_TEXT_SIZE];
    int arg_type;
    SemContext *self;
    uint32_t user;      // free for the Semantics subclass; 0 when pushed
};

// Items kept in a symbol table start with their name.
struct SemNamed
{
    const char *name;
};

// What the parser recognises is reported through these operations. The
// base class keeps the value stack and the stack of open objects and calls
// the hooks (slots 11 to 16); a subclass that gives the text a meaning
// overrides the hooks. The order of the virtual operations is fixed.
class Semantics
{
public:
    Semantics();
    virtual ~Semantics();

    virtual void init();                                    // 1
    virtual void pushValue(const PcslToken &tok);           // 2
    virtual void commandComplete();                         // 3
    virtual void assignmentComplete();                      // 4
    virtual void objectBegin();                             // 5
    virtual void objectEnd();                               // 6
    virtual void callBegin();                               // 7
    virtual void callEnd();                                 // 8
    virtual void parseStart();                              // 9
    virtual void parseEnd(int result);                      // 10
    virtual void onObjectBegin();                           // 11
    virtual void onObjectEnd();                             // 12
    virtual void onProperty(const char *key, const char *op, const char *value); // 13
    virtual void propertyDispatch(const SemValue *key, const SemValue *op, const SemValue *value); // 14
    virtual void onCommand(const char *arg);                // 15
    virtual void commandDispatch(const SemValue *arg);      // 16
    virtual const char *popText();                          // 17

    // The innermost open object, or null when none is open.
    SemContext *currentContext();
    int contextDepth() const { return context_depth_; }
    // Opens an object. With SEM_MAX_CONTEXTS open already it logs and
    // opens nothing: the object's properties go to the enclosing one, and
    // its end closes nothing.
    bool contextPush(const char *name, const char *arg, int arg_type);
    void contextPop();

    int valueDepth() const { return value_depth_; }
    // Pops the top value; null when the stack is empty. The entry stays
    // readable until the next push.
    const SemValue *popValue();

    // The last command's name and the last call's name and arguments.
    const char *commandName() const { return command_name_; }
    const char *callName() const { return call_name_; }
    int callArgCount() const { return call_argc_; }
    const SemValue *callArg(int i) const;

    // Symbol table over the caller's array of size entries (all null at
    // first). Insert returns the slot used, -1 for a null item and -2 when
    // no table is attached; find returns null when the name is absent.
    void symbolTableAttach(SemNamed **table, int size);
    int symbolInsert(SemNamed *item);
    SemNamed *symbolFind(const char *name) const;

private:
    int symbolHash(const char *name) const;

    SemContext contexts_[SEM_MAX_CONTEXTS];
    int context_depth_;
    int context_overflow_;      // objects opened beyond the limit
    SemValue values_[SEM_VALUE_STACK];
    int value_depth_;
    int call_depth_;
    SemValue call_args_[SEM_VALUE_STACK];
    int call_argc_;
    char call_name_[SEM_TEXT_SIZE];
    char command_name_[SEM_TEXT_SIZE];
    SemNamed **symbols_;
    int symbol_count_;
};

#endif
