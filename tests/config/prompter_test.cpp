// The real message boxes, offscreen: what a stray keystroke answers, and how hostile text shows.
#include "config/prompter.h"
#include "tests/support/wait_for.h"
#include "tests/support/when_shown.h"

#include <QAbstractButton>
#include <QLabel>
#include <QMessageBox>
#include <QPushButton>
#include <QTest>
#include <gtest/gtest.h>

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
        test::whenShown<QMessageBox>([&](QMessageBox& box) {
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

TEST(WidgetPrompter, YesIsAnsweredOnlyByTheButton)
{
    config::WidgetPrompter prompter;
    test::whenShown<QMessageBox>([](QMessageBox& box) { box.button(QMessageBox::Yes)->click(); });
    EXPECT_TRUE(prompter.ask(nullptr, {"Accept File?", "a file", {}}));
}

// The boxes read their texts as markup when they looked like it.
TEST(WidgetPrompter, EveryBoxShowsItsTextsAsTheyAre)
{
    config::WidgetPrompter prompter;
    test::whenShown<QMessageBox>([](QMessageBox& box) {
        EXPECT_EQ(box.text(), kHostile);
        EXPECT_EQ(box.informativeText(), "Address of " + kHostile);
        expectPlainText(box);
        box.button(QMessageBox::No)->click();
    });
    prompter.ask(nullptr, {"Accept File?", kHostile, "Address of " + kHostile});

    test::whenShown<QMessageBox>([](QMessageBox& box) {
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
