#include "peer/chat/earlier_lines.h"

#include "peer/chat/format_render.h"

#include <QLocale>
#include <QPalette>
#include <QScrollBar>
#include <QTextBlock>
#include <QTextCursor>
#include <QTextDocument>
#include <QTextEdit>

namespace peer {

namespace {

// What a block of the view is, kept in its format.
constexpr int kSection = QTextFormat::UserProperty + 20;
enum class Section { None, Divider, Gap, Earlier };

Section sectionOf(const QTextBlock& block)
{
    return Section(block.blockFormat().intProperty(kSection));
}

QTextBlockFormat sectionFormat(Section section)
{
    QTextBlockFormat format;
    format.setProperty(kSection, int(section));
    if (section == Section::Divider || section == Section::Gap)
        format.setAlignment(Qt::AlignHCenter);
    return format;
}

// Where a line of the view went in the log.
class LogPlace : public QTextBlockUserData
{
public:
    explicit LogPlace(qint64 offset)
        : offset(offset)
    {}
    const qint64 offset;
};

std::optional<qint64> placeOf(const QTextBlock& block)
{
    const auto* place = dynamic_cast<const LogPlace*>(block.userData());
    return place ? std::optional(place->offset) : std::nullopt;
}

QTextCharFormat quietFormat(const QTextEdit* view)
{
    QTextCharFormat format;
    format.setForeground(view->palette().color(QPalette::PlaceholderText));
    return format;
}

} // namespace

EarlierLines::EarlierLines(QTextEdit* view, int maxLines)
    : QObject(view)
    , m_view(view)
    , m_maxLines(maxLines)
{
    connect(view->verticalScrollBar(), &QScrollBar::valueChanged, this,
            &EarlierLines::askWhenAtTop);
}

QString EarlierLines::dividerText()
{
    return tr("earlier");
}

QString EarlierLines::gapText()
{
    return tr("later lines are in the log");
}

QString EarlierLines::stampText(const QDateTime& at)
{
    return QLatin1Char('[') + QLocale().toString(at.toLocalTime(), QLocale::ShortFormat)
           + QStringLiteral("] ");
}

QTextBlock EarlierLines::insertDivider(const QTextBlock& after, const QString& text)
{
    QTextCursor cursor(after);
    cursor.movePosition(QTextCursor::EndOfBlock);
    cursor.insertBlock(sectionFormat(Section::Gap), quietFormat(m_view));
    cursor.insertText(text);
    return cursor.block();
}

QTextBlock EarlierLines::divider()
{
    QTextDocument* document = m_view->document();
    QTextBlock first = document->firstBlock();
    if (sectionOf(first) == Section::Divider)
        return first;
    // The first line moves down a block; what the view knows of it goes with it.
    QTextCursor cursor(first);
    cursor.insertBlock(first.blockFormat());
    QTextBlock moved = first.next();
    moved.setUserState(first.userState());
    first.setUserState(-1);
    if (const std::optional<qint64> place = placeOf(first)) {
        moved.setUserData(new LogPlace(*place));
        first.setUserData(nullptr);
    }
    cursor.setPosition(first.position());
    cursor.setBlockFormat(sectionFormat(Section::Divider));
    cursor.insertText(dividerText(), quietFormat(m_view));
    return document->firstBlock();
}

QTextBlock EarlierLines::insertAfter(const QTextBlock& after, const LoggedLine& line)
{
    RenderedLine rendered = renderFormattedLine(line.text);
    // A hand-edited log may hold anything; it stays one line of the view.
    for (QChar& ch : rendered.text) {
        if (ch == QLatin1Char('\n') || ch == QLatin1Char('\r') || ch == QChar::ParagraphSeparator)
            ch = QChar::ReplacementCharacter;
    }
    QTextCursor cursor(after);
    cursor.movePosition(QTextCursor::EndOfBlock);
    cursor.insertBlock(sectionFormat(Section::Earlier), QTextCharFormat());
    cursor.insertText(stampText(line.at), quietFormat(m_view));
    const int start = cursor.position();
    cursor.insertText(rendered.text, QTextCharFormat());
    ApplyFormatRuns(cursor, start, rendered.spans);
    QTextBlock block = cursor.block();
    block.setUserData(new LogPlace(line.offset));
    ++m_shown;
    return block;
}

QTextBlock EarlierLines::insertUnderDivider(const std::vector<LoggedLine>& lines)
{
    QTextBlock after = divider();
    for (const LoggedLine& line : lines)
        after = insertAfter(after, line);
    m_oldest = lines.empty() ? -1 : lines.front().offset;
    return after;
}

void EarlierLines::showTail(const std::vector<LoggedLine>& lines)
{
    if (lines.empty())
        return;
    QTextCursor edit(m_view->document());
    edit.beginEditBlock();
    insertUnderDivider(lines);
    edit.endEditBlock();
}

void EarlierLines::showOlder(const std::vector<LoggedLine>& lines)
{
    if (lines.empty() || m_oldest < 0) {
        // Nothing older: the top of the log is in view.
        m_oldest = -1;
        return;
    }
    QScrollBar* bar = m_view->verticalScrollBar();
    const int fromBottom = bar->maximum() - bar->value();
    QTextCursor edit(m_view->document());
    edit.beginEditBlock();
    insertUnderDivider(lines);
    edit.endEditBlock();
    // The line the user was reading stays where it was.
    m_asking = true;
    bar->setValue(bar->maximum() - fromBottom);
    m_asking = false;
}

void EarlierLines::removeSection()
{
    QTextDocument* document = m_view->document();
    QTextBlock block = document->firstBlock();
    QTextBlock last;
    while (block.isValid() && sectionOf(block) != Section::None) {
        last = block;
        block = block.next();
    }
    if (!last.isValid())
        return;
    QTextCursor cut(document);
    cut.setPosition(last.next().isValid() ? last.next().position() : last.position());
    cut.setPosition(0, QTextCursor::KeepAnchor);
    cut.removeSelectedText();
    m_shown = 0;
}

void EarlierLines::showAround(const std::vector<LoggedLine>& lines, bool laterNotShown)
{
    QTextCursor edit(m_view->document());
    edit.beginEditBlock();
    removeSection();
    m_oldest = -1;
    if (!lines.empty()) {
        const QTextBlock last = insertUnderDivider(lines);
        if (laterNotShown)
            insertDivider(last, gapText());
    }
    edit.endEditBlock();
}

void EarlierLines::tagNewest(qint64 offset)
{
    QTextBlock newest = m_view->document()->lastBlock().previous();
    if (newest.isValid() && sectionOf(newest) == Section::None)
        newest.setUserData(new LogPlace(offset));
}

bool EarlierLines::showAt(qint64 offset)
{
    for (QTextBlock block = m_view->document()->lastBlock(); block.isValid();
         block = block.previous()) {
        if (placeOf(block) != offset)
            continue;
        QTextCursor cursor(block);
        cursor.movePosition(QTextCursor::EndOfBlock, QTextCursor::KeepAnchor);
        m_asking = true;
        m_view->setTextCursor(cursor);
        m_view->ensureCursorVisible();
        m_asking = false;
        return true;
    }
    return false;
}

void EarlierLines::cleared()
{
    m_oldest = -1;
    m_shown = 0;
}

std::optional<qint64> EarlierLines::oldest() const
{
    return m_oldest > 0 ? std::optional(m_oldest) : std::nullopt;
}

int EarlierLines::room() const
{
    return std::max(0, m_maxLines - (m_view->document()->blockCount() - 1));
}

void EarlierLines::askWhenAtTop()
{
    const QScrollBar* bar = m_view->verticalScrollBar();
    if (!m_asking && bar->value() == bar->minimum() && bar->maximum() > 0 && oldest() && room() > 0)
        emit olderWanted();
}

} // namespace peer
