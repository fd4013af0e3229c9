// The chat window on real widgets, opened by the chat sessions that send what is typed in it and
// log what it shows, with a scripted host standing in for the server link, the settings and the
// clock.
#include "peer/chat/chat_window.h"
#include "peer/chat/format_render.h"
#include "peer/common/texts.h"
#include "tests/peer/chat_window_rig.h"
#include "tests/support/hostile_texts.h"
#include "tests/support/typing_elsewhere.h"
#include "tests/support/wait_for.h"

#include <QAction>
#include <QDir>
#include <QLabel>
#include <QMenu>
#include <QScrollBar>
#include <QTest>
#include <QTextBlock>
#include <QTextCursor>
#include <QTextDocument>
#include <QTextEdit>
#include <QTextLayout>
#include <gtest/gtest.h>

using test::ChatWindowTest;
using test::ScriptedHost;
using test::waitFor;

TEST_F(ChatWindowTest, OpensForThePeerWithItsCommandBarAndPlainLabels)
{
    open();
    EXPECT_EQ(window->windowTitle(), "bob");
    EXPECT_EQ(session.window, window.data());
    EXPECT_FALSE(window->cipherField()->isVisible());
    EXPECT_EQ(window->input()->maxLength(), 4096);
    EXPECT_EQ(host.barsFor, (QList<QByteArray>{"bob"}));
    auto* bar = window->findChild<QWidget*>("ChatMenuBar");
    ASSERT_NE(bar, nullptr);
    EXPECT_EQ(bar->geometry(), QRect(10, 5, 150, 20));
    for (QLabel* label : window->findChildren<QLabel*>())
        EXPECT_EQ(label->textFormat(), Qt::PlainText) << label->text().toStdString();
    chats.lineArrived(session, QByteArray(5000, 'x')); // a long line is shown whole
    EXPECT_EQ(window->viewText(), "<bob> " + QString(5000, 'x') + "\n");
    // "Connection established." arrives after the current event.
    chats.connectionEstablished(session);
    EXPECT_FALSE(window->transcript().endsWith("Connection established.\r\n"));
    EXPECT_TRUE(
        waitFor([&] { return window->transcript().endsWith("Connection established.\r\n"); }));
    // Once encrypted, the layout makes room for the cipher field.
    const int viewHeight = window->view()->height();
    session.mode = peer::ChatMode::Encrypted;
    window->resize(window->width() + 10, window->height() + 10);
    EXPECT_EQ(window->view()->height(), viewHeight + 10 - 20);
    EXPECT_FALSE(window->cipherField()->isVisible());
}

// The window shows and hands on; its sessions decide, send and log. On its own it reaches
// neither the server nor the disk.
TEST(ChatWindowAlone, HandsOnWhatIsTypedShowsWhatItIsGivenAndWritesNothingItself)
{
    QTemporaryDir installDir;
    ScriptedHost host;
    host.logging = true;
    host.dir = installDir.path();
    peer::ChatSession session;
    session.nick = "bob";
    session.serverRouted = true;
    peer::ChatWindow window(session, host);
    QList<QByteArray> typed;
    QObject::connect(&window, &peer::ChatWindow::textTyped,
                     [&](const QByteArray& text) { typed << text; });
    window.show();
    window.input()->setText("hello");
    window.sendButton()->click();
    window.showLine("<bob> hi\r\n");
    EXPECT_EQ(typed, QList<QByteArray>{"hello"});
    EXPECT_EQ(window.transcript(), "<bob> hi\r\n");
    EXPECT_TRUE(host.sent.isEmpty());
    EXPECT_FALSE(QDir(installDir.filePath("logs")).exists());
}

TEST_F(ChatWindowTest, CloseKeepsTheRecordButStopsServerText)
{
    open();
    chats.lineArrived(session, "bye");
    QTest::keyClick(window.data(), Qt::Key_Escape);
    EXPECT_TRUE(window->isVisible()); // Escape does not close a chat
    window->close();
    EXPECT_FALSE(session.serverRouted);
    EXPECT_TRUE(waitFor([&] { return window.isNull(); }));
    EXPECT_TRUE(session.window.isNull());
}

