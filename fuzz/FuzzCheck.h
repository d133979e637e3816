#pragma once

#include <cstdio>
#include <cstdlib>

// A broken invariant: says which one on standard error, then aborts so that libFuzzer keeps
// the input and prints the stack.
[[noreturn]] inline void FuzzFailure(const char* what, const char* file, int line) {
    std::fprintf(stderr, "fuzz invariant broken: %s (%s:%d)\n", what, file, line);
    std::fflush(stderr);
    std::abort();
}

#define FUZZ_CHECK(condition) \
    ((condition) ? static_cast<void>(0) : FuzzFailure(#condition, __FILE__, __LINE__))
