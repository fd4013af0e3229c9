// The real message boxes, offscreen: what a stray keystroke answers, and how hostile text shows.
#include "config/prompter.h"
#include "tests/support/wait_for.h"
#include "tests/support/when_shown.h"

#include <QAbstractButton>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>
#include <QTest>
#include <QTimer>
#include <gtest/gtest.h>

#include <functional>
#include <memory>

namespace {

// A nick or file name from the network: as markup it would make Qt read a file.
const QString kHostile = "<img src=\"/etc/passwd\"><b>bob</b>";

void expectPlainText(QMessageBox& box)
{
    for (const QLabel* label : box.findChildren<QLabel*>()) {
        if (label->text().isEmpty())
            continue; // the icon
        EXPECT_EQ(label->textFormat(), Qt::PlainText) << label->text().toStdString();
    }
}

// Answers the next question once its box shows. A question is not modal, so it is found among
// the windows; whatever else shows up fails the test instead of hanging it.
void whenAsked(std::function<void(QMessageBox&)> answer)
{
    QTimer::singleShot(0, qApp, [answer] {
        for (QWidget* top : QApplication::topLevelWidgets()) {
            auto* box = qobject_cast<QMessageBox*>(top);
            if (box && box->isVisible()) {
                answer(*box);
                return;
            }
        }
        ADD_FAILURE() << "no question shown";
        if (auto* other = qobject_cast<QDialog*>(QApplication::activeModalWidget()))
            other->done(QDialog::Rejected);
    });
}

// Whether the box is still waiting for an answer a moment after `key`.
bool staysOpenAfter(QMessageBox& box, int key)
{
    QWidget* target = box.focusWidget() ? box.focusWidget() : &box;
    QTest::keyClick(target, Qt::Key(key));
    // A mnemonic presses its button after a short animation: long enough to see it.
    return !test::waitFor([&] { return !box.isVisible(); }, 300);
}

} // namespace

// QMessageBox::question made Yes the default, so that an Enter meant for another window
// accepted a stranger's offer; a "y" typed into the box pressed Yes by its mnemonic.
TEST(WidgetPrompter, NoKeystrokeAnswersAQuestionYes)
{
    config::WidgetPrompter prompter;
    const struct
    {
        const char* what;
        int key;
        bool closes; // with No
    } cases[] = {
        {"Enter", Qt::Key_Return, true}, {"keypad Enter", Qt::Key_Enter, true},
        {"Space", Qt::Key_Space, true},  {"Escape", Qt::Key_Escape, true},
        {"y", Qt::Key_Y, false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        bool shown = false;
        whenAsked([&](QMessageBox& box) {
            shown = true;
            EXPECT_EQ(static_cast<QAbstractButton*>(box.defaultButton()),
                      box.button(QMessageBox::No));
            EXPECT_EQ(box.escapeButton(), box.button(QMessageBox::No));
            // The window manager is asked to leave the keyboard where it is.
            EXPECT_TRUE(box.testAttribute(Qt::WA_ShowWithoutActivating));
            EXPECT_EQ(staysOpenAfter(box, c.key), !c.closes);
            if (box.isVisible())
                box.button(QMessageBox::No)->click();
        });
        EXPECT_FALSE(prompter.ask(nullptr, {"Accept File?", "a file", "Address: 1.2.3.4"}));
        EXPECT_TRUE(shown);
    }
}

// A modal box blocked typing in every other window, and a window manager handed it the keyboard:
// the user's next letters answered it. The question waits beside the other windows instead, and
// counts once the user turns to it.
TEST(WidgetPrompter, AQuestionLeavesTheOtherWindowsTakingInput)
{
    config::WidgetPrompter prompter;
    QLineEdit elsewhere;
    elsewhere.show();
    bool shown = false;
    whenAsked([&](QMessageBox& box) {
        shown = true;
        EXPECT_EQ(box.windowModality(), Qt::NonModal);
        EXPECT_EQ(QApplication::activeModalWidget(), nullptr);
        EXPECT_TRUE(box.testAttribute(Qt::WA_ShowWithoutActivating));
        ASSERT_NE(box.windowHandle(), nullptr);
        // What Qt reads to map the box with _NET_WM_USER_TIME 0 on X11.
        EXPECT_TRUE(box.windowHandle()->property("_q_showWithoutActivating").toBool());
        QTest::keyClicks(&elsewhere, "no thanks");
        EXPECT_EQ(elsewhere.text(), "no thanks");
        EXPECT_TRUE(box.isVisible());
        box.button(QMessageBox::Yes)->click();
    });
    EXPECT_TRUE(prompter.ask(&elsewhere, {"Accept File?", "a file", {}}));
    EXPECT_TRUE(shown);
}

// Now that the user can close other windows while a question waits, the window it was asked over
// may go first: the question is then answered No, and nothing is freed twice.
TEST(WidgetPrompter, AQuestionWhoseWindowClosesIsAnsweredNo)
{
    config::WidgetPrompter prompter;
    auto owner = std::make_unique<QWidget>();
    owner->show();
    whenAsked([&](QMessageBox&) { owner.reset(); });
    EXPECT_FALSE(prompter.ask(owner.get(), {"Accept File?", "a file", {}}));
    EXPECT_EQ(owner, nullptr);
}

// The boxes read their texts as markup when they looked like it.
TEST(WidgetPrompter, EveryBoxShowsItsTextsAsTheyAre)
{
    config::WidgetPrompter prompter;
    whenAsked([](QMessageBox& box) {
        EXPECT_EQ(box.text(), kHostile);
        EXPECT_EQ(box.informativeText(), "Address of " + kHostile);
        expectPlainText(box);
        box.button(QMessageBox::No)->click();
    });
    prompter.ask(nullptr, {"Accept File?", kHostile, "Address of " + kHostile});

    whenAsked([](QMessageBox& box) {
        EXPECT_EQ(box.text(), kHostile);
        EXPECT_EQ(static_cast<QAbstractButton*>(box.defaultButton()), box.button(QMessageBox::No));
        expectPlainText(box);
        box.button(QMessageBox::No)->click();
    });
    EXPECT_FALSE(prompter.askWarning(nullptr, "Trust?", kHostile));

    test::whenShown<QMessageBox>([](QMessageBox& box) {
        EXPECT_EQ(box.text(), kHostile);
        expectPlainText(box);
        box.button(QMessageBox::Ok)->click();
    });
    prompter.showError(nullptr, "Error", kHostile);

    // A notice is a plain box with one button.
    test::whenShown<QMessageBox>([](QMessageBox& box) {
        EXPECT_EQ(box.windowTitle(), "Voice Chat Already Open");
        EXPECT_EQ(box.text(), kHostile);
        EXPECT_EQ(box.textFormat(), Qt::PlainText);
        EXPECT_EQ(box.icon(), QMessageBox::NoIcon);
        EXPECT_EQ(box.buttons().size(), 1);
        expectPlainText(box);
        box.done(QMessageBox::Ok);
    });
    prompter.showNotice(nullptr, "Voice Chat Already Open", kHostile);
}
