// A chat opens where it left off, and a line found in the logs opens its chat at that line: real
// chat windows over real log files, and the find window over a real index on its own thread.
#include "peer/chat/chat_log.h"
#include "peer/chat/earlier_lines.h"
#include "peer/search/chat_search.h"
#include "peer/search/find_window.h"
#include "peer/search/log_search.h"
#include "peer/search/match_delegate.h"
#include "tests/peer/chat_window_rig.h"
#include "tests/support/wait_for.h"

#include <QScrollBar>
#include <QShortcut>
#include <QTest>
#include <QTextBlock>
#include <QTextCursor>
#include <QTextEdit>
#include <QTreeWidget>

namespace {

using peer::ChatEarlier;
using peer::ChatLog;
using peer::EarlierLines;

const QDateTime kStart(QDate(2026, 3, 1), QTime(9, 0, 0), Qt::UTC);

class EarlierTest : public test::ChatWindowTest
{
protected:
    void SetUp() override
    {
        ChatWindowTest::SetUp();
        host.logging = true;
    }
    QString logPath(const QByteArray& nick = "bob") const
    {
        return installDir.filePath("logs/" + QString::fromUtf8(nick) + ".txt");
    }
    // `count` lines said a minute apart, "line 0" the oldest; where each starts.
    std::vector<qint64> writeLog(int count, const QByteArray& nick = "bob")
    {
        QDir().mkpath(installDir.filePath("logs"));
        QByteArray log = ChatLog::startedText(nick);
        std::vector<qint64> offsets;
        for (int i = 0; i < count; ++i) {
            offsets.push_back(log.size());
            log += ChatLog::stampedLine(kStart.addSecs(60 * i),
                                        "<" + nick + "> line " + QByteArray::number(i));
        }
        EXPECT_TRUE(test::writeTo(logPath(nick), log));
        return offsets;
    }
    QStringList viewLines() const { return window->viewText().split('\n'); }
    static QString said(int i) { return QStringLiteral("<bob> line %1").arg(i); }
    static QString stamped(int i)
    {
        return EarlierLines::stampText(kStart.addSecs(60 * i)) + said(i);
    }
};

TEST_F(EarlierTest, OpensWhereItLeftOffAndLoadsOlderAsTheUserScrollsUp)
{
    writeLog(ChatEarlier::kOnOpen + ChatEarlier::kPerLoad + 50);
    QFile log(logPath());
    ASSERT_TRUE(log.open(QIODevice::Append));
    log.write(ChatLog::stampedLine(kStart.addDays(1), "<bob> \x02"
                                                      "bold\x02 end"));
    log.close();
    open();
    window->show();
    chats.lineArrived(session, "new here");

    // Under the divider, the newest lines of the log, stamped and formatted; then the new one.
    QStringList lines = viewLines();
    EXPECT_EQ(lines.first(), EarlierLines::dividerText());
    EXPECT_EQ(lines.size(), 1 + ChatEarlier::kOnOpen + 1 + 1);
    EXPECT_EQ(lines[1], stamped(ChatEarlier::kPerLoad + 50 + 1));
    EXPECT_TRUE(lines[ChatEarlier::kOnOpen].endsWith("<bob> bold end"));
    EXPECT_EQ(lines[ChatEarlier::kOnOpen + 1], "<bob> new here");
    QTextCursor bold(window->view()->document()->findBlockByNumber(ChatEarlier::kOnOpen));
    bold.movePosition(QTextCursor::EndOfBlock);
    bold.movePosition(QTextCursor::PreviousWord, QTextCursor::MoveAnchor, 2);
    bold.movePosition(QTextCursor::NextCharacter);
    EXPECT_EQ(bold.charFormat().fontWeight(), QFont::Bold);
    // The earlier lines are shown, not logged again: the log only gains what is new.
    const QByteArray written = test::readFile(logPath());
    EXPECT_EQ(written.count("line 0\r\n"), 1);
    EXPECT_TRUE(written.endsWith("] <bob> new here\r\n"));

    // Scrolling to the top brings older lines in above, in order, and leaves the user's place.
    QScrollBar* bar = window->view()->verticalScrollBar();
    ASSERT_TRUE(test::waitFor([&] { return bar->maximum() > 0; }));
    for (int loads = 0; loads < 5 && viewLines()[1] != stamped(0); ++loads) {
        bar->setValue(bar->minimum());
        EXPECT_GT(bar->value(), bar->minimum());
    }
    lines = viewLines();
    ASSERT_EQ(lines[1], stamped(0));
    for (int i = 0; i < ChatEarlier::kOnOpen + ChatEarlier::kPerLoad + 50; ++i)
        ASSERT_EQ(lines[1 + i], stamped(i));
    // The top of the log: nothing more to ask for.
    bar->setValue(bar->minimum());
    EXPECT_EQ(viewLines().size(), lines.size());
    EXPECT_FALSE(window->earlier()->oldest());
}

// What a log holds is shown as the plain text it is, one line each, whoever wrote it: a line of
// the log never becomes markup, and a hand-edited log's stray line break stays inside its line.
TEST_F(EarlierTest, LogLinesStayPlainTextOnTheirOwnLine)
{
    QDir().mkpath(installDir.filePath("logs"));
    QByteArray log = ChatLog::stampedLine(kStart, "<bob> <b>not bold</b> &amp; <img src=x>");
    log += "[1/3/2026 9:1:0] <bob> cr\rinside\r\n";
    log += "[1/3/2026 9:2:0] <bob> escaped \\x0a stays\r\n";
    log += "not a line of the log\r\n";
    ASSERT_TRUE(test::writeTo(logPath(), log));
    open();
    const QStringList lines = viewLines();
    ASSERT_EQ(lines.size(), 5);
    EXPECT_TRUE(lines[1].endsWith("<bob> <b>not bold</b> &amp; <img src=x>"));
    EXPECT_TRUE(lines[2].endsWith(QStringLiteral("<bob> cr\uFFFDinside")));
    EXPECT_TRUE(lines[3].endsWith("<bob> escaped \\x0a stays"));
    EXPECT_EQ(window->view()->document()->blockCount(), 5);
}

TEST_F(EarlierTest, StaysWithinTheViewsBound)
{
    writeLog(peer::ChatWindow::kMaxLines * 2);
    open();
    window->show();
    QScrollBar* bar = window->view()->verticalScrollBar();
    for (int loads = 0; loads < 40; ++loads) {
        QCoreApplication::processEvents();
        bar->setValue(bar->minimum());
    }
    EXPECT_LE(window->view()->document()->blockCount() - 1, peer::ChatWindow::kMaxLines);
    EXPECT_EQ(window->earlier()->room(), 0);
}

// Lines the server kept for us (chathistory) come after the log's, each shown once, and are in
// the log for the next window.
TEST_F(EarlierTest, ServerHistoryAndTheLogShowEachLineOnce)
{
    writeLog(3);
    chats.showHistory("bob", {{"", kStart.addDays(1), "bob", "missed one"},
                              {"", kStart.addDays(1).addSecs(1), "alice_", "missed two"}});
    const peer::ChatSession* chat = peer::FindRoutedChat(chats.records(), "bob");
    ASSERT_TRUE(chat && chat->window);
    window = chat->window;
    const QStringList shown = viewLines();
    EXPECT_EQ(shown.mid(0, 4),
              (QStringList{EarlierLines::dividerText(), stamped(0), stamped(1), stamped(2)}));
    EXPECT_EQ(shown.mid(4, 2), (QStringList{"<bob> missed one", "<alice_> missed two"}));
    window->close();
    chats.openChat("bob");
    window = peer::FindRoutedChat(chats.records(), "bob")->window;
    EXPECT_EQ(window->viewText().count("missed one"), 1);
    EXPECT_EQ(window->viewText().count("missed two"), 1);
}

TEST_F(EarlierTest, FoundLineOpensItsChatAtThatLine)
{
    const std::vector<qint64> offsets = writeLog(1000);
    chats.showLogged("bob", offsets[10]);
    window = peer::FindRoutedChat(chats.records(), "bob")->window;
    ASSERT_TRUE(window);
    EXPECT_EQ(window->view()->textCursor().selectedText(), stamped(10));
    // The lines around it, then a divider where the log goes on.
    const QStringList lines = viewLines();
    EXPECT_EQ(lines[1], stamped(0));
    EXPECT_EQ(lines[1 + 10 + ChatEarlier::kAround], stamped(10 + ChatEarlier::kAround));
    EXPECT_EQ(lines[2 + 10 + ChatEarlier::kAround], EarlierLines::gapText());

    // A line the window shows already is only brought into view, a new one of this run too.
    type("typed now");
    const QStringList before = viewLines();
    chats.showLogged("bob", offsets[12]);
    EXPECT_EQ(window->view()->textCursor().selectedText(), stamped(12));
    const std::vector<peer::LoggedLine> last =
        ChatLog::linesBefore(logPath(), QFileInfo(logPath()).size(), 1);
    ASSERT_EQ(last.size(), 1u);
    chats.showLogged("bob", last.front().offset);
    EXPECT_EQ(window->view()->textCursor().selectedText(), "<alice_> typed now");
    EXPECT_EQ(viewLines(), before);
}

// Find, through the index on its own thread: results as the user types, a line in the chat
// window's log found once logged, and a chosen line opening its chat there.
TEST_F(EarlierTest, FindWindowFindsAsTheUserTypesAndOpensTheChat)
{
    writeLog(30);
    writeLog(5, "carol");
    peer::LogSearch search(installDir.filePath("log-index.db"));
    peer::ChatSearch finding(search, chats);
    finding.follow();
    search.setLogsFolder(installDir.filePath("logs"));
    ASSERT_TRUE(test::waitFor([&] { return !search.catchingUp(); }, 20000));

    peer::FindWindow* find = finding.open();
    // A beginning is enough from three characters on.
    QTest::keyClicks(find->input(), "LIN");
    ASSERT_TRUE(test::waitFor([&] { return find->results()->topLevelItemCount() == 35; }));
    const QTreeWidgetItem* newest = find->results()->topLevelItem(0);
    EXPECT_EQ(newest->text(0), "bob");
    EXPECT_EQ(newest->text(2), said(29));
    using Ranges = QList<std::pair<int, int>>;
    EXPECT_EQ(newest->data(2, peer::kMatchRangesRole).value<Ranges>(), (Ranges{{6, 3}}));

    // What the chat logs now is found.
    window = chats.openChat("bob");
    type("a line 1 of my own");
    const auto firstFound = [&] {
        const QTreeWidgetItem* item = find->results()->topLevelItem(0);
        return item ? item->text(2) : QString();
    };
    find->input()->setText("of my own");
    ASSERT_TRUE(test::waitFor([&] { return firstFound() == "<alice_> a line 1 of my own"; }));
    EXPECT_EQ(find->results()->topLevelItemCount(), 1);

    // Ctrl+F in a chat looks in that chat alone.
    auto* shortcut = window->findChild<QShortcut*>();
    ASSERT_TRUE(shortcut);
    EXPECT_EQ(shortcut->key(), QKeySequence(QKeySequence::Find));
    emit shortcut->activated();
    EXPECT_EQ(finding.window(), find);
    EXPECT_EQ(find->scope(), QByteArray("bob"));
    find->input()->setText("line 3");
    ASSERT_TRUE(test::waitFor([&] { return firstFound() == said(3); }));
    EXPECT_EQ(find->results()->topLevelItemCount(), 1);
    find->results()->setCurrentItem(find->results()->topLevelItem(0));
    emit find->results()->itemActivated(find->results()->topLevelItem(0), 0);
    EXPECT_EQ(window->view()->textCursor().selectedText(), stamped(3));
    delete finding.window();
}

} // namespace