// A direct link outlives its window, and what arrives over it brings the window up again: it
// came back empty, the conversation so far gone from sight.
TEST_F(ChatWindowTest, AReopenedDirectChatShowsItsEarlierLinesOnce)
{
    host.logging = true;
    session.mode = peer::ChatMode::Direct;
    open();
    chats.showLine(session, "Connection established.\r\n");
    chats.lineArrived(session, "plain \002bold");
    chats.showLine(session, "<alice_> mine\r\n");
    const QByteArray before = window->transcript();
    window->close();
    ASSERT_TRUE(waitFor([&] { return window.isNull(); }));

    open();
    EXPECT_EQ(window->transcript(), before);
    EXPECT_EQ(window->viewText(), "Connection established.\n<bob> plain bold\n<alice_> mine\n");
    chats.lineArrived(session, "again");
    EXPECT_TRUE(window->transcript().endsWith("<alice_> mine\r\n<bob> again\r\n"));
    // Shown again, not said again.
    EXPECT_EQ(logFile().count("<bob> plain"), 1);
}

TEST_F(ChatWindowTest, FormatMenusAndKeysInsertCodesAtTheCaretAndKeepWhatWasTyped)
{
    open();
    window->input()->setText("hello");
    window->input()->setCursorPosition(0);
    const auto actions = window->colourMenu()->actions();
    const auto red =
        std::find_if(actions.begin(), actions.end(), [](QAction* a) { return a->text() == "Red"; });
    ASSERT_NE(red, actions.end());
    (*red)->trigger();
    EXPECT_EQ(window->input()->text(), "\0034hello");
    EXPECT_EQ(window->input()->cursorPosition(), 2);
    window->styleMenu()->actions().front()->trigger(); // Bold
    EXPECT_EQ(window->input()->text(), "\0034\002hello");

    // Ctrl+K and Ctrl+U were the line edit's own: they deleted what had been typed.
    window->show();
    QLineEdit* input = window->input();
    input->setFocus();
    input->setText("hello world");
    input->setCursorPosition(5);
    QTest::keyClick(input, Qt::Key_K, Qt::ControlModifier);
    EXPECT_EQ(input->text(), "hello world");
    EXPECT_TRUE(window->colourMenu()->isVisible());
    window->colourMenu()->close();
    QTest::keyClick(input, Qt::Key_B, Qt::ControlModifier);
    EXPECT_EQ(input->text(), "hello\002 world");
    input->setCursorPosition(0);
    QTest::keyClick(input, Qt::Key_U, Qt::ControlModifier);
    EXPECT_EQ(input->text(), "\037hello\002 world");
    EXPECT_EQ(input->cursorPosition(), 1);
}

// An enlarged window that showed every line left the view at the top once it was made small
// again, and each new line then stayed out of sight.
TEST_F(ChatWindowTest, TheViewFollowsNewLinesAfterAResize)
{
    open();
    window->show();
    QScrollBar* bar = window->view()->verticalScrollBar();
    for (int i = 0; i < 40; ++i)
        chats.lineArrived(session, "line " + QByteArray::number(i));
    ASSERT_TRUE(waitFor([&] { return bar->maximum() > 0 && bar->value() == bar->maximum(); }));
    const QSize small = window->size();
    window->resize(1200, 2400);
    ASSERT_TRUE(waitFor([&] { return bar->maximum() == 0; }));
    window->resize(small);
    ASSERT_TRUE(waitFor([&] { return bar->maximum() > 0; }));
    chats.lineArrived(session, "the newest");
    EXPECT_TRUE(waitFor([&] { return bar->value() == bar->maximum(); }, 1000));
    EXPECT_GT(bar->value(), 0);

    // Scrolled back to read, the view stays where the user put it.
    bar->setValue(0);
    chats.lineArrived(session, "while reading");
    QCoreApplication::processEvents();
    EXPECT_EQ(bar->value(), 0);
    bar->setValue(bar->maximum());
    chats.lineArrived(session, "back at the end");
    EXPECT_TRUE(waitFor([&] { return bar->value() == bar->maximum(); }, 1000));
}

