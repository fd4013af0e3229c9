// The "Send a File" dialog on real widgets, with a scripted prompter answering its error box and
// file picker.
#include "config/send_file_dialog.h"
#include "tests/support/env_guard.h"
#include "tests/support/scripted_prompter.h"
#include "tests/support/when_shown.h"

#include <QApplication>
#include <QDir>
#include <QFile>
#include <QFileDialog>
#include <QLineEdit>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>
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

// A file the dialog can open, in a folder of its own.
QString writtenFile(const QTemporaryDir& dir, const QString& name)
{
    QFile file(dir.filePath(name));
    if (!file.open(QIODevice::WriteOnly) || file.write("data") != 4)
        return {};
    return file.fileName();
}

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
    QTemporaryDir dir;
    const QString path = writtenFile(dir, "a file.bin");
    ASSERT_FALSE(path.isEmpty());
    ScriptedPrompter prompter;
    SendFileDialog dialog("", prompter);
    dialog.show();
    QTest::keyClicks(dialog.nickEdit(), "abcdefghijklmnop");
    QTest::keyClicks(dialog.pathEdit(), path);
    dialog.okButton()->click();
    EXPECT_FALSE(dialog.isVisible());
    EXPECT_EQ(dialog.result(), QDialog::Accepted);
    EXPECT_EQ(dialog.fileToSend(), (FileToSend{"abcdefghijklmnop", path}));
    EXPECT_TRUE(prompter.errors.empty());
    EXPECT_EQ(SendFileDialog("abcdefghijkl", prompter).nickEdit()->text(), "abcdefghijkl");
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

// A mistyped path closed the dialog, and the box that followed named no path: the user had to
// start over without seeing the typo.
TEST(SendFileDialog, APathThatNamesNoReadableFileKeepsTheDialogOpenAndIsNamed)
{
    QTemporaryDir dir;
    const QString good = writtenFile(dir, "notes.txt");
    QFile locked(writtenFile(dir, "locked.txt"));
    ASSERT_TRUE(locked.setPermissions(QFileDevice::WriteOwner));
    const QString cases[] = {
        dir.filePath("notse.txt"), // a typo
        dir.path(),                // a folder
        locked.fileName(),         // there, but not ours to read (root reads it anyway)
    };
    for (const QString& wrong : cases) {
        if (wrong == locked.fileName() && QFile(wrong).open(QIODevice::ReadOnly))
            continue;
        SCOPED_TRACE(wrong.toStdString());
        ScriptedPrompter prompter;
        SendFileDialog dialog("carol", prompter);
        dialog.show();
        dialog.pathEdit()->setText(wrong);
        dialog.okButton()->click();
        EXPECT_TRUE(dialog.isVisible());
        EXPECT_EQ(dialog.result(), QDialog::Rejected);
        EXPECT_EQ(prompter.errors,
                  (std::vector<Box>{{"Error", "Cannot open the file you specified:\n" + wrong}}));
        // Mended, it goes.
        dialog.pathEdit()->setText(good);
        dialog.okButton()->click();
        EXPECT_EQ(dialog.result(), QDialog::Accepted);
        EXPECT_EQ(dialog.fileToSend(), (FileToSend{"carol", good}));
    }
}

// The picker opened in the folder the program was started from (the build folder, in the demo).
TEST(SendFileDialog, BrowseStartsInTheHomeFolder)
{
    QTemporaryDir home;
    QTemporaryDir elsewhere;
    test::EnvGuard homeVariable("HOME", home.path().toUtf8());
    const QString oldDir = QDir::currentPath();
    QDir::setCurrent(elsewhere.path());
    QString openedIn;
    QTimer poll;
    poll.setInterval(10);
    QObject::connect(&poll, &QTimer::timeout, &poll, [&] {
        for (QWidget* top : QApplication::topLevelWidgets()) {
            auto* picker = qobject_cast<QFileDialog*>(top);
            if (picker && picker->isVisible()) {
                poll.stop();
                openedIn = picker->directory().absolutePath();
                picker->reject();
            }
        }
    });
    poll.start();
    config::WidgetPrompter prompter;
    const std::optional<QString> chosen = prompter.browseForFile(nullptr);
    QDir::setCurrent(oldDir);
    EXPECT_FALSE(chosen);
    EXPECT_EQ(openedIn, QDir(home.path()).absolutePath());
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
