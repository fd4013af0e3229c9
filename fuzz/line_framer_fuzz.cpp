// The server's byte stream in arbitrary reads: the lines must not depend on where the reads
// split the stream, and the pending buffer must stay bounded.
#include "fuzz_check.h"
#include "irc/line_framer.h"

#include <fuzzer/FuzzedDataProvider.h>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    FuzzedDataProvider input(data, size);
    const auto chunkSeed = input.ConsumeIntegral<uint32_t>();
    const std::string stream = input.ConsumeRemainingBytesAsString();
    const QByteArrayView bytes(stream.data(), qsizetype(stream.size()));

    irc::LineFramer whole;
    const QList<QByteArray> expected = whole.feed(bytes);
    const int expectedDropped = whole.takeDroppedLines();
    FUZZ_CHECK(whole.pendingSize() <= irc::LineFramer::kMaxPendingBytes);

    irc::LineFramer pieces;
    QList<QByteArray> lines;
    fuzz::ReadSizes sizes(chunkSeed, 64);
    for (qsizetype at = 0; at < bytes.size();) {
        const qsizetype chunk = sizes.next(bytes.size() - at);
        lines += pieces.feed(bytes.sliced(at, chunk));
        FUZZ_CHECK(pieces.pendingSize() <= irc::LineFramer::kMaxPendingBytes);
        at += chunk;
    }
    FUZZ_CHECK(lines == expected);
    FUZZ_CHECK(pieces.takeDroppedLines() == expectedDropped);
    FUZZ_CHECK(pieces.pendingSize() == whole.pendingSize());
    for (const QByteArray& line : lines)
        FUZZ_CHECK(!line.contains("\r\n"));
    return 0;
}
