#include "diag/control_escape.h"

namespace diag {

namespace {

bool isFormatCode(char32_t c)
{
    return c == 0x02 || c == 0x03 || c == 0x0F || c == 0x16 || c == 0x1D || c == 0x1F;
}

bool isBidiControl(char32_t c)
{
    return (c >= 0x202A && c <= 0x202E) || (c >= 0x2066 && c <= 0x2069);
}

// What a text view, an editor or a terminal takes as the end of a line.
bool isLineBreak(char32_t c)
{
    return c == '\r' || c == '\n' || c == 0x0B || c == 0x0C || c == 0x85 || c == 0x2028
           || c == 0x2029;
}

bool isControl(char32_t c)
{
    if (c == '\t' || isFormatCode(c))
        return false;
    return c < 0x20 || (c >= 0x7F && c <= 0x9F) || isBidiControl(c) || isLineBreak(c);
}

QByteArray escapeOf(char32_t c)
{
    constexpr char kHex[] = "0123456789abcdef";
    if (c < 0x100)
        return QByteArray("\\x") + kHex[c >> 4] + kHex[c & 0xF];
    return QByteArray("\\u") + kHex[(c >> 12) & 0xF] + kHex[(c >> 8) & 0xF] + kHex[(c >> 4) & 0xF]
           + kHex[c & 0xF];
}

// The code point of the UTF-8 sequence at `pos` and its length; a byte that starts no valid
// sequence stands for itself (the text may be Latin-1), length 1.
std::pair<char32_t, qsizetype> codePointAt(QByteArrayView text, qsizetype pos)
{
    const auto byte = [&](qsizetype i) { return static_cast<unsigned char>(text[i]); };
    const unsigned char lead = byte(pos);
    const qsizetype length = lead >= 0xF0 && lead < 0xF5 ? 4
                             : lead >= 0xE0              ? 3
                             : lead >= 0xC2              ? 2
                                                         : 1;
    if (length == 1 || lead >= 0xF5 || pos + length > text.size())
        return {lead, 1};
    char32_t c = lead & (0x7F >> length);
    for (qsizetype i = 1; i < length; ++i) {
        if ((byte(pos + i) & 0xC0) != 0x80)
            return {lead, 1};
        c = c << 6 | (byte(pos + i) & 0x3F);
    }
    return {c, length};
}

QByteArray escapedBytes(QByteArrayView text, bool (*escaped)(char32_t))
{
    QByteArray out;
    out.reserve(text.size());
    qsizetype pos = 0;
    while (pos < text.size()) {
        const auto [c, length] = codePointAt(text, pos);
        if (escaped(c))
            out += escapeOf(c);
        else
            out += text.sliced(pos, length);
        pos += length;
    }
    return out;
}

QString escapedText(const QString& text, bool (*escaped)(char32_t))
{
    QString out;
    out.reserve(text.size());
    for (const QChar ch : text) {
        if (escaped(ch.unicode()))
            out += QString::fromLatin1(escapeOf(ch.unicode()));
        else
            out += ch;
    }
    return out;
}

} // namespace

QByteArray escapeControlBytes(QByteArrayView text)
{
    return escapedBytes(text, isControl);
}

QString escapeControls(const QString& text)
{
    return escapedText(text, isControl);
}

QByteArray escapeLineBreakBytes(QByteArrayView text)
{
    return escapedBytes(text, isLineBreak);
}

QString escapeLineBreaks(const QString& text)
{
    return escapedText(text, isLineBreak);
}

QString plainTip(const QString& text)
{
    // Without a '<' nothing reads as a tag (Qt::mightBeRichText looks for one).
    if (!text.contains(QLatin1Char('<')))
        return text;
    return QStringLiteral("<qt>") + text.toHtmlEscaped() + QStringLiteral("</qt>");
}

} // namespace diag
