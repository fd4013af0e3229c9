#pragma once

#include <QByteArray>
#include <QByteArrayView>
#include <QString>

#include <array>
#include <cstdint>
#include <optional>
#include <vector>

namespace peer {

// The in-band formatting codes of chat text: what the style and colour menus insert, how a
// line's codes become formatting ranges of its displayed text, and how the codes are removed.
// Works on the line's bytes; knows nothing of widgets or fonts.

constexpr char kBoldCode = '\x02';
constexpr char kColourCode = '\x03';
constexpr char kUnderlineCode = '\x1F';

// The codes other clients write beyond those three. The four styles switch on and off at each
// code; plain ends every range open at that point; a hex colour is read and removed with its
// digits but not drawn.
constexpr char kItalicCode = '\x1D';
constexpr char kReverseCode = '\x16';
constexpr char kStrikeCode = '\x1E';
constexpr char kMonospaceCode = '\x11';
constexpr char kPlainCode = '\x0F';
constexpr char kHexColourCode = '\x04';

// Command ids of the "Style Menu" and "Color Menu" items.
constexpr int kBoldCommand = 40035;
constexpr int kUnderlineCommand = 40037;
constexpr int kFirstStyleCommand = 40035;
constexpr int kLastStyleCommand = 40037;
constexpr int kFirstColourCommand = 40038; // colour number = id - kFirstColourCommand
constexpr int kLastColourCommand = 40053;

struct FormatMenuItem
{
    int id;
    const char* text;
};

// In screen order.
inline constexpr std::array<FormatMenuItem, 2> kStyleMenuItems{{
    {40035, "Bold"},
    {40037, "Underlined"},
}};

// In screen order: Dark Grey (15) comes before Grey (14).
inline constexpr std::array<FormatMenuItem, 16> kColourMenuItems{{
    {40038, "White"},
    {40039, "Black"},
    {40040, "Dark Blue"},
    {40041, "Dark Green"},
    {40042, "Red"},
    {40043, "Dark Red"},
    {40044, "Dark Purple"},
    {40045, "Orange"},
    {40046, "Yellow"},
    {40047, "Green"},
    {40048, "Aqua Blue"},
    {40049, "Sky Blue"},
    {40050, "Blue"},
    {40051, "Purple"},
    {40053, "Dark Grey"},
    {40052, "Grey"},
}};

struct Rgb
{
    std::uint8_t red = 0;
    std::uint8_t green = 0;
    std::uint8_t blue = 0;

    friend bool operator==(const Rgb& a, const Rgb& b)
    {
        return a.red == b.red && a.green == b.green && a.blue == b.blue;
    }
    friend bool operator!=(const Rgb& a, const Rgb& b) { return !(a == b); }
};

// The colours of the menu, indexed by colour number; used for text sent and received alike.
inline constexpr std::array<Rgb, 16> kColourTable{{
    {255, 255, 255}, // 0 White
    {0, 0, 0},       // 1 Black
    {0, 0, 127},     // 2 Dark Blue
    {0, 147, 0},     // 3 Dark Green
    {255, 0, 0},     // 4 Red
    {127, 0, 0},     // 5 Dark Red
    {147, 0, 147},   // 6 Dark Purple
    {252, 127, 0},   // 7 Orange
    {255, 255, 0},   // 8 Yellow
    {0, 252, 0},     // 9 Green
    {0, 147, 147},   // 10 Aqua Blue
    {0, 255, 255},   // 11 Sky Blue
    {0, 0, 252},     // 12 Blue
    {255, 0, 255},   // 13 Purple
    {127, 127, 127}, // 14 Grey
    {210, 210, 210}, // 15 Dark Grey
}};

// Marks a colour run without a background part, and the number that other clients send for
// "default colour". A colour code without digits gets it as its colour: it ends the colouring,
// foreground and background, as other clients read it.
constexpr int kNoColour = 99;

// The colour that a colour number stands for: the table above for 0-15, the 99-colour
// palette that other IRC clients send (the mIRC extension) for 16-98, none for 99 and
// anything else, so that no number a peer sends can index past a table.
std::optional<Rgb> formatColour(int number);

enum class FormatCommandKind { None = 0, Colour = 1, Style = 2 };

// Nonzero for the three code bytes.
bool IsFormatCode(char byte);
// Those three and the codes of other clients: every byte the stripper takes out.
bool isAnyFormatCode(char byte);

// Colour for 40038-40053, Style for 40035-40037 (40036 included, though it inserts nothing).
FormatCommandKind ClassifyFormatCommand(int id);

// The bytes that a menu item inserts: 0x03 and the colour number without leading zeros, 0x02
// or 0x1F; empty for any other id.
QByteArray formatCodeForCommand(int id);

struct FormatInsertion
{
    QString text;
    int selectionStart = 0;
    int selectionEnd = 0;

    friend bool operator==(const FormatInsertion& a, const FormatInsertion& b)
    {
        return a.text == b.text && a.selectionStart == b.selectionStart
               && a.selectionEnd == b.selectionEnd;
    }
    friend bool operator!=(const FormatInsertion& a, const FormatInsertion& b) { return !(a == b); }
};

// `text` with the code of menu item `id` put in front of the selection [start, end), and the
// selection moved by the code's length so that it stays on the same characters. Positions are
// QString indices (the input line's); out-of-range or reversed positions are clamped and
// ordered. A one-digit colour number is written with a leading zero when a digit follows, so
// that the digit stays text. An id that inserts nothing gives the text and (clamped)
// selection unchanged.
FormatInsertion InsertFormatCode(const QString& text, int start, int end, int id);

// One formatting range of the displayed (stripped) text, in byte positions of that text.
struct FormatRun
{
    char code = 0;              // kBoldCode, kColourCode, kUnderlineCode or a style code
    int colour = 0;             // colour number, 0 for bold and underline (see kNoColour)
    qsizetype start = 0;        // first formatted byte
    qsizetype end = 0;          // just past the range
    int background = kNoColour; // the ",NN" part of a colour code, kNoColour when absent

    friend bool operator==(const FormatRun& a, const FormatRun& b)
    {
        return a.code == b.code && a.colour == b.colour && a.start == b.start && a.end == b.end
               && a.background == b.background;
    }
    friend bool operator!=(const FormatRun& a, const FormatRun& b) { return !(a == b); }
};

using FormatRunList = std::vector<FormatRun>;

// The runs of `text`, in the order of their codes. Each bold, colour or underline code opens a
// range that lasts to the next code of the same kind or to the next CR LF, whichever comes
// first; a code followed by neither opens no range. An italic, reverse, strikethrough or
// monospace code opens a range when none of its kind is open and ends it otherwise; such a
// range ends at the latest at the next CR LF or the end of the text. A plain code ends every
// open range. Positions are those of StripFormatCodes(text).
FormatRunList BuildFormatRuns(QByteArrayView text);

// `text` without its codes: a colour code takes up to two digits and an optional ",N" or
// ",NN" after them; bold and underline take nothing, so digits after them stay text, and so
// does a comma after a colour code without digits. A hex colour code takes up to six hex
// digits and, after at least one, an optional comma with up to six more.
QByteArray StripFormatCodes(QByteArrayView text);

// The number of bytes of the consecutive codes (with their digits) starting at `position`, 0
// when no code starts there or `position` lies outside the text.
qsizetype FormatCodeLength(QByteArrayView text, qsizetype position);

} // namespace peer
