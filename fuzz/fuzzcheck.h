#pragma once

#include <cstddef>
#include <cstdint>

// The entry point every target defines; libFuzzer calls it, and so does the replay runner.
extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size);

namespace irlearn::fuzz {

// Reports a broken invariant and aborts, so that libFuzzer keeps the input and a replay fails.
// Active in every build type: release builds define NDEBUG, which would silence assert().
[[noreturn]] void fail(const char *condition, const char *file, int line);

// The input being replayed, named in the report of a failure (null under libFuzzer, which
// saves the input itself).
extern const char *currentInput;

} // namespace irlearn::fuzz

#define FUZZ_CHECK(condition)                                                                      \
    do {                                                                                           \
        if (!(condition))                                                                          \
            ::irlearn::fuzz::fail(#condition, __FILE__, __LINE__);                                 \
    } while (false)
