#pragma once

#include <QtGlobal>

#include <optional>

class QPalette;
class QTextDocument;

namespace peer {

// How a line the user sent through the server went, as its block in the chat view shows it.
enum class LineDelivery { Sent, Pending, NotDelivered };

// Marks the newest line of `document` (the block before the empty last one) as line `id`, or
// changes the mark of line `id` among the newest `searchLimit` lines. Colours come from
// `palette`, so that a dark theme keeps its text readable.
void markNewestLine(QTextDocument* document, quint64 id, LineDelivery delivery,
                    const QPalette& palette);
void remarkLine(QTextDocument* document, quint64 id, LineDelivery delivery, int searchLimit,
                const QPalette& palette);
std::optional<LineDelivery> lineDelivery(const QTextDocument* document, quint64 id,
                                         int searchLimit);

} // namespace peer
