// Formatting codes from anyone: runs lie inside the stripped text, every colour a run names is
// either in a table or none, and inserting a code keeps the selection on the same characters.
#include "fuzz_check.h"
#include "peer/chat/format_runs.h"

#include <fuzzer/FuzzedDataProvider.h>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    FuzzedDataProvider input(data, size);
    const int command =
        input.ConsumeIntegralInRange(peer::kFirstStyleCommand - 1, peer::kLastColourCommand + 1);
    const int start = input.ConsumeIntegralInRange(-4, 600);
    const int end = input.ConsumeIntegralInRange(-4, 600);
    const std::string rest = input.ConsumeRemainingBytesAsString();
    const QByteArrayView text(rest.data(), qsizetype(rest.size()));

    const QByteArray stripped = peer::StripFormatCodes(text);
    FUZZ_CHECK(stripped.size() <= text.size());
    for (char c : stripped)
        FUZZ_CHECK(!peer::isAnyFormatCode(c));

    for (const peer::FormatRun& run : peer::BuildFormatRuns(text)) {
        FUZZ_CHECK(peer::isAnyFormatCode(run.code) && run.code != peer::kPlainCode
                   && run.code != peer::kHexColourCode);
        // Two codes of a kind in a row make an empty run: harmless, and shown as nothing.
        FUZZ_CHECK(0 <= run.start && run.start <= run.end && run.end <= stripped.size());
        if (run.code == peer::kColourCode) {
            FUZZ_CHECK(run.colour >= 0 && run.colour <= 99);
            FUZZ_CHECK(run.background >= 0 && run.background <= 99);
            (void)peer::formatColour(run.colour);
            (void)peer::formatColour(run.background);
        } else {
            FUZZ_CHECK(run.colour == 0);
        }
    }

    for (qsizetype at = -1; at <= text.size(); ++at) {
        const qsizetype length = peer::FormatCodeLength(text, at);
        FUZZ_CHECK(length >= 0 && (length == 0 || at + length <= text.size()));
    }

    const QString line = QString::fromUtf8(text);
    const peer::FormatInsertion inserted = peer::InsertFormatCode(line, start, end, command);
    FUZZ_CHECK(0 <= inserted.selectionStart && inserted.selectionStart <= inserted.selectionEnd
               && inserted.selectionEnd <= inserted.text.size());
    const qsizetype added = inserted.text.size() - line.size();
    FUZZ_CHECK(added >= 0 && added <= 4);
    FUZZ_CHECK(
        inserted.text.mid(inserted.selectionStart, inserted.selectionEnd - inserted.selectionStart)
        == line.mid(inserted.selectionStart - added,
                    inserted.selectionEnd - inserted.selectionStart));
    return 0;
}
