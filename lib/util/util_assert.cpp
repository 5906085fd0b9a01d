#include "util_assert.h"

#include <cstdio>
#include <cstdlib>

void util_assert_fail(const char *expr, const char *module, int line)
{
    printf("Assertion failed: %s, file %s, line %d\n", expr, module, line);
    fflush(stdout);
    abort();
}
