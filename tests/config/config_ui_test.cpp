// The contact editor, the input dialog and the selected-row helper, on real widgets with a
// scripted prompter standing in for the boxes the user would answer.
#include "config/contact_editor.h"
#include "config/contact_name.h"
#include "config/errors.h"
#include "config/input_dialog.h"
#include "config/prompter.h"
#include "config/selected_text.h"
#include "tests/config/unwritable_store.h"
#include "tests/support/scripted_prompter.h"
#include "tests/support/temp_store.h"

#include <QCoreApplication>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <QTest>
#include <gtest/gtest.h>

#include <functional>
#include <optional>

namespace {

using config::InputRequest;

using test::Box;
using test::ScriptedPrompter;

const Box kNoSelection{"Error", "You didn't select a contact from the list"};

class ContactEditorTest : public ::testing::Test
{
protected:
    QStringList shown(config::ContactEditor& editor)
    {
        // Refreshes are posted; let them arrive.
        QCoreApplication::processEvents();
        QStringList rows;
        for (int i = 0; i < editor.list()->count(); ++i)
            rows << editor.list()->item(i)->text();
        return rows;
    }
    void select(config::ContactEditor& editor, const QString& name)
    {
        const auto items = editor.list()->findItems(name, Qt::MatchExactly);
        ASSERT_EQ(items.size(), 1);
        items.front()->setSelected(true);
    }

    test::TempStore temp;
    ScriptedPrompter prompter;
};

TEST_F(ContactEditorTest, ShowsTheStoredContactsInOrderAndAddsWhatTheUserEnters)
{
    {
        config::ContactEditor empty(temp.store(), prompter);
        EXPECT_EQ(empty.windowTitle(), "Edit Contacts");
        EXPECT_TRUE(shown(empty).isEmpty());
    }
    temp.store().AddContact("zed");
    temp.store().AddContact("amy");
    config::ContactEditor editor(temp.store(), prompter);
    EXPECT_EQ(shown(editor), (QStringList{"zed", "amy"}));
    prompter.inputs = {QString("bob")};
    editor.addButton()->click();
    ASSERT_EQ(prompter.requests.size(), 1u);
    EXPECT_EQ(prompter.requests[0].title, "Add New Contact");
    EXPECT_EQ(prompter.requests[0].prompt,
              "Please type the name of the contact you wish to add below:");
    EXPECT_TRUE(prompter.requests[0].text.isEmpty());
    EXPECT_FALSE(prompter.requests[0].showBrowse);
    EXPECT_EQ(shown(editor), (QStringList{"zed", "amy", "bob"}));

    editor.addButton()->click(); // cancelled
    EXPECT_EQ(temp.store().EnumContacts(), (QList<QByteArray>{"zed", "amy", "bob"}));
}

TEST_F(ContactEditorTest, RenameLeavesExactlyOneContactUnderTheNewNameAndRemoveAsksNothing)
{
    temp.store().AddContact("old");
    temp.store().AddContact("keep");
    config::ContactEditor editor(temp.store(), prompter);
    select(editor, "old");
    prompter.inputs = {QString("new")};
    editor.renameButton()->click();
    ASSERT_EQ(prompter.requests.size(), 1u);
    EXPECT_EQ(prompter.requests[0].title, "Edit Contact");
    EXPECT_EQ(prompter.requests[0].prompt,
              "Please type the new name of the contact you wish to edit below:");
    EXPECT_EQ(prompter.requests[0].text, "old");
    EXPECT_EQ(shown(editor), (QStringList{"keep", "new"}));

    select(editor, "new");
    editor.renameButton()->click(); // cancelled: the name stays
    EXPECT_EQ(shown(editor), (QStringList{"keep", "new"}));

    select(editor, "keep");
    editor.removeButton()->click();
    EXPECT_EQ(shown(editor), QStringList{"new"});
    EXPECT_EQ(prompter.requests.size(), 2u);
    EXPECT_TRUE(prompter.errors.empty());
}

TEST_F(ContactEditorTest, RenameAndRemoveNeedASelectionAndOnlyOkCloses)
{
    temp.store().AddContact("amy");
    config::ContactEditor editor(temp.store(), prompter);
    editor.renameButton()->click();
    editor.removeButton()->click();
    EXPECT_EQ(prompter.errors, (std::vector<Box>{kNoSelection, kNoSelection}));
    EXPECT_TRUE(prompter.requests.empty());
    EXPECT_EQ(temp.store().EnumContacts(), QList<QByteArray>{"amy"});

    // It closes only through OK.
    editor.show();
    QTest::keyClick(&editor, Qt::Key_Escape);
    editor.close();
    EXPECT_TRUE(editor.isVisible());
    editor.okButton()->click();
    EXPECT_FALSE(editor.isVisible());
    EXPECT_EQ(editor.result(), QDialog::Accepted);
}

TEST_F(ContactEditorTest, RefusesNamesThatCouldNeverShowAndAsksAgain)
{
    struct Case
    {
        QString refused;
        const char* message;
    };
    const Case cases[] = {
        {"abcdefghij", config::kNameTooLong},
        {QString::fromUtf8("\xc3\xa4\xc3\xa4\xc3\xa4\xc3\xa4\xc3\xa4"), config::kNameTooLong},
        {"a b", config::kNameHasBadCharacters},
        {"a,b", config::kNameHasBadCharacters},
        {"*", config::kNameHasBadCharacters},
        {"who?", config::kNameHasBadCharacters},
        {"n!u", config::kNameHasBadCharacters},
        {"a@b", config::kNameHasBadCharacters},
        {"tab\there", config::kNameHasBadCharacters},
        {QString("nul") + QChar(0) + "x", config::kNameHasBadCharacters},
        {"del\x7f", config::kNameHasBadCharacters},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.refused.toStdString());
        test::TempStore fresh;
        ScriptedPrompter script;
        config::ContactEditor editor(fresh.store(), script);
        script.inputs = {c.refused, QString("fixed")};
        editor.addButton()->click();
        ASSERT_EQ(script.errors.size(), 1u);
        EXPECT_EQ(script.errors[0], (Box{"Error", c.message}));
        ASSERT_EQ(script.requests.size(), 2u);
        EXPECT_EQ(script.requests[1].text, c.refused); // offered again for correction
        EXPECT_EQ(fresh.store().EnumContacts(), QList<QByteArray>{"fixed"});
    }
    for (const char* nick : {"a", "bob", "[away]", "nine_char", "x-y^z`{}|"})
        EXPECT_FALSE(config::contactNameError(nick)) << nick;
}

