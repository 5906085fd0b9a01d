#include "semantic.h"

#include "util_assert.h"

#include <cstdio>
#include <cstring>

#define SEMANTIC_MODULE "pcsl\\semantic"

// Copies src (null = empty) into a text field, cut to fit.
static void sem_copy(char *dst, const char *src)
{
    size_t n = 0;
    if (src != nullptr)
        while (n < SEM_TEXT_SIZE - 1 && src[n] != '\0') {
            dst[n] = src[n];
            ++n;
        }
    dst[n] = '\0';
}

Semantics::Semantics()
    : context_depth_(0), context_overflow_(0), value_depth_(0), call_depth_(0),
      call_argc_(0), symbols_(nullptr), symbol_count_(0)
{
    memset(contexts_, 0, sizeof contexts_);
    memset(values_, 0, sizeof values_);
    memset(call_args_, 0, sizeof call_args_);
    call_name_[0] = '\0';
    command_name_[0] = '\0';
}

Semantics::~Semantics() = default;

void Semantics::init()
{
    context_depth_ = 0;
    context_overflow_ = 0;
    value_depth_ = 0;
    call_depth_ = 0;
    call_argc_ = 0;
    call_name_[0] = '\0';
    command_name_[0] = '\0';
    memset(values_, 0, sizeof values_);
}

void Semantics::pushValue(const PcslToken &tok)
{
    if (value_depth_ >= SEM_VALUE_STACK) {
        // More values than any statement of the language holds (a call
        // with too many arguments): refused, the statement loses them.
        printf("%s: Semantic error. Too many values (%u)\n", "Semantics::pushValue",
               static_cast<unsigned>(value_depth_));
        return;
    }
    SemValue *v = &values_[value_depth_++];
    v->type = tok.type;
    sem_copy(v->text, tok.text);
}

const SemValue *Semantics::popValue()
{
    if (value_depth_ == 0)
        return nullptr;
    return &values_[--value_depth_];
}

void Semantics::commandComplete()
{
    // The argument is on top, the command's name below it; both go, so
    // that commands never pile up on the value stack.
    const SemValue *arg = popValue();
    const SemValue *name = popValue();
    sem_copy(command_name_, name ? name->text : nullptr);
    commandDispatch(arg);
}

void Semantics::assignmentComplete()
{
    const SemValue *value = popValue();
    const SemValue *op = popValue();
    const SemValue *key = popValue();
    propertyDispatch(key, op, value);
}

void Semantics::objectBegin()
{
    const SemValue *arg = popValue();
    const SemValue *name = popValue();
    contextPush(name ? name->text : "", arg ? arg->text : "", arg ? arg->type : PCSL_NONE);
    onObjectBegin();
}

void Semantics::objectEnd()
{
    onObjectEnd();
    contextPop();
}

void Semantics::callBegin()
{
    call_depth_ = value_depth_;
}

void Semantics::callEnd()
{
    int depth = call_depth_ <= value_depth_ ? call_depth_ : value_depth_;
    call_argc_ = value_depth_ - depth;
    for (int i = 0; i < call_argc_; ++i)
        call_args_[i] = values_[depth + i];
    value_depth_ = depth;
    const SemValue *name = popValue();
    sem_copy(call_name_, name ? name->text : nullptr);
}

void Semantics::parseStart()
{
}

void Semantics::parseEnd(int)
{
}

void Semantics::onObjectBegin()
{
}

void Semantics::onObjectEnd()
{
}

void Semantics::onProperty(const char *, const char *, const char *)
{
}

void Semantics::propertyDispatch(const SemValue *key, const SemValue *op, const SemValue *value)
{
    onProperty(key ? key->text : nullptr, op ? op->text : nullptr, value ? value->text : nullptr);
}

void Semantics::onCommand(const char *)
{
}

void Semantics::commandDispatch(const SemValue *arg)
{
    onCommand(arg ? arg->text : nullptr);
}

const char *Semantics::popText()
{
    const SemValue *v = popValue();
    return v ? v->text : nullptr;
}

SemContext *Semantics::currentContext()
{
    return context_depth_ > 0 ? &contexts_[context_depth_ - 1] : nullptr;
}

bool Semantics::contextPush(const char *name, const char *arg, int arg_type)
{
    if (context_depth_ >= SEM_MAX_CONTEXTS) {
        printf("%s: Semantic error. Too many embedded contexts (%u)\n", "Semantics::contextPush",
               static_cast<unsigned>(context_depth_));
        context_overflow_++;
        return false;
    }
    SemContext *c = &contexts_[context_depth_++];
    sem_copy(c->arg, arg);
    sem_copy(c->name, name);
    c->arg_type = arg_type;
    c->self = c;
    c->user = 0;
    return true;
}

void Semantics::contextPop()
{
    // The end of an object that could not be opened closes nothing.
    if (context_overflow_ > 0)
        context_overflow_--;
    else if (context_depth_ > 0)
        context_depth_--;
}

const SemValue *Semantics::callArg(int i) const
{
    return i >= 0 && i < call_argc_ ? &call_args_[i] : nullptr;
}

void Semantics::symbolTableAttach(SemNamed **table, int size)
{
    symbols_ = size > 0 ? table : nullptr;
    symbol_count_ = size > 0 ? size : 0;
}

int Semantics::symbolHash(const char *name) const
{
    // Sum of the characters, which may be negative: kept in range.
    int sum = 0;
    for (const char *p = name; p && *p; ++p)
        sum += static_cast<signed char>(*p);
    int h = sum % symbol_count_;
    return h < 0 ? h + symbol_count_ : h;
}

int Semantics::symbolInsert(SemNamed *item)
{
    if (symbols_ == nullptr)
        return -2;
    if (item == nullptr)
        return -1;
    int home = symbolHash(item->name);
    int hashidx = -1;
    for (int k = 0; k < symbol_count_; ++k) {
        int i = (home + k) % symbol_count_;
        if (symbols_[i] == nullptr) {
            hashidx = i;
            break;
        }
    }
    UTIL_ASSERT(hashidx != -1, SEMANTIC_MODULE);
    symbols_[hashidx] = item;
    return hashidx;
}

SemNamed *Semantics::symbolFind(const char *name) const
{
    if (symbols_ == nullptr || name == nullptr)
        return nullptr;
    int home = symbolHash(name);
    for (int k = 0; k < symbol_count_; ++k) {
        SemNamed *s = symbols_[(home + k) % symbol_count_];
        if (s == nullptr)
            return nullptr;
        if (s->name != nullptr && strcmp(s->name, name) == 0)
            return s;
    }
    return nullptr;
}
