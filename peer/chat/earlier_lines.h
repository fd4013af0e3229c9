#pragma once

#include "peer/chat/chat_log.h"

#include <QObject>
#include <QString>

#include <optional>
#include <vector>

class QTextBlock;
class QTextEdit;

namespace peer {

// What a conversation view shows of its chat's log: the lines said before the window opened,
// stamped with when they were said, in a section at the top under a quiet divider. Older lines
// go in below the divider, so the section reads in order, and the view never holds more than its
// bound. Every line whose place in the log is known carries it, the new ones too, so that a
// found line can be shown where it stands. Shows only: what to read is the chat's to say.
class EarlierLines : public QObject
{
    Q_OBJECT

public:
    // `maxLines`: the view's bound, which the earlier lines share with the new ones.
    EarlierLines(QTextEdit* view, int maxLines);

    // The lines that end the log (the oldest first): the section starts with them.
    void showTail(const std::vector<LoggedLine>& lines);
    // Lines said before the oldest one shown, the oldest first.
    void showOlder(const std::vector<LoggedLine>& lines);
    // The lines around one place of the log, in place of the section, when the place is not in
    // the view; with `laterNotShown` a second divider says that the log goes on after them.
    void showAround(const std::vector<LoggedLine>& lines, bool laterNotShown);
    // The newest line of the view went to the log at `offset`.
    void tagNewest(qint64 offset);
    // Brings the line that starts at `offset` into view and selects it; false when the view does
    // not hold it.
    bool showAt(qint64 offset);
    // The view was emptied: nothing earlier is shown, and none is asked for again.
    void cleared();

    // Where the oldest line shown starts; nothing when older ones are not to be asked for.
    std::optional<qint64> oldest() const;
    // How many more lines the view has room for.
    int room() const;
    int shownCount() const { return m_shown; }

    static QString dividerText();
    static QString gapText();
    // The stamp a line of the log is shown with, in the user's time and way of writing it.
    static QString stampText(const QDateTime& at);

signals:
    // The user scrolled to the top while older lines may be had.
    void olderWanted();

private:
    // Inserts `line` as a new block after `after`, stamped, and returns the new block.
    QTextBlock insertAfter(const QTextBlock& after, const LoggedLine& line);
    QTextBlock insertDivider(const QTextBlock& after, const QString& text);
    // `lines` at the top of the section, in order; the last block they took.
    QTextBlock insertUnderDivider(const std::vector<LoggedLine>& lines);
    // The first block of the view, made the divider if it is not one yet.
    QTextBlock divider();
    void removeSection();
    void askWhenAtTop();

    QTextEdit* m_view;
    int m_maxLines;
    qint64 m_oldest = -1;
    int m_shown = 0;
    bool m_asking = false;
};

} // namespace peer
