// What a direct chat peer sends, in reads of any size: the frames must not depend on the read
// boundaries, every packet the framer passes on must open or be refused cleanly, and whatever we
// seal must come back as it went.
#include "fuzz_check.h"
#include "peer/chat/direct_chat_framer.h"
#include "peer/crypto/encrypted_chat.h"

#include <fuzzer/FuzzedDataProvider.h>

namespace {

using peer::DirectChatEvent;
using peer::DirectChatEventKind;

// A fault's excerpt depends on how much had arrived; its kind and place do not.
QList<DirectChatEvent> comparable(QList<DirectChatEvent> events)
{
    for (DirectChatEvent& event : events) {
        if (event.kind == DirectChatEventKind::Fault)
            event.data.clear();
    }
    return events;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    FuzzedDataProvider input(data, size);
    const bool encrypted = input.ConsumeBool();
    const auto chunkSeed = input.ConsumeIntegral<uint32_t>();
    const std::string typed = input.ConsumeRandomLengthString(1200);
    const std::string stream = input.ConsumeRemainingBytesAsString();
    const QByteArrayView bytes(stream.data(), qsizetype(stream.size()));

    peer::BlowfishState state;
    FUZZ_CHECK(peer::installChatKey(state, "0123456789abcdef"));

    peer::DirectChatFramer whole;
    whole.setEncrypted(encrypted);
    const QList<DirectChatEvent> expected = whole.feed(bytes);

    peer::DirectChatFramer pieces;
    pieces.setEncrypted(encrypted);
    QList<DirectChatEvent> events;
    fuzz::ReadSizes sizes(chunkSeed, 40);
    for (qsizetype at = 0; at < bytes.size();) {
        const qsizetype chunk = sizes.next(bytes.size() - at);
        events += pieces.feed(bytes.sliced(at, chunk));
        at += chunk;
    }
    FUZZ_CHECK(comparable(events) == comparable(expected));

    for (const DirectChatEvent& event : events) {
        switch (event.kind) {
        case DirectChatEventKind::Key:
            FUZZ_CHECK(event.data.size() == peer::kChatKeyLength);
            FUZZ_CHECK(peer::installChatKey(state, event.data));
            break;
        case DirectChatEventKind::Packet:
            if (const auto opened = peer::OpenChatPacket(state, event.data)) {
                FUZZ_CHECK(!opened->text.contains('\0'));
                FUZZ_CHECK(opened->text.size() <= qsizetype(peer::kMaxPacketLengthField));
            }
            break;
        case DirectChatEventKind::Text:
        case DirectChatEventKind::UnsealedText:
            FUZZ_CHECK(event.data.size() <= peer::DirectChatFramer::kMaxLineLength);
            FUZZ_CHECK(!event.data.contains('\n'));
            break;
        default:
            break;
        }
    }

    // Our own lines: sealed, framed and opened again, each comes back whole (up to a NUL).
    peer::BlowfishState ours;
    FUZZ_CHECK(peer::installChatKey(ours, "fedcba9876543210"));
    peer::DirectChatFramer receiver;
    receiver.setEncrypted(true);
    const QByteArray text(typed.data(), qsizetype(typed.size()));
    QByteArray rejoined;
    for (const QByteArray& piece : peer::splitChatText(text)) {
        const auto packet = peer::SealChatText(ours, piece);
        FUZZ_CHECK(packet.has_value());
        const QList<DirectChatEvent> got = receiver.feed(*packet);
        FUZZ_CHECK(got.size() == 1 && got.front().kind == DirectChatEventKind::Packet);
        const auto opened = peer::OpenChatPacket(ours, got.front().data);
        FUZZ_CHECK(opened.has_value());
        const qsizetype nul = piece.indexOf('\0');
        FUZZ_CHECK(opened->text == (nul < 0 ? piece : piece.left(nul)));
        rejoined += piece;
    }
    FUZZ_CHECK(rejoined == text);
    return 0;
}
