// Properties of the formatting codes over generated text: whatever a peer sends, no code is
// left to show as a box, and the codes of other clients never move the ranges of ours.
#include "peer/chat/format_render.h"
#include "peer/chat/format_runs.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <rapidcheck/gtest.h>
#include <string>

namespace {

// Every byte that is a formatting code somewhere: ours, and those other clients send.
const std::string kCodes("\002\003\037\035\026\036\021\017\004", 9);

// Dense in codes and in what codes take after them (digits, hex digits, commas), with line
// ends and a multi-byte character.
rc::Gen<std::string> hostileText()
{
    const std::string alphabet = kCodes + std::string("0123456789abcdefABCDEF,,\r\n\r\nx \xC3\xA9");
    return rc::gen::container<std::string>(rc::gen::elementOf(alphabet));
}

} // namespace

RC_GTEST_PROP(FormatCodes, NoCodeIsEverLeftInTheShownText, ())
{
    const std::string text = *hostileText();
    const QByteArrayView bytes(text.data(), qsizetype(text.size()));
    const QByteArray stripped = peer::StripFormatCodes(bytes);
    for (char byte : stripped)
        RC_ASSERT(kCodes.find(byte) == std::string::npos);
    // Stripping never makes a new code, so a second pass changes nothing.
    RC_ASSERT(peer::StripFormatCodes(stripped) == stripped);
    RC_ASSERT(peer::BuildFormatRuns(stripped).empty());
    const peer::RenderedLine shown = peer::renderFormattedLine(bytes);
    for (QChar ch : shown.text)
        RC_ASSERT(ch.unicode() >= 0x80 || kCodes.find(char(ch.unicode())) == std::string::npos);
    for (const peer::FormatRun& run : peer::BuildFormatRuns(bytes))
        RC_ASSERT(0 <= run.start && run.start <= run.end && run.end <= stripped.size());
}

// Our three codes keep their ranges exactly when other clients' styles and hex colours stand
// between them. They go where they take nothing of ours: before one of our codes, before a
// line end, or at the end.
RC_GTEST_PROP(FormatCodes, OtherClientsCodesLeaveOurRangesAsTheyWere, ())
{
    const std::string ours = *rc::gen::container<std::string>(
        rc::gen::elementOf(std::string("\002\003\037\002\003\03704,,\r\n\r\nxy")));
    const std::string theirs("\035\026\036\021\004", 5);
    const auto inserted = *rc::gen::container<std::vector<int>>(
        ours.size() + 1, rc::gen::inRange(-int(theirs.size()), int(theirs.size())));
    std::string mixed;
    for (std::size_t i = 0; i <= ours.size(); ++i) {
        const bool room = i == ours.size() || ours[i] == '\r' || peer::IsFormatCode(ours[i]);
        if (room && inserted[i] >= 0)
            mixed += theirs[std::size_t(inserted[i])];
        if (i < ours.size())
            mixed += ours[i];
    }
    const QByteArrayView plain(ours.data(), qsizetype(ours.size()));
    const QByteArrayView withTheirs(mixed.data(), qsizetype(mixed.size()));
    RC_ASSERT(peer::StripFormatCodes(withTheirs) == peer::StripFormatCodes(plain));
    peer::FormatRunList ourRuns = peer::BuildFormatRuns(withTheirs);
    ourRuns.erase(
        std::remove_if(ourRuns.begin(), ourRuns.end(),
                       [](const peer::FormatRun& run) { return !peer::IsFormatCode(run.code); }),
        ourRuns.end());
    RC_ASSERT(ourRuns == peer::BuildFormatRuns(plain));
}
