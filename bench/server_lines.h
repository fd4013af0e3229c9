#pragma once

// The server traffic the dispatch benchmarks read: a buffer of server lines (mostly chat,
// lengths spread evenly up to 500 bytes, with the numerics, PINGs and CTCP queries the
// dispatcher acts on) cut into reads of 1 to 16 KiB, both drawn from fixed seeds. 100 MB, or
// 1 MB for a smoke run.

#include <cstddef>
#include <random>
#include <string>
#include <vector>

namespace bench {

// The nick the lines are addressed to.
inline const char* const kOurNick = "kivvo";

struct ServerStream
{
    std::string bytes;
    std::vector<std::size_t> reads; // the sizes of the reads that cut the stream, in order
    std::size_t lines = 0;
};

// Built once, outside every timed loop.
const ServerStream& serverStream();

// A nick of 3 to 12 letters, as the stream's senders have.
std::string randomNick(std::mt19937& rng);

} // namespace bench
