#include "peer/chat/delivery_marks.h"

#include <QPalette>
#include <QTextBlock>
#include <QTextCursor>
#include <QTextDocument>

namespace peer {

namespace {

// A block's user state holds the id of a line sent through the server (ids count from 1, kept
// to 28 bits) above two bits of how it went; -1, Qt's default, on every other line.
constexpr int kIdMask = 0x0fffffff;

int deliveryState(quint64 id, LineDelivery delivery)
{
    return int(id & kIdMask) << 2 | int(delivery);
}

QTextBlock blockOfLine(const QTextDocument* document, quint64 id, int searchLimit)
{
    // Lines waiting are among the newest: the search starts at the end.
    for (QTextBlock block = document->lastBlock(); block.isValid() && searchLimit-- > 0;
         block = block.previous()) {
        if (block.userState() >= 0 && (block.userState() >> 2) == int(id & kIdMask))
            return block;
    }
    return {};
}

// Waiting is the alternate row colour, not delivered the base tinted towards red.
void mark(QTextBlock block, quint64 id, LineDelivery delivery, const QPalette& palette)
{
    QTextCursor cursor(block);
    QTextBlockFormat format = block.blockFormat();
    if (delivery == LineDelivery::Sent) {
        format.clearBackground();
    } else if (delivery == LineDelivery::Pending) {
        format.setBackground(palette.color(QPalette::AlternateBase));
    } else {
        const QColor base = palette.color(QPalette::Base);
        format.setBackground(
            QColor((base.red() * 3 + 255) / 4, base.green() * 3 / 4, base.blue() * 3 / 4));
    }
    block.setUserState(deliveryState(id, delivery));
    cursor.setBlockFormat(format);
}

} // namespace

void markNewestLine(QTextDocument* document, quint64 id, LineDelivery delivery,
                    const QPalette& palette)
{
    // Each line ends in a break, so the line just shown is the block before the last.
    const QTextBlock block = document->lastBlock().previous();
    if (block.isValid())
        mark(block, id, delivery, palette);
}

void remarkLine(QTextDocument* document, quint64 id, LineDelivery delivery, int searchLimit,
                const QPalette& palette)
{
    const QTextBlock block = blockOfLine(document, id, searchLimit);
    if (block.isValid())
        mark(block, id, delivery, palette);
}

std::optional<LineDelivery> lineDelivery(const QTextDocument* document, quint64 id, int searchLimit)
{
    const QTextBlock block = blockOfLine(document, id, searchLimit);
    if (!block.isValid())
        return std::nullopt;
    return LineDelivery(block.userState() & 3);
}

} // namespace peer
