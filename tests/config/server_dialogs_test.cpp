// "Add New Server" and "Edit Servers" on real widgets against a temporary store, with a scripted
// prompter answering their boxes.
#include "config/registry.h"
#include "config/server_editor.h"
#include "config/store.h"
#include "tests/config/unwritable_store.h"
#include "tests/support/scripted_prompter.h"
#include "tests/support/temp_store.h"
#include "tests/support/when_shown.h"

#include <QCheckBox>
#include <QLineEdit>
#include <QPushButton>
#include <QTest>
#include <QTreeWidget>
#include <gtest/gtest.h>

#include <optional>
#include <vector>

namespace {

using config::AddServerDialog;
using config::ServerEditor;
using config::ServerEntry;
using test::Box;
using test::labelFor;
using test::ScriptedPrompter;
using test::whenShown;

const Box kNoAddress{"Blank Field", "You must fill in the server address field."};
const Box kNoPort{"Blank Field", "You must fill in the server port field."};
const Box kZeroPort{"Blank Field", "The port field cannot be zero.  Enter an interger greater "
                                   "than 0.  The default value is 6667."};
const Box kNoSelection{"Error", "You didn't select a server from the list"};

QStringList storedNames(test::TempStore& temp)
{
    QStringList names;
    for (const config::Registry::Value& value : temp.registry().values(config::kKeyServers))
        names << QString::fromUtf8(value.name);
    return names;
}

// Each row as "address|network|port", after the posted refreshes arrived.
QStringList rows(ServerEditor& editor)
{
    QCoreApplication::processEvents();
    QStringList rows;
    for (int i = 0; i < editor.list()->topLevelItemCount(); ++i) {
        const QTreeWidgetItem* row = editor.list()->topLevelItem(i);
        rows << row->text(0) + '|' + row->text(1) + '|' + row->text(2);
    }
    return rows;
}

TEST(AddServerDialog, ShowsItsFieldsWithTheDefaultPortWhichUseTlsMovesOnlyWhenUsual)
{
    ScriptedPrompter prompter;
    AddServerDialog dialog(prompter);
    dialog.show();
    EXPECT_EQ(dialog.windowTitle(), "Add New Server");
    EXPECT_EQ(labelFor(dialog, dialog.addressEdit()), "Server Address:");
    EXPECT_EQ(labelFor(dialog, dialog.networkEdit()), "Network (optional):");
    EXPECT_EQ(labelFor(dialog, dialog.portEdit()), "Port:");
    EXPECT_EQ(dialog.portEdit()->text(), "6667");
    EXPECT_EQ(dialog.okButton()->text(), "OK");
    EXPECT_EQ(dialog.cancelButton()->text(), "Cancel");

    ASSERT_NE(dialog.tlsBox(), nullptr);
    EXPECT_EQ(dialog.tlsBox()->text(), "Use TLS");
    EXPECT_FALSE(dialog.tlsBox()->isChecked());
    dialog.tlsBox()->setChecked(true);
    EXPECT_EQ(dialog.portEdit()->text(), "6697");
    dialog.tlsBox()->setChecked(false);
    EXPECT_EQ(dialog.portEdit()->text(), "6667");
    // A port the user chose is not the box's to change.
    dialog.portEdit()->setText("7000");
    dialog.tlsBox()->setChecked(true);
    EXPECT_EQ(dialog.portEdit()->text(), "7000");
    // The port takes digits alone.
    dialog.portEdit()->clear();
    QTest::keyClicks(dialog.portEdit(), "7-0a0 1");
    EXPECT_EQ(dialog.portEdit()->text(), "7001");
}

TEST(AddServerDialog, OkChecksTheFieldsAndTakesAnyPortAboveZero)
{
    const struct
    {
        const char* address;
        const char* network;
        const char* port;
        std::optional<Box> box; // nothing: accepted
    } cases[] = {
        {"", "Net", "6667", kNoAddress},
        {"irc.example.org", "", "", kNoPort},
        {"irc.example.org", "", "0", kZeroPort},
        {"irc.example.org", "", "000", kZeroPort},
        // Beyond what the entry can hold is no port at all, not a wrapped-around one.
        {"irc.example.org", "", "4294967297", kNoPort},
        {"irc.example.org", "", "6667", std::nullopt},
        {"irc.example.org", "Net", "70000", std::nullopt},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(testing::Message() << c.address << " " << c.network << " " << c.port);
        ScriptedPrompter prompter;
        AddServerDialog dialog(prompter);
        dialog.show();
        dialog.addressEdit()->setText(c.address);
        dialog.networkEdit()->setText(c.network);
        dialog.portEdit()->setText(c.port);
        dialog.okButton()->click();
        if (c.box) {
            EXPECT_EQ(prompter.errors, std::vector<Box>{*c.box});
            EXPECT_TRUE(dialog.isVisible());
            EXPECT_NE(dialog.result(), QDialog::Accepted);
        } else {
            EXPECT_TRUE(prompter.errors.empty());
            EXPECT_FALSE(dialog.isVisible());
            EXPECT_EQ(dialog.result(), QDialog::Accepted);
            EXPECT_EQ(dialog.server(),
                      (ServerEntry{c.address, c.network, QByteArray(c.port).toInt()}));
        }
    }
}

TEST(AddServerDialog, CancelAndTheCloseBoxCheckNothing)
{
    for (const bool closeBox : {false, true}) {
        SCOPED_TRACE(closeBox ? "close box" : "Cancel");
        ScriptedPrompter prompter;
        AddServerDialog dialog(prompter);
        dialog.show();
        dialog.portEdit()->clear();
        if (closeBox)
            dialog.close();
        else
            dialog.cancelButton()->click();
        EXPECT_FALSE(dialog.isVisible());
        EXPECT_EQ(dialog.result(), QDialog::Rejected);
        EXPECT_TRUE(prompter.errors.empty());
    }
}

class ServerEditorTest : public ::testing::Test
{
protected:
    test::TempStore temp;
    ScriptedPrompter prompter;
};

TEST_F(ServerEditorTest, ShowsThreeColumnsAndARowPerStoredServer)
{
    ASSERT_TRUE(temp.store().AddServer({"irc.example.org", "Example", 6697}));
    ASSERT_TRUE(temp.store().AddServer({"10.0.0.2", "", 6667}));
    ServerEditor editor(temp.store(), prompter);
    editor.show();
    EXPECT_EQ(editor.windowTitle(), "Edit Servers");
    const QTreeWidgetItem* header = editor.list()->headerItem();
    ASSERT_EQ(editor.list()->columnCount(), 3);
    for (int column = 0; column < 3; ++column) {
        EXPECT_EQ(header->text(column), (QStringList{"Server Name", "Network", "Port"}[column]));
        EXPECT_EQ(editor.list()->columnWidth(column), 115);
    }
    EXPECT_EQ(editor.addButton()->text(), "Add...");
    EXPECT_EQ(editor.removeButton()->text(), "Remove...");
    EXPECT_EQ(editor.okButton()->text(), "OK");
    EXPECT_EQ(rows(editor), (QStringList{"irc.example.org|Example|6697", "10.0.0.2||6667"}));

    // It closes only through OK.
    QTest::keyClick(&editor, Qt::Key_Escape);
    editor.close();
    EXPECT_TRUE(editor.isVisible());
    editor.okButton()->click();
    EXPECT_FALSE(editor.isVisible());
}

TEST_F(ServerEditorTest, AddsWhatTheAddServerDialogAcceptsAndMarksTls)
{
    ServerEditor editor(temp.store(), prompter);
    editor.show();
    whenShown<AddServerDialog>([](AddServerDialog& dialog) {
        dialog.addressEdit()->setText("irc.example.org");
        dialog.networkEdit()->setText("Example");
        dialog.portEdit()->setText("70000");
        dialog.okButton()->click();
    });
    editor.addButton()->click();
    EXPECT_EQ(rows(editor), QStringList{"irc.example.org|Example|70000"});

    whenShown<AddServerDialog>([](AddServerDialog& dialog) {
        dialog.addressEdit()->setText("irc.other.org");
        dialog.cancelButton()->click();
    });
    editor.addButton()->click();
    EXPECT_EQ(rows(editor), QStringList{"irc.example.org|Example|70000"});
    EXPECT_EQ(temp.store().EnumServers(),
              (std::vector<ServerEntry>{{"irc.example.org", "Example", 70000}}));

    // "Use TLS" is the '+' before the port in the store, and "(TLS)" after it in the list.
    whenShown<AddServerDialog>([](AddServerDialog& dialog) {
        dialog.addressEdit()->setText("irc.example.net");
        dialog.tlsBox()->setChecked(true);
        dialog.okButton()->click();
    });
    editor.addButton()->click();
    EXPECT_EQ(rows(editor),
              (QStringList{"irc.example.org|Example|70000", "irc.example.net||6697 (TLS)"}));
    EXPECT_EQ(storedNames(temp), (QStringList{"irc.example.org:70000", "irc.example.net:+6697"}));
    editor.list()->topLevelItem(1)->setSelected(true);
    editor.removeButton()->click();
    EXPECT_EQ(storedNames(temp), QStringList{"irc.example.org:70000"});
    EXPECT_TRUE(prompter.errors.empty());
}

TEST_F(ServerEditorTest, RemovesExactlyTheSelectedEntry)
{
    // Names compare without case in the store, so one stored in capitals goes too.
    ASSERT_TRUE(temp.registry().writeValue(config::kKeyServers, "IRC.Upper.org:6667", "Up"));
    const std::vector<ServerEntry> servers = {
        {"irc.upper.org", "Up", 6667},
        {"irc.example.org", "Example", 6667},
        {"irc.example.org", "Example", 7000},
        {"irc.example.org", "", 2147483647}, // a port whose text is longer than 9 characters
    };
    for (size_t i = 1; i < servers.size(); ++i)
        ASSERT_TRUE(temp.store().AddServer(servers[i]));
    ASSERT_EQ(temp.store().EnumServers(), servers);
    ServerEditor(temp.store(), prompter).removeButton()->click();
    EXPECT_EQ(prompter.errors, std::vector<Box>{kNoSelection});
    EXPECT_EQ(temp.store().EnumServers(), servers);

    for (int row : {3, 2, 0}) {
        SCOPED_TRACE(row);
        ServerEditor editor(temp.store(), prompter);
        std::vector<ServerEntry> expected = temp.store().EnumServers();
        const ServerEntry gone = expected[size_t(row)];
        expected.erase(expected.begin() + row);
        editor.list()->topLevelItem(row)->setSelected(true);
        editor.removeButton()->click();
        EXPECT_EQ(temp.store().EnumServers(), expected);
        EXPECT_EQ(rows(editor).size(), int(expected.size()));
        EXPECT_FALSE(rows(editor).contains(QString::fromUtf8(gone.address) + '|'
                                           + QString::fromUtf8(gone.network) + '|'
                                           + QString::number(gone.port)));
    }
    EXPECT_EQ(temp.store().EnumServers(), (std::vector<ServerEntry>{servers[1]}));
    EXPECT_EQ(prompter.errors.size(), 1u);
}

TEST(ServerEditor, AStoreThatCannotBeWrittenShowsWhyAndLosesNothing)
{
    for (const bool add : {true, false}) {
        SCOPED_TRACE(add ? "add" : "remove");
        test::ReadOnlyStore readOnly;
        ASSERT_TRUE(readOnly.registry.isReadOnly());
        ScriptedPrompter prompter;
        ServerEditor editor(readOnly.store, prompter);
        editor.show();
        if (add) {
            whenShown<AddServerDialog>([](AddServerDialog& dialog) {
                dialog.addressEdit()->setText("irc.new.org");
                dialog.okButton()->click();
            });
            editor.addButton()->click();
        } else {
            editor.list()->topLevelItem(0)->setSelected(true);
            editor.removeButton()->click();
        }
        EXPECT_EQ(prompter.errors, (std::vector<Box>{{"Error", readOnly.saveFailed()}}));
        EXPECT_EQ(rows(editor).size(), int(test::seed().servers.size()));
        test::expectSeed(readOnly.store);
    }
}

} // namespace
