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

// Read sizes of 1..max bytes drawn from a seed, so that one input also fixes how a stream is cut
// into reads (a xorshift generator: cheap, and the same cuts for the same seed).
class ReadSizes
{
public:
    explicit ReadSizes(unsigned seed, int max)
        : m_state(seed | 1u)
        , m_max(unsigned(max))
    {}

    qsizetype next(qsizetype left)
    {
        m_state ^= m_state << 13;
        m_state ^= m_state >> 17;
        m_state ^= m_state << 5;
        return qMin<qsizetype>(left, 1 + qsizetype(m_state % m_max));
    }

private:
    unsigned m_state;
    unsigned m_max;
};

} // namespace fuzz
