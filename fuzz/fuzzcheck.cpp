#include "fuzzcheck.h"

#include <cstdio>
#include <cstdlib>

namespace irlearn::fuzz {

const char *currentInput = nullptr;

void fail(const char *condition, const char *file, int line)
{
    std::fprintf(stderr, "%s:%d: invariant broken: %s\n", file, line, condition);
    if (currentInput)
        std::fprintf(stderr, "input: %s\n", currentInput);
    std::abort();
}

} // namespace irlearn::fuzz