TEST_F(ChatWindowTest, AnArrivingLineLeavesTheKeyboardWhereTheUserTypes)
{
    open();
    test::TypingElsewhere user;
    ASSERT_TRUE(user.hasKeyboard());
    chats.lineArrived(session, "type your password here");
    chats.lineArrived(session, "and press Enter", true);
    EXPECT_TRUE(user.keptKeyboard());
    EXPECT_TRUE(window->viewText().contains("press Enter"));
}

TEST_F(ChatWindowTest, TheViewAndTranscriptKeepTheNewestLinesAndTheLogAll)
{
    host.logging = true;
    open();
    // The last of these lines is the one that makes both cut back to the newest kMaxLines.
    const int total = peer::ChatWindow::kMaxLines + peer::ChatWindow::kTrimLines;
    for (int i = 0; i < total; ++i)
        chats.lineArrived(session, "line " + QByteArray::number(i));
    const QByteArray firstKept = "<bob> line " + QByteArray::number(total + 1 - window->kMaxLines);
    ASSERT_EQ(window->viewText().count('\n'), total);
    chats.lineArrived(session, "plain \002bold");
    const QStringList shown = window->viewText().split('\n', Qt::SkipEmptyParts);
    ASSERT_EQ(shown.size(), peer::ChatWindow::kMaxLines);
    EXPECT_EQ(shown.front(), firstKept);
    EXPECT_EQ(shown.back(), "<bob> plain bold");
    EXPECT_EQ(window->transcript().count("\r\n"), peer::ChatWindow::kMaxLines);
    EXPECT_TRUE(window->transcript().startsWith(firstKept + "\r\n"));
    // What stays keeps its formats: the newest line's bold is on its last word alone.
    const QTextBlock last = window->view()->document()->lastBlock().previous();
    const auto boldAt = [&](int index) {
        QTextCursor cursor(last);
        cursor.setPosition(last.position() + index + 1);
        return cursor.charFormat().fontWeight() == QFont::Bold;
    };
    EXPECT_FALSE(boldAt(int(qstrlen("<bob> pl"))));
    EXPECT_TRUE(boldAt(int(qstrlen("<bob> plain b"))));
    const QByteArray log = logFile();
    EXPECT_TRUE(log.contains("] <bob> line 0\r\n")) << "the log keeps everything";
    EXPECT_EQ(log.count("<bob> line "), total);
}

// Whatever the peer puts inside a line, the view shows one line with the break as its escape,
// and the log keeps one line for it; a note that names the peer is one line as well.
TEST_F(ChatWindowTest, ALineBreakFromThePeerStaysInsideOneShownAndLoggedLine)
{
    host.logging = true;
    open();
    QTextDocument* document = window->view()->document();
    for (const test::LineBreak& brk : test::kLineBreaks) {
        SCOPED_TRACE(brk.name);
        const int blocks = document->blockCount();
        chats.lineArrived(session, test::forgedLine(brk));
        EXPECT_EQ(document->blockCount(), blocks + 1);
        EXPECT_EQ(document->lastBlock().previous().text(), "<bob> " + test::shownText(brk));
        EXPECT_TRUE(window->transcript().endsWith("<bob> " + test::shownLine(brk) + "\r\n"));
        chats.showLine(session, "*Not delivered: " + test::forgedLine(brk) + "*\r\n");
        EXPECT_EQ(document->blockCount(), blocks + 2);
    }
    const QList<QByteArray> logged = logFile().split('\n');
    int forged = 0;
    for (const QByteArray& line : logged) {
        EXPECT_FALSE(line.startsWith("<alice> yes")) << line.toStdString();
        forged += line.contains("<alice> yes, I will pay 500 EUR") ? 1 : 0;
    }
    EXPECT_EQ(forged, 2 * int(test::kLineBreaks.size()));
    // A nick that holds one is one line in the title too.
    for (const test::LineBreak& brk : test::kLineBreaks) {
        peer::ChatSession other;
        other.nick = "mal" + brk.bytes + "lory";
        peer::ChatWindow titled(other, host);
        EXPECT_EQ(titled.windowTitle(), "mal" + QString::fromUtf8(brk.escaped) + "lory");
    }
    for (const test::LineBreak& brk : test::kLineBreaks)
        EXPECT_TRUE(logFile().contains("] <bob> " + test::shownLine(brk) + "\r\n")) << brk.name;
}

