#include "peer/chat/format_runs.h"

#include <algorithm>

namespace peer {

namespace {

// Colours 16-98 as the clients that send them show them (the mIRC 99-colour extension),
// 0xRRGGBB. Taking these rather than ignoring the numbers keeps colourful text from other
// clients readable; 99 means "default" there, so it has no entry.
constexpr std::array<std::uint32_t, 83> kExtendedColours{
    0x470000, 0x472100, 0x474700, 0x324700, 0x004700, 0x00472c, 0x004747, 0x002747, 0x000047,
    0x2e0047, 0x470047, 0x47002a, 0x740000, 0x743a00, 0x747400, 0x517400, 0x007400, 0x007449,
    0x007474, 0x004074, 0x000074, 0x4b0074, 0x740074, 0x740045, 0xb50000, 0xb56300, 0xb5b500,
    0x7db500, 0x00b500, 0x00b571, 0x00b5b5, 0x0063b5, 0x0000b5, 0x7500b5, 0xb500b5, 0xb5006b,
    0xff0000, 0xff8c00, 0xffff00, 0xb2ff00, 0x00ff00, 0x00ffa0, 0x00ffff, 0x008cff, 0x0000ff,
    0xa500ff, 0xff00ff, 0xff0098, 0xff5959, 0xffb459, 0xffff71, 0xcfff60, 0x6fff6f, 0x65ffc9,
    0x6dffff, 0x59b4ff, 0x5959ff, 0xc459ff, 0xff66ff, 0xff59bc, 0xff9c9c, 0xffd39c, 0xffff9c,
    0xe2ff9c, 0x9cff9c, 0x9cffdb, 0x9cffff, 0x9cd3ff, 0x9c9cff, 0xdc9cff, 0xff9cff, 0xff94d3,
    0x000000, 0x131313, 0x282828, 0x363636, 0x4d4d4d, 0x656565, 0x818181, 0x9f9f9f, 0xbcbcbc,
    0xe2e2e2, 0xffffff,
};

// A colour code's number has at most two digits, the most the menu writes and the most other
// clients send; a third digit is text.
constexpr int kMaxColourDigits = 2;

struct CodeToken
{
    char code = 0;
    int colour = 0;
    int background = kNoColour;
    qsizetype length = 1;
};

bool isDigit(char byte)
{
    return byte >= '0' && byte <= '9';
}

// Reads up to kMaxColourDigits digits at `pos` into `number`; returns how many were read.
int readNumber(QByteArrayView text, qsizetype pos, int& number)
{
    int digits = 0;
    number = 0;
    while (digits < kMaxColourDigits && pos + digits < text.size() && isDigit(text[pos + digits])) {
        number = number * 10 + (text[pos + digits] - '0');
        ++digits;
    }
    return digits;
}

bool isHexDigit(char byte)
{
    return isDigit(byte) || (byte >= 'a' && byte <= 'f') || (byte >= 'A' && byte <= 'F');
}

// The hex digits of an RRGGBB colour at `pos`, at most six.
qsizetype hexDigits(QByteArrayView text, qsizetype pos)
{
    qsizetype digits = 0;
    while (digits < 6 && pos + digits < text.size() && isHexDigit(text[pos + digits]))
        ++digits;
    return digits;
}

// 0x04 [RRGGBB] [, RRGGBB]   (the comma part only after a first colour, as for 0x03)
qsizetype hexColourLength(QByteArrayView text, qsizetype pos)
{
    qsizetype next = pos + 1;
    const qsizetype digits = hexDigits(text, next);
    next += digits;
    if (digits > 0 && next + 1 < text.size() && text[next] == ',' && isHexDigit(text[next + 1]))
        next += 1 + hexDigits(text, next + 1);
    return next - pos;
}

// The one code at `pos`, which must be a code byte. The builder and the stripper both read
// codes only through here, so they always agree on which bytes a code takes and the runs
// never shift against the displayed text.
// 0x03 [digit [digit]] [, digit [digit]]   (the comma part only after a first number; a
// comma after a bare 0x03 is text)
CodeToken readCode(QByteArrayView text, qsizetype pos)
{
    CodeToken token;
    token.code = text[pos];
    if (token.code == kHexColourCode)
        token.length = hexColourLength(text, pos);
    if (token.code != kColourCode)
        return token;
    qsizetype next = pos + 1;
    const int digits = readNumber(text, next, token.colour);
    // Other clients send a bare 0x03 to end colouring. Read as colour 0 it would paint the
    // rest of the line white on the white view, so it stands for the default colour instead.
    if (digits == 0)
        token.colour = kNoColour;
    next += digits;
    // A comma without a digit after it is text, as other clients treat it.
    if (digits > 0 && next + 1 < text.size() && text[next] == ',' && isDigit(text[next + 1])) {
        int background = 0;
        next += 1 + readNumber(text, next + 1, background);
        token.background = background;
    }
    token.length = next - pos;
    return token;
}

// The codes that make runs, each its own kind: the first three as the menus write them, the
// others as switches.
constexpr std::array<char, 7> kRunCodes{kBoldCode,    kColourCode, kUnderlineCode, kItalicCode,
                                        kReverseCode, kStrikeCode, kMonospaceCode};
constexpr int kFirstSwitchKind = 3;

int kindIndex(char code)
{
    const auto* found = std::find(kRunCodes.begin(), kRunCodes.end(), code);
    return found == kRunCodes.end() ? -1 : int(found - kRunCodes.begin());
}

} // namespace

std::optional<Rgb> formatColour(int number)
{
    if (number >= 0 && number < int(kColourTable.size()))
        return kColourTable[std::size_t(number)];
    const int extended = number - int(kColourTable.size());
    if (extended >= 0 && extended < int(kExtendedColours.size())) {
        const std::uint32_t rgb = kExtendedColours[std::size_t(extended)];
        return Rgb{std::uint8_t(rgb >> 16), std::uint8_t(rgb >> 8), std::uint8_t(rgb)};
    }
    return std::nullopt;
}

bool IsFormatCode(char byte)
{
    return byte == kBoldCode || byte == kColourCode || byte == kUnderlineCode;
}

bool isAnyFormatCode(char byte)
{
    return kindIndex(byte) >= 0 || byte == kPlainCode || byte == kHexColourCode;
}

FormatCommandKind ClassifyFormatCommand(int id)
{
    if (id >= kFirstColourCommand && id <= kLastColourCommand)
        return FormatCommandKind::Colour;
    if (id >= kFirstStyleCommand && id <= kLastStyleCommand)
        return FormatCommandKind::Style;
    return FormatCommandKind::None;
}

QByteArray formatCodeForCommand(int id)
{
    if (ClassifyFormatCommand(id) == FormatCommandKind::Colour)
        return QByteArray(1, kColourCode) + QByteArray::number(id - kFirstColourCommand);
    if (id == kBoldCommand)
        return QByteArray(1, kBoldCode);
    if (id == kUnderlineCommand)
        return QByteArray(1, kUnderlineCode);
    return {};
}

FormatInsertion InsertFormatCode(const QString& text, int start, int end, int id)
{
    const int size = int(text.size());
    start = std::clamp(start, 0, size);
    end = std::clamp(end, 0, size);
    if (start > end)
        std::swap(start, end);
    // Never between the halves of a surrogate pair: both would turn into replacement
    // characters on the wire.
    const auto insidePair = [&text, size](int at) {
        return at > 0 && at < size && text.at(at).isLowSurrogate()
               && text.at(at - 1).isHighSurrogate();
    };
    if (insidePair(start))
        --start;
    if (insidePair(end))
        --end;
    QByteArray bytes = formatCodeForCommand(id);
    // A one-digit colour in front of a digit would take that digit as its second one ("\x034"
    // before "2" reads as colour 42), so the number is written with two digits there; every
    // reader of these codes takes "04" as 4.
    const bool digitFollows =
        start < size && text.at(start).isDigit() && text.at(start).unicode() < 0x80;
    if (digitFollows && bytes.size() == 2 && bytes.at(0) == kColourCode)
        bytes.insert(1, '0');
    const QString code = QString::fromLatin1(bytes);
    const int inserted = int(code.size());
    return {text.left(start) + code + text.mid(start), start + inserted, end + inserted};
}

FormatRunList BuildFormatRuns(QByteArrayView text)
{
    FormatRunList runs;
    // Runs are made in text order when their code is met; the one still open of each kind
    // waits for its end here. Unfinished runs keep end -1 and are dropped at the close.
    std::array<std::optional<std::size_t>, kRunCodes.size()> open;
    const auto closeOpen = [&runs, &open](int kind, qsizetype end) {
        if (open[std::size_t(kind)])
            runs[*open[std::size_t(kind)]].end = end;
        open[std::size_t(kind)].reset();
    };
    const auto closeAll = [&closeOpen, &open](qsizetype end) {
        for (int kind = 0; kind < int(open.size()); ++kind)
            closeOpen(kind, end);
    };
    qsizetype removed = 0; // bytes of the codes met so far, absent from the stripped text
    qsizetype pos = 0;
    while (pos < text.size()) {
        const char byte = text[pos];
        if (isAnyFormatCode(byte)) {
            const CodeToken token = readCode(text, pos);
            const qsizetype shown = pos - removed;
            const int kind = kindIndex(byte);
            if (byte == kPlainCode) {
                closeAll(shown);
            } else if (kind >= kFirstSwitchKind && open[std::size_t(kind)]) {
                closeOpen(kind, shown);
            } else if (kind >= 0) {
                closeOpen(kind, shown);
                runs.push_back({token.code, token.colour, shown, -1, token.background});
                open[std::size_t(kind)] = runs.size() - 1;
            }
            removed += token.length;
            pos += token.length;
        } else if (byte == '\r' && pos + 1 < text.size() && text[pos + 1] == '\n') {
            closeAll(pos - removed);
            pos += 2;
        } else {
            ++pos;
        }
    }
    // Switched styles last to the end, as other clients draw them.
    for (int kind = kFirstSwitchKind; kind < int(open.size()); ++kind)
        closeOpen(kind, text.size() - removed);
    runs.erase(
        std::remove_if(runs.begin(), runs.end(), [](const FormatRun& run) { return run.end < 0; }),
        runs.end());
    return runs;
}

QByteArray StripFormatCodes(QByteArrayView text)
{
    QByteArray stripped;
    stripped.reserve(text.size());
    qsizetype pos = 0;
    while (pos < text.size()) {
        const qsizetype codes = FormatCodeLength(text, pos);
        if (codes > 0) {
            pos += codes;
        } else {
            stripped += text[pos];
            ++pos;
        }
    }
    return stripped;
}

qsizetype FormatCodeLength(QByteArrayView text, qsizetype position)
{
    if (position < 0)
        return 0;
    qsizetype pos = position;
    while (pos < text.size() && isAnyFormatCode(text[pos]))
        pos += readCode(text, pos).length;
    return pos - position;
}

} // namespace peer
