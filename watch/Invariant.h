#pragma once
#include <cstdio>
#include <cstdlib>

// What a kill, a buffer or a bound could break, checked in the builds that
// the tests, the sanitizers and the fuzzers run (those without NDEBUG). The
// shipped monitor does not check: stopping it would leave new files unscanned.
#ifdef NDEBUG
#define PELMON_INVARIANT(condition) ((void)0)
#else
#define PELMON_INVARIANT(condition) \
    ((condition) ? (void)0 : ::pelmon::InvariantBroken(#condition, __FILE__, __LINE__))
#endif

namespace pelmon {

[[noreturn]] inline void InvariantBroken(const char* condition, const char* file, int line)
{
    std::fprintf(stderr, "%s:%d: invariant broken: %s\n", file, line, condition);
    std::abort();
}

} // namespace pelmon