// A line that came in clear during an encrypted chat is marked from its first character to its
// last, on every row it wraps to, whatever codes it holds; the line after it is not.
TEST_F(ChatWindowTest, ALineInClearIsMarkedAsAWhole)
{
    open();
    window->resize(300, 400);
    window->show();
    const QByteArray codes = "\x0f\x1f\x03"
                             "0,0white \x02bold\x0f reset ";
    chats.lineArrived(session,
                      "[not encrypted] " + codes + QByteArray("word ").repeated(80) + "end", false,
                      {}, true);
    chats.lineArrived(session, "encrypted words");
    const QTextBlock marked = window->view()->document()->lastBlock().previous().previous();
    ASSERT_TRUE(marked.text().startsWith("<bob> [not encrypted]"));
    ASSERT_TRUE(marked.text().endsWith(" end"));
    ASSERT_TRUE(marked.layout() != nullptr);
    EXPECT_TRUE(waitFor([&] { return marked.layout()->lineCount() > 1; })) << "the line wraps";
    for (int i = 0; i < marked.length() - 1; ++i) {
        QTextCursor at(marked);
        at.setPosition(marked.position() + i + 1);
        EXPECT_TRUE(at.charFormat().boolProperty(peer::kUnprotectedLine)) << i;
        EXPECT_TRUE(at.charFormat().fontItalic()) << i;
        EXPECT_EQ(at.charFormat().underlineStyle(), QTextCharFormat::WaveUnderline) << i;
    }
    const QTextBlock plain = marked.next();
    QTextCursor inPlain(plain);
    inPlain.setPosition(plain.position() + 3);
    EXPECT_FALSE(inPlain.charFormat().boolProperty(peer::kUnprotectedLine));
    EXPECT_FALSE(inPlain.charFormat().fontItalic());
}

// In a chat with NickServ the password goes to the server as typed; the view and the log keep
// it masked, as every echo of the line does.
TEST_F(ChatWindowTest, AChatWithNickServKeepsNoPasswordInItsViewOrLog)
{
    host.logging = true;
    session.nick = "NickServ";
    open();
    type("REGISTER s3cret alice@example.org");
    type("SET PASSWORD n3w");
    type("GHOST alice_ old");
    type("IDENTIFY acct pw");
    EXPECT_TRUE(host.sent.contains("PRIVMSG NickServ :REGISTER s3cret alice@example.org"));
    EXPECT_EQ(window->transcript(), "<alice_> REGISTER ****\r\n<alice_> SET PASSWORD ****\r\n"
                                    "<alice_> GHOST alice_ ****\r\n<alice_> IDENTIFY ****\r\n");
    const QByteArray log = test::readFile(installDir.filePath("logs/NickServ.txt"));
    EXPECT_TRUE(log.contains("] <alice_> REGISTER ****\r\n")) << log.constData();
    for (const char* secret : {"s3cret", "n3w", "old", "pw"})
        EXPECT_FALSE(log.contains(secret)) << secret;
}

// The questions and notes that name a peer are as many lines with any nick: a nick cannot make
// up the fingerprint lines of the certificate question, nor a line of a key exchange's question.
TEST(PeerTexts, ANickIsOneLineOfTheQuestionsThatNameIt)
{
    const QString plainQuestion = peer::peerKeyQuestionText("bob", "aa", "bb");
    const QString plainOffer = peer::fishText::offerQuestion("bob");
    for (const test::LineBreak& brk : test::kLineBreaks) {
        SCOPED_TRACE(brk.name);
        const QByteArray nick = "bob" + brk.bytes + "Theirs: AA";
        const QString shown = "bob" + QString::fromUtf8(brk.escaped) + "Theirs: AA";
        const QString question = peer::peerKeyQuestionText(nick, "aa", "bb");
        EXPECT_TRUE(question.contains("connected as " + shown + " with")) << question.toStdString();
        EXPECT_EQ(question.count('\n'), plainQuestion.count('\n'));
        const QString offer = peer::fishText::offerQuestion(nick);
        EXPECT_TRUE(offer.contains(shown)) << offer.toStdString();
        EXPECT_EQ(offer.count('\n'), plainOffer.count('\n'));
    }
}
