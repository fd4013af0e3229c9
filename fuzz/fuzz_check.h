#pragma once

#include <QByteArrayView>

#include <cstdio>
#include <cstdlib>

// An invariant that must hold for any input: a violation aborts, which libFuzzer reports as a
// crash and saves the input that caused it.
#define FUZZ_CHECK(condition)                                                                      \
    do {                                                                                           \
        if (!(condition)) {                                                                        \
            std::fprintf(stderr, "%s:%d: check failed: %s\n", __FILE__, __LINE__, #condition);     \
            std::abort();                                                                          \
        }                                                                                          \
    } while (false)

namespace fuzz {

// Whether a line can go onto the wire as one IRC line: none of the bytes that would end it or
// start another, and within the 510 bytes left by its CR LF.
inline bool isSafeWireLine(QByteArrayView line)
{
    if (line.size() > 510)
        return false;
    for (char c : line) {
        if (c == '\r' || c == '\n' || c == '\0')
            return false;
    }
    return true;
}

} // namespace fuzz