TEST_F(ContactEditorTest, EditTheStoreRefusesShowsABoxAndLosesNothing)
{
    const auto add = [](config::ContactEditor& editor) { editor.addButton()->click(); };
    const auto rename = [this](config::ContactEditor& editor) {
        select(editor, "bob");
        editor.renameButton()->click();
    };
    const auto remove = [this](config::ContactEditor& editor) {
        select(editor, "bob");
        editor.removeButton()->click();
    };
    // A full database still has room for a removal, which frees some.
    const struct
    {
        const char* name;
        bool full;
        std::function<void(config::ContactEditor&)> edit;
    } cases[] = {
        {"add to a read-only store", false, add},
        {"rename in a read-only store", false, rename},
        {"remove from a read-only store", false, remove},
        {"add to a full store", true, add},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        test::StoreFolder folder;
        const QString path = folder.path();
        test::seedStore(path);
        std::optional<test::FullDatabases> fullDatabases;
        if (c.full) {
            fullDatabases.emplace();
            config::Registry filling(path);
            config::Store store(filling);
            for (int i = 0; store.AddContact("f" + QByteArray::number(i)); ++i)
                ASSERT_LT(i, 1000) << "the database never filled up";
        } else {
            ASSERT_TRUE(test::makeReadOnly(path));
        }
        test::PermissionBitsApply permissionBits;
        config::Registry registry(path);
        ASSERT_EQ(registry.isReadOnly(), !c.full);
        config::Store store(registry);
        const QList<QByteArray> stored = store.EnumContacts();
        ASSERT_EQ(stored.mid(0, 3), test::seed().contacts);

        ScriptedPrompter script;
        script.inputs = {QString("dave")};
        config::ContactEditor editor(store, script);
        c.edit(editor);
        EXPECT_EQ(
            script.errors,
            (std::vector<Box>{{"Error", config::errorText(config::Error::SaveFailed, path)}}));
        EXPECT_EQ(store.EnumContacts(), stored);
        QStringList expected;
        for (const QByteArray& nick : stored)
            expected << QString::fromUtf8(nick);
        EXPECT_EQ(shown(editor), expected);
    }
}

TEST_F(ContactEditorTest, RefusesA257thContactThatWouldBeStoredButNeverShown)
{
    for (int i = 0; i < config::kMaxContacts; ++i)
        ASSERT_TRUE(temp.store().AddContact("c" + QByteArray::number(i)));
    config::ContactEditor editor(temp.store(), prompter);
    const Box full{"Error", config::contactListFullText()};

    prompter.inputs = {QString("extra")};
    editor.addButton()->click();
    EXPECT_EQ(prompter.errors, std::vector<Box>{full});
    EXPECT_TRUE(prompter.requests.empty()); // refused before any name is typed
    EXPECT_EQ(temp.registry().values(config::kKeyContacts).size(), size_t(config::kMaxContacts));

    // With a place free the name is asked for, but another copy of the program takes the place
    // while it is typed: the name is refused all the same.
    ASSERT_TRUE(temp.store().RemoveContact("c0"));
    struct RacingPrompter : ScriptedPrompter
    {
        config::Store* store = nullptr;
        std::optional<QString> getInput(QWidget* owner, const InputRequest& request) override
        {
            store->AddContact("other");
            return ScriptedPrompter::getInput(owner, request);
        }
    } racing;
    racing.store = &temp.store();
    racing.inputs = {QString("extra")};
    config::ContactEditor raced(temp.store(), racing);
    raced.addButton()->click();
    EXPECT_EQ(racing.requests.size(), 1u);
    EXPECT_EQ(racing.errors, std::vector<Box>{full});
    EXPECT_EQ(temp.registry().values(config::kKeyContacts).size(), size_t(config::kMaxContacts));
    EXPECT_FALSE(shown(raced).contains("extra"));
}

