// What every parser target shares: the input as text, and an invariant check that fails like a
// crash, naming its place, so the fuzzer keeps the input and the corpus replay fails on it.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>

// Not assert(): release builds define NDEBUG, and a check must hold in every build.
#define FUZZ_CHECK(condition)                                                                 \
    do {                                                                                      \
        if (!(condition)) {                                                                   \
            fprintf(stderr, "%s:%d: invariant failed: %s\n", __FILE__, __LINE__, #condition); \
            abort();                                                                          \
        }                                                                                     \
    } while (0)

inline std::string FuzzText(const uint8_t* pData, size_t nSize) {
    return std::string(reinterpret_cast<const char*>(pData), nSize);
}
