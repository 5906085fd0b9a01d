#ifndef FUZZ_COMMON_H
#define FUZZ_COMMON_H

// Shared by the libFuzzer harnesses and their replay executables.

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size);
extern "C" int LLVMFuzzerInitialize(int *argc, char ***argv);

// The firmware core prints its diagnostics; while fuzzing they are noise
// that slows every run down.
inline void fuzz_silence_stdout()
{
    if (getenv("TESS_FUZZ_VERBOSE") == nullptr && freopen("/dev/null", "w", stdout) == nullptr)
        abort();
}

// A failed property check: a crash libFuzzer records as such.
#define FUZZ_CHECK(cond)                                                        \
    do {                                                                        \
        if (!(cond)) {                                                          \
            fprintf(stderr, "fuzz check failed: %s (%s:%d)\n", #cond, __FILE__, \
                    __LINE__);                                                  \
            abort();                                                            \
        }                                                                       \
    } while (0)

#endif
