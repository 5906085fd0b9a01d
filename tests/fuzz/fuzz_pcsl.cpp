// The PCSL parser over arbitrary bytes, with a Semantics that uses every
// hook and the symbol table and checks the stacks stay within bounds.

#include "estreambuf.h"
#include "fuzz_common.h"
#include "parser.h"
#include "semantic.h"

#include <cstring>
#include <vector>

namespace {

struct Named
{
    SemNamed base;
    char name[SEM_TEXT_SIZE];
};

class CheckingSemantics : public Semantics
{
public:
    CheckingSemantics()
    {
        memset(table_, 0, sizeof table_);
        symbolTableAttach(table_, kTable);
    }
    void onObjectBegin() override
    {
        FUZZ_CHECK(contextDepth() >= 1 && contextDepth() <= SEM_MAX_CONTEXTS);
        SemContext *c = currentContext();
        FUZZ_CHECK(c->self == c);
        c->user++;
        remember(c->name);
    }
    void onObjectEnd() override { FUZZ_CHECK(contextDepth() <= SEM_MAX_CONTEXTS); }
    void onProperty(const char *key, const char *op, const char *value) override
    {
        FUZZ_CHECK(valueDepth() <= SEM_VALUE_STACK);
        if (key != nullptr) {
            FUZZ_CHECK(strlen(key) < SEM_TEXT_SIZE);
            if (symbolFind(key) == nullptr)
                remember(key);
        }
        if (op != nullptr)
            FUZZ_CHECK(strcmp(op, "=") == 0);
        if (value != nullptr)
            FUZZ_CHECK(strlen(value) < SEM_TEXT_SIZE);
    }
    void onCommand(const char *arg) override
    {
        FUZZ_CHECK(arg == nullptr || strlen(arg) < SEM_TEXT_SIZE);
        FUZZ_CHECK(strlen(commandName()) < SEM_TEXT_SIZE);
    }
    void callEnd() override
    {
        Semantics::callEnd();
        FUZZ_CHECK(callArgCount() >= 0 && callArgCount() <= SEM_VALUE_STACK);
        for (int i = 0; i < callArgCount(); ++i)
            FUZZ_CHECK(strlen(callArg(i)->text) < SEM_TEXT_SIZE);
    }

private:
    // Names go into the symbol table until it is nearly full.
    void remember(const char *name)
    {
        if (used_ >= kTable - 1)
            return;
        Named *n = &names_[used_];
        snprintf(n->name, sizeof n->name, "%s", name);
        n->base.name = n->name;
        int slot = symbolInsert(&n->base);
        FUZZ_CHECK(slot >= 0 && slot < kTable);
        FUZZ_CHECK(symbolFind(n->name) != nullptr);
        ++used_;
    }

    static const int kTable = 31;
    SemNamed *table_[kTable];
    Named names_[kTable];
    int used_ = 0;
};

} // namespace

extern "C" int LLVMFuzzerInitialize(int *, char ***)
{
    fuzz_silence_stdout();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    // One spare byte keeps the block non-null for the empty text.
    std::vector<char> text(data, data + size);
    text.reserve(size + 1);
    EMemBuf mem;
    mem.setbuf(text.data(), size);
    mem.open("r");
    CheckingSemantics sem;
    Parser parser;
    parser.attach(&mem, &sem);
    static const char *const args[] = {"first", "", "third"};
    int r = parser.parse(3, args);
    FUZZ_CHECK(r == 0 || r == -1);
    FUZZ_CHECK(sem.contextDepth() == 0);
    return 0;
}
