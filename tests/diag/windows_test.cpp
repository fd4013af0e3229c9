#include "diag/debug_log.h"
#include "diag/debug_window.h"
#include "diag/raw_data_window.h"
#include "diag/server_log_window.h"
#include "tests/support/wait_for.h"

#include <QApplication>
#include <QCheckBox>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTest>
#include <QTextBlock>
#include <gtest/gtest.h>

namespace {

using diag::DebugPanes;
using diag::Pane;

QPushButton* button(QWidget* window, const QString& text)
{
    const QList<QPushButton*> buttons = window->findChildren<QPushButton*>();
    for (QPushButton* b : buttons) {
        if (b->text() == text)
            return b;
    }
    return nullptr;
}

// Records what a window hands to the server connection.
struct RecordingSender
{
    QList<QByteArray> sent;
    bool connected = true;

    diag::LineSender sender()
    {
        return [this](const QByteArray& bytes) {
            sent.push_back(bytes);
            return connected;
        };
    }
};

class DebugWindowTest : public ::testing::Test
{
protected:
    void SetUp() override { DebugPanes::instance().clear(); }
    void TearDown() override { DebugPanes::instance().clear(); }
};

TEST_F(DebugWindowTest, StartsHiddenWithThePanesAndControlsAndEnterSendsWhileOkHides)
{
    diag::DebugLog(QStringLiteral("before the window"));
    diag::DebugLog(QStringLiteral("info before"), 2);
    diag::DebugWindow window;

    EXPECT_FALSE(window.isVisible());
    EXPECT_FALSE(window.isModal());
    EXPECT_EQ(window.windowTitle(), QStringLiteral("Debug Window"));
    EXPECT_TRUE(window.statusPane()->isReadOnly());
    EXPECT_TRUE(window.infoPane()->isReadOnly());
    EXPECT_EQ(window.statusPane()->toPlainText(), QStringLiteral("before the window\n"));
    EXPECT_EQ(window.infoPane()->toPlainText(), QStringLiteral("info before\n"));

    auto* statusBox = qobject_cast<QGroupBox*>(window.statusPane()->parentWidget());
    auto* infoBox = qobject_cast<QGroupBox*>(window.infoPane()->parentWidget());
    ASSERT_TRUE(statusBox && infoBox);
    EXPECT_EQ(statusBox->title(), QStringLiteral("Status"));
    EXPECT_EQ(infoBox->title(), QStringLiteral("Info"));

    bool labelled = false;
    for (QLabel* label : window.findChildren<QLabel*>())
        labelled |= label->text() == QStringLiteral("Send data to server:");
    EXPECT_TRUE(labelled);
    ASSERT_TRUE(button(&window, QStringLiteral("Send")));
    EXPECT_TRUE(button(&window, QStringLiteral("Send"))->isDefault());
    EXPECT_TRUE(button(&window, QStringLiteral("OK")));

    // It follows the log while hidden.
    diag::DebugLog(QStringLiteral("one"));
    diag::DebugLog(QStringLiteral("info"), 2);
    EXPECT_EQ(window.statusPane()->toPlainText(), QStringLiteral("before the window\none\n"));
    EXPECT_EQ(window.infoPane()->toPlainText(), QStringLiteral("info before\ninfo\n"));

    RecordingSender recorder;
    window.setSender(recorder.sender());
    window.show();
    window.sendBox()->setText(QStringLiteral("PING x"));
    QTest::keyClick(window.sendBox(), Qt::Key_Return);
    EXPECT_EQ(recorder.sent, QList<QByteArray>{"PING x\r\n"});
    QTest::keyClick(window.sendBox(), Qt::Key_Escape);
    window.reject();
    EXPECT_TRUE(window.isVisible());
    button(&window, QStringLiteral("OK"))->click();
    EXPECT_FALSE(window.isVisible());
}

TEST_F(DebugWindowTest, SendsOneLineCutToFitAndLogsItOrReportsThatThereIsNoConnection)
{
    const struct
    {
        const char* name;
        QString text;
        QByteArray expected;
    } cases[] = {
        {"plain", QStringLiteral("text"), "text\r\n"},
        {"empty", QString(), "\r\n"},
        {"UTF-8", QString::fromUtf8("PRIVMSG #a :caf\xc3\xa9"), "PRIVMSG #a :caf\xc3\xa9\r\n"},
        {"at the limit", QString(509, QLatin1Char('a')), QByteArray(509, 'a') + "\r\n"},
        {"long", QString(600, QLatin1Char('a')), QByteArray(509, 'a') + "\r\n"},
        // 2-byte characters: 254 of them fill 508 bytes, the 255th would split.
        {"long, two-byte", QString(300, QChar(0xe9)), QString(254, QChar(0xe9)).toUtf8() + "\r\n"},
        // 'a' then 3-byte characters: 1 + 3 * 169 = 508 bytes.
        {"long, three-byte", QStringLiteral("a") + QString(300, QChar(0x20ac)),
         (QStringLiteral("a") + QString(169, QChar(0x20ac))).toUtf8() + "\r\n"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        DebugPanes::instance().clear();
        RecordingSender recorder;
        diag::DebugWindow window;
        window.setSender(recorder.sender());
        window.sendBox()->setText(c.text);
        window.sendLine();
        ASSERT_EQ(recorder.sent.size(), 1);
        EXPECT_EQ(recorder.sent.at(0), c.expected);
        EXPECT_LE(recorder.sent.at(0).size(), 511);
        EXPECT_EQ(DebugPanes::instance().text(Pane::Status),
                  QString::fromUtf8(c.expected) + QStringLiteral("\r\n"));
        EXPECT_EQ(window.sendBox()->text(), c.text);
    }

    // A send that has no connection is reported.
    RecordingSender refusing{{}, false};
    for (const bool hasSender : {false, true}) {
        DebugPanes::instance().clear();
        diag::DebugWindow window;
        if (hasSender)
            window.setSender(refusing.sender());
        window.sendBox()->setText(QStringLiteral("JOIN #a"));
        window.sendLine();
        EXPECT_EQ(DebugPanes::instance().text(Pane::Status),
                  QStringLiteral("send() error (custom cmd) - SOCKET_ERROR\r\n"))
            << "with sender: " << hasSender;
        EXPECT_EQ(window.sendBox()->text(), QStringLiteral("JOIN #a"));
    }
    EXPECT_EQ(refusing.sent, QList<QByteArray>{"JOIN #a\r\n"});
}

TEST(ServerLogWindow, AppendsEachLineDecodedDropsTheOldestAndClearButtonAndEscapeEmptyIt)
{
    diag::ServerLogWindow window;
    EXPECT_FALSE(window.isVisible());
    EXPECT_EQ(window.windowTitle(), QStringLiteral("Server"));
    EXPECT_TRUE(window.view()->isReadOnly());
    EXPECT_EQ(window.clearButton()->text(), QStringLiteral("Clear Window"));
    window.appendLine(":irc.x 001 bob :Welcome");
    window.appendLine("caf\xc3\xa9");
    window.appendLine("caf\xe9");
    EXPECT_EQ(window.view()->toPlainText(),
              QString::fromUtf8(":irc.x 001 bob :Welcome\ncaf\xc3\xa9\ncaf\xc3\xa9"));

    constexpr int kMax = diag::ServerLogWindow::kMaxLines;
    for (int i = 3; i < kMax + 5; ++i)
        window.appendLine("line " + QByteArray::number(i));
    const QTextDocument* document = window.view()->document();
    EXPECT_EQ(document->blockCount(), kMax);
    EXPECT_EQ(document->firstBlock().text(), QStringLiteral("line 5"));
    EXPECT_EQ(document->lastBlock().text(), QStringLiteral("line %1").arg(kMax + 4));

    window.show();
    window.clearButton()->click();
    EXPECT_TRUE(window.view()->toPlainText().isEmpty());
    window.appendLine("two");
    QTest::keyClick(&window, Qt::Key_Escape);
    EXPECT_TRUE(window.view()->toPlainText().isEmpty());
    EXPECT_TRUE(window.isVisible());
    window.appendLine("three");
    EXPECT_TRUE(window.close()); // the close box only hides
    EXPECT_FALSE(window.isVisible());
    EXPECT_EQ(window.view()->toPlainText(), QStringLiteral("three"));
}

// Escape clears the log, so a keyboard user had no way to put the window away.
TEST(ServerLogWindow, TheCloseButtonAndCtrlWHideItKeepingTheLogAndItsControlsFitItsSize)
{
    for (const bool button : {true, false}) {
        SCOPED_TRACE(button ? "Close" : "Ctrl+W");
        diag::ServerLogWindow window;
        window.show();
        window.activateWindow();
        ASSERT_TRUE(test::waitFor([&] { return QApplication::activeWindow() == &window; }));
        window.appendLine("kept");
        if (button) {
            ASSERT_NE(window.closeButton(), nullptr);
            EXPECT_EQ(window.closeButton()->text(), QStringLiteral("Close"));
            window.closeButton()->click();
        } else {
            QTest::keySequence(&window, QKeySequence::Close);
        }
        EXPECT_FALSE(window.isVisible());
        EXPECT_EQ(window.view()->toPlainText(), QStringLiteral("kept"));
    }

    // The controls are laid out for the window size.
    diag::ServerLogWindow window;
    window.show();
    // At a width of 30 or a height of 60 the controls would have no room, so they stay put.
    for (const QSize size : {QSize(400, 300), QSize(30, 300), QSize(300, 60)}) {
        window.resize(size);
        const QWidget* view = window.view();
        ASSERT_TRUE(test::waitFor([&] {
            return window.size() == size && view->geometry() == QRect(15, 10, 370, 230);
        })) << "window "
            << window.width() << "x" << window.height() << ", view at " << view->x() << ","
            << view->y() << " " << view->width() << "x" << view->height();
        EXPECT_EQ(window.clearButton()->geometry(), QRect(15, 250, 370, 20));
    }
}

TEST(RawDataWindow, SendsTheTextWithCrLfLineBreaks)
{
    const struct
    {
        QString text;
        bool appendNewline;
        QByteArray expected;
    } cases[] = {
        {QStringLiteral("JOIN #a"), false, "JOIN #a"},
        {QStringLiteral("JOIN #a"), true, "JOIN #a\r\n"},
        {QStringLiteral("NICK bob\nUSER b 0 * :B"), false, "NICK bob\r\nUSER b 0 * :B"},
        {QStringLiteral("NICK bob\nUSER b 0 * :B\n"), true, "NICK bob\r\nUSER b 0 * :B\r\n\r\n"},
        {QString::fromUtf8("PRIVMSG #a :\xe2\x82\xac"), false, "PRIVMSG #a :\xe2\x82\xac"},
        {QString(), true, "\r\n"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.expected.toStdString());
        RecordingSender recorder;
        diag::RawDataWindow window;
        window.setSender(recorder.sender());
        window.dataEdit()->setPlainText(c.text);
        window.appendNewline()->setChecked(c.appendNewline);
        button(&window, QStringLiteral("Send"))->click();
        EXPECT_EQ(recorder.sent, QList<QByteArray>{c.expected});
        EXPECT_EQ(window.dataEdit()->toPlainText(), c.text);
    }
}

TEST(RawDataWindow, StartsHiddenWithItsControlsAndHoldsAtMostTheLimit)
{
    constexpr int kMax = diag::RawDataWindow::kMaxChars;
    diag::RawDataWindow window;
    EXPECT_FALSE(window.isVisible());
    EXPECT_EQ(window.windowTitle(), QStringLiteral("Send Raw Data To Server"));
    EXPECT_EQ(window.appendNewline()->text(), QStringLiteral("Append newline to end of data"));
    EXPECT_FALSE(window.appendNewline()->isChecked());
    ASSERT_TRUE(button(&window, QStringLiteral("Close")));
    EXPECT_TRUE(button(&window, QStringLiteral("Close"))->isDefault());
    // Without a sender, Send does nothing.
    window.dataEdit()->setPlainText(QStringLiteral("JOIN #a"));
    window.sendData();
    EXPECT_EQ(window.dataEdit()->toPlainText(), QStringLiteral("JOIN #a"));
    window.show();
    button(&window, QStringLiteral("Close"))->click();
    EXPECT_FALSE(window.isVisible());
    window.show();
    EXPECT_TRUE(window.close());
    EXPECT_FALSE(window.isVisible());

    QPlainTextEdit* edit = window.dataEdit();

    edit->setPlainText(QString(5000, QLatin1Char('x')));
    EXPECT_EQ(edit->toPlainText(), QString(kMax, QLatin1Char('x')));

    edit->setPlainText(QString(kMax - 1, QLatin1Char('a')));
    edit->moveCursor(QTextCursor::End);
    edit->insertPlainText(QStringLiteral("bcd"));
    EXPECT_EQ(edit->toPlainText(), QString(kMax - 1, QLatin1Char('a')) + QLatin1Char('b'));

    // Line breaks count as one character each, as they do in the text that is sent.
    edit->setPlainText(QString(kMax + 10, QLatin1Char('\n')));
    EXPECT_EQ(edit->toPlainText(), QString(kMax, QLatin1Char('\n')));

    RecordingSender recorder;
    window.setSender(recorder.sender());
    edit->setPlainText(QString(5000, QLatin1Char('y')));
    window.sendData();
    EXPECT_EQ(recorder.sent, QList<QByteArray>{QByteArray(kMax, 'y')});
}

} // namespace