// The prompt of "Set key..." names the nick, which comes from the network: it is shown as written.
TEST(InputDialog, TakesTitlePromptAsPlainTextAndTextFromTheRequestAndCancelGivesNothing)
{
    ScriptedPrompter prompter;
    const QString prompt = "The key you share with <b>bob</b><img src=x> (\"cbc:\" before it):";
    config::InputDialog dialog({prompt, "Some Title", "initial", false}, prompter);
    dialog.show();
    EXPECT_EQ(dialog.windowTitle(), "Some Title");
    auto* label = dialog.findChild<QLabel*>();
    ASSERT_NE(label, nullptr);
    EXPECT_EQ(label->textFormat(), Qt::PlainText);
    EXPECT_EQ(label->text(), prompt);
    EXPECT_EQ(dialog.edit()->text(), "initial");
    EXPECT_EQ(dialog.edit()->maxLength(), 255);
    EXPECT_FALSE(dialog.browseButton()->isVisible());
    dialog.cancelButton()->click();
    EXPECT_EQ(dialog.result(), QDialog::Rejected);
    EXPECT_TRUE(prompter.errors.empty());
}

// "Save Incoming File" was as narrow as its prompt, so the proposed path showed only its start;
// and the box held 255 characters, so a longer destination was cut, and the file saved under the
// cut name.
TEST(InputDialog, APathBoxIsWideEnoughForThePathItProposesAndTakesItWhole)
{
    ScriptedPrompter prompter;
    const QString path = "/home/u/Downloads/" + QString(300, 'p');
    config::InputDialog given({"p", "t", path, true}, prompter);
    EXPECT_EQ(given.text(), path);
    config::InputDialog typed({"p", "t", "", true, config::kPathTextLimit}, prompter);
    typed.show();
    QTest::keyClicks(typed.edit(), path);
    EXPECT_EQ(typed.text(), path);

    const struct
    {
        QString text;
        int atLeast; // 0: as wide as the text
    } cases[] = {
        {"/home/u/Downloads/a.txt", config::InputDialog::kPathBoxWidth},
        {"/home/u/Downloads/" + QString(40, 'p') + ".tar.gz", 0},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.text.toStdString());
        config::InputDialog dialog({"p", "t", c.text, true, config::kPathTextLimit}, prompter);
        dialog.show();
        const int textWidth = dialog.edit()->fontMetrics().horizontalAdvance(c.text);
        EXPECT_GE(dialog.edit()->width(), c.atLeast ? c.atLeast : textWidth);
        EXPECT_GE(dialog.edit()->width(), config::InputDialog::kPathBoxWidth);
    }
    // Any other answer keeps the box it had.
    config::InputDialog nick({"p", "t", "carol", false}, prompter);
    nick.show();
    EXPECT_LT(nick.edit()->width(), config::InputDialog::kPathBoxWidth);
}

TEST(InputDialog, BrowsePutsTheChosenPathIntoTheBoxAndAnEmptyBoxIsRefused)
{
    ScriptedPrompter prompter;
    config::InputDialog dialog({"p", "t", "offered.txt", true}, prompter);
    dialog.show();
    ASSERT_TRUE(dialog.browseButton()->isVisible());
    dialog.browseButton()->click(); // cancelled: the text stays
    EXPECT_EQ(dialog.edit()->text(), "offered.txt");
    prompter.browseResult = "/home/u/Downloads/file.bin";
    dialog.browseButton()->click();
    EXPECT_EQ(dialog.edit()->text(), "/home/u/Downloads/file.bin");

    dialog.edit()->clear();
    dialog.okButton()->click();
    EXPECT_TRUE(dialog.isVisible());
    EXPECT_EQ(prompter.errors, (std::vector<Box>{{"Error", "You didn't enter anything"}}));
    QTest::keyClicks(dialog.edit(), "carol");
    dialog.okButton()->click();
    EXPECT_FALSE(dialog.isVisible());
    EXPECT_EQ(dialog.result(), QDialog::Accepted);
    EXPECT_EQ(dialog.text(), "carol");
}

TEST(GetSelectedListText, CutsTheFirstSelectedRowToTheBuffer)
{
    QListWidget list;
    EXPECT_FALSE(config::GetSelectedListText(list, 10));
    list.addItems({"first", "a-much-longer-name"});
    EXPECT_FALSE(config::GetSelectedListText(list, 10));
    list.setSelectionMode(QAbstractItemView::MultiSelection);
    list.item(1)->setSelected(true);
    EXPECT_EQ(config::GetSelectedListText(list, 10), QString("a-much-lo"));
    list.item(0)->setSelected(true);
    EXPECT_EQ(config::GetSelectedListText(list, 10), QString("first"));
}

} // namespace
