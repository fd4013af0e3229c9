// The "Send a File" dialog on real widgets, with a scripted prompter answering its error box and
// file picker.
#include "config/send_file_dialog.h"
#include "tests/support/scripted_prompter.h"
#include "tests/support/when_shown.h"

#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTest>
#include <gtest/gtest.h>

#include <optional>
#include <vector>

namespace {

using config::FileToSend;
using config::SendFileDialog;
using test::Box;
using test::labelFor;
using test::ScriptedPrompter;

const Box kFillEachField{"Error", "You must fill in each field."};

TEST(SendFileDialog, ShowsItsTitleLabelsAndTheGivenNick)
{
    for (const QString& nick : {QString(), QStringLiteral("carol")}) {
        SCOPED_TRACE(nick.toStdString());
        ScriptedPrompter prompter;
        SendFileDialog dialog(nick, prompter);
        dialog.show();
        EXPECT_EQ(dialog.windowTitle(), "Send a File");
        EXPECT_TRUE(dialog.isModal());
        EXPECT_EQ(labelFor(dialog, dialog.nickEdit()), "Nickname to send to:");
        EXPECT_EQ(labelFor(dialog, dialog.pathEdit()), "File to send:");
        EXPECT_EQ(dialog.browseButton()->text(), "Browse...");
        EXPECT_EQ(dialog.okButton()->text(), "OK");
        EXPECT_EQ(dialog.cancelButton()->text(), "Cancel");
        EXPECT_EQ(dialog.nickEdit()->text(), nick);
        EXPECT_TRUE(dialog.pathEdit()->text().isEmpty());
    }
}

TEST(SendFileDialog, OkWithAnEmptyFieldShowsTheBoxAndStaysOpen)
{
    const struct
    {
        const char* nick;
        const char* path;
    } cases[] = {
        {"", ""},
        {"carol", ""},
        {"", "/home/u/notes.txt"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(testing::Message() << '"' << c.nick << "\" \"" << c.path << '"');
        ScriptedPrompter prompter;
        SendFileDialog dialog(c.nick, prompter);
        dialog.show();
        dialog.pathEdit()->setText(c.path);
        dialog.okButton()->click();
        EXPECT_TRUE(dialog.isVisible());
        EXPECT_EQ(dialog.result(), QDialog::Rejected);
        EXPECT_EQ(prompter.errors, std::vector<Box>{kFillEachField});
    }
}

// Servers take nicks far longer than nine characters; a nick cut short would send the file to
// somebody else.
TEST(SendFileDialog, OkWithBothFieldsClosesWithThemAndTheNickWhole)
{
    ScriptedPrompter prompter;
    SendFileDialog dialog("", prompter);
    dialog.show();
    QTest::keyClicks(dialog.nickEdit(), "abcdefghijklmnop");
    QTest::keyClicks(dialog.pathEdit(), "/tmp/a file.bin");
    dialog.okButton()->click();
    EXPECT_FALSE(dialog.isVisible());
    EXPECT_EQ(dialog.result(), QDialog::Accepted);
    EXPECT_EQ(dialog.fileToSend(), (FileToSend{"abcdefghijklmnop", "/tmp/a file.bin"}));
    EXPECT_TRUE(prompter.errors.empty());
    EXPECT_EQ(SendFileDialog("abcdefghijkl", prompter).nickEdit()->text(), "abcdefghijkl");
}

TEST(SendFileDialog, RefusedOkCanBeFixedAndAccepted)
{
    ScriptedPrompter prompter;
    SendFileDialog dialog("carol", prompter);
    dialog.show();
    dialog.okButton()->click();
    ASSERT_TRUE(dialog.isVisible());
    prompter.browseResult = "/home/u/photo.jpg";
    dialog.browseButton()->click();
    dialog.okButton()->click();
    EXPECT_EQ(dialog.result(), QDialog::Accepted);
    EXPECT_EQ(dialog.fileToSend(), (FileToSend{"carol", "/home/u/photo.jpg"}));
    EXPECT_EQ(prompter.errors, std::vector<Box>{kFillEachField});
}

TEST(SendFileDialog, BrowsePutsTheChosenPathIntoTheFileField)
{
    const QString longest = "/" + QString(300, 'p');
    const struct
    {
        std::optional<QString> chosen;
        QString shown;
    } cases[] = {
        {std::nullopt, "typed.txt"}, // cancelled: the field stays
        {"/home/u/Downloads/file.bin", "/home/u/Downloads/file.bin"},
        {longest, longest}, // whole, however long: a cut path names another file
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.chosen.value_or("<cancelled>").toStdString());
        ScriptedPrompter prompter;
        SendFileDialog dialog("carol", prompter);
        dialog.show();
        dialog.pathEdit()->setText("typed.txt");
        prompter.browseResult = c.chosen;
        dialog.browseButton()->click();
        EXPECT_EQ(dialog.pathEdit()->text(), c.shown);
        EXPECT_EQ(dialog.nickEdit()->text(), "carol");
        EXPECT_TRUE(dialog.isVisible());
    }
}

TEST(SendFileDialog, CancelAndEscapeGiveNothing)
{
    for (const bool escape : {false, true}) {
        SCOPED_TRACE(escape ? "Escape" : "Cancel");
        ScriptedPrompter prompter;
        SendFileDialog dialog("carol", prompter);
        dialog.show();
        dialog.pathEdit()->setText("/tmp/x");
        if (escape)
            QTest::keyClick(&dialog, Qt::Key_Escape);
        else
            dialog.cancelButton()->click();
        EXPECT_FALSE(dialog.isVisible());
        EXPECT_EQ(dialog.result(), QDialog::Rejected);
        EXPECT_TRUE(prompter.errors.empty());
    }
}

} // namespace
