#include "peer/common/chat_text.h"

#include "diag/control_escape.h"
#include "peer/common/texts.h"

namespace peer {

QByteArray wireText(const QString& typed)
{
    QByteArray bytes = typed.toUtf8();
    for (char& c : bytes) {
        if (c == '\r' || c == '\n' || c == '\0')
            c = ' ';
    }
    return bytes;
}

QByteArray saidLine(const QByteArray& who, const QByteArray& text)
{
    return "<" + who + "> " + text + "\r\n";
}

QByteArray autoReplyLine(const QByteArray& who, const QByteArray& text)
{
    return saidLine(who, text::kAutoReply + text);
}

QByteArray noteLine(QByteArrayView note)
{
    return "*" + note.toByteArray() + "*\r\n";
}

QByteArray oneShownLine(QByteArrayView line)
{
    const QByteArrayView body = line.endsWith("\r\n") ? line.chopped(2) : line;
    return diag::escapeLineBreakBytes(body) + "\r\n";
}

QList<QByteArray> splitAtWords(const QByteArray& text, int maxBytes)
{
    QList<QByteArray> pieces;
    if (maxBytes < 4)
        maxBytes = 4; // room for the longest UTF-8 sequence
    qsizetype start = 0;
    do {
        qsizetype end = qMin(text.size(), start + maxBytes);
        if (end < text.size()) {
            const qsizetype blank = text.lastIndexOf(' ', end - 1);
            if (text[end] == ' ') {
                // The word ends exactly there; the blank starts the next piece.
            } else if (blank >= start) {
                end = blank + 1;
            } else {
                // Back off continuation bytes so the piece ends on a character boundary.
                qsizetype cut = end;
                while (cut > start && (static_cast<unsigned char>(text[cut]) & 0xC0) == 0x80)
                    --cut;
                if (cut > start)
                    end = cut;
            }
        }
        pieces << text.mid(start, end - start);
        start = end;
    } while (start < text.size());
    return pieces;
}

} // namespace peer
