#ifndef UTIL_ASSERT_H
#define UTIL_ASSERT_H

// Programming-error checks of the firmware core. A failed check prints the
// check's text, the module's source path and the line, then stops the
// process: the firmware's crash guard reports it like any other fault. The
// module path is given by the caller so that the report names the module
// the same way whatever tree it was built from.

#define UTIL_ASSERT(expr, module)                                        \
    do {                                                                 \
        if (!(expr))                                                     \
            util_assert_fail(#expr, module, __LINE__);                   \
    } while (0)

[[noreturn]] void util_assert_fail(const char *expr, const char *module, int line);

#endif
