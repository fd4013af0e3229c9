// "Add New Server", "Edit Servers" and "Connect to Server" on real widgets against a temporary
// store, with a scripted prompter answering their boxes.
#include "config/connect_dialog.h"
#include "config/errors.h"
#include "config/registry.h"
#include "config/server_editor.h"
#include "config/store.h"
#include "tests/config/unwritable_store.h"
#include "tests/support/scripted_prompter.h"
#include "tests/support/temp_store.h"
#include "tests/support/when_shown.h"

#include <QApplication>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <QTest>
#include <QTimer>
#include <QTreeWidget>
#include <gtest/gtest.h>

#include <functional>
#include <optional>
#include <vector>

namespace {

using config::AddServerDialog;
using config::ConnectDialog;
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

TEST(AddServerDialog, ShowsItsFieldsWithTheDefaultPort)
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

    dialog.portEdit()->clear();
    QTest::keyClicks(dialog.portEdit(), "7-0a0 0");
    EXPECT_EQ(dialog.portEdit()->text(), "7000");
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
    void select(ServerEditor& editor, int row)
    {
        editor.list()->topLevelItem(row)->setSelected(true);
    }

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
}

TEST_F(ServerEditorTest, AddsWhatTheAddServerDialogAccepts)
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
    EXPECT_TRUE(prompter.errors.empty());
}

TEST_F(ServerEditorTest, RemoveNeedsASelection)
{
    ASSERT_TRUE(temp.store().AddServer({"irc.example.org", "", 6667}));
    ServerEditor editor(temp.store(), prompter);
    editor.removeButton()->click();
    EXPECT_EQ(prompter.errors, std::vector<Box>{kNoSelection});
    EXPECT_EQ(temp.store().EnumServers().size(), 1u);
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

    for (int row : {3, 2, 0}) {
        SCOPED_TRACE(row);
        ServerEditor editor(temp.store(), prompter);
        std::vector<ServerEntry> expected = temp.store().EnumServers();
        const ServerEntry gone = expected[size_t(row)];
        expected.erase(expected.begin() + row);
        select(editor, row);
        editor.removeButton()->click();
        EXPECT_EQ(temp.store().EnumServers(), expected);
        EXPECT_EQ(rows(editor).size(), int(expected.size()));
        EXPECT_FALSE(rows(editor).contains(QString::fromUtf8(gone.address) + '|'
                                           + QString::fromUtf8(gone.network) + '|'
                                           + QString::number(gone.port)));
    }
    EXPECT_EQ(temp.store().EnumServers(), (std::vector<ServerEntry>{servers[1]}));
    EXPECT_TRUE(prompter.errors.empty());
}

TEST_F(ServerEditorTest, ClosesOnlyThroughOk)
{
    ServerEditor editor(temp.store(), prompter);
    editor.show();
    QTest::keyClick(&editor, Qt::Key_Escape);
    editor.close();
    EXPECT_TRUE(editor.isVisible());
    editor.okButton()->click();
    EXPECT_FALSE(editor.isVisible());
}

TEST(ServerEditor, AStoreThatCannotBeWrittenShowsWhyAndLosesNothing)
{
    for (const bool add : {true, false}) {
        SCOPED_TRACE(add ? "add" : "remove");
        test::StoreFolder folder;
        const QString path = folder.path();
        test::seedStore(path);
        ASSERT_TRUE(test::makeReadOnly(path));
        test::PermissionBitsApply permissionBits;
        config::Registry registry(path);
        ASSERT_TRUE(registry.isReadOnly());
        config::Store store(registry);

        ScriptedPrompter prompter;
        ServerEditor editor(store, prompter);
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
        EXPECT_EQ(
            prompter.errors,
            (std::vector<Box>{{"Error", config::errorText(config::Error::SaveFailed, path)}}));
        EXPECT_EQ(rows(editor).size(), int(test::seed().servers.size()));
        test::expectSeed(store);
    }
}

class ConnectDialogTest : public ::testing::Test
{
protected:
    // Records the requests in the order they come, as "disconnect" and "connect <index>".
    void record(ConnectDialog& dialog)
    {
        QObject::connect(&dialog, &ConnectDialog::disconnectRequested, &dialog,
                         [this] { requests << "disconnect"; });
        QObject::connect(&dialog, &ConnectDialog::connectRequested, &dialog,
                         [this](int index) { requests << QString("connect %1").arg(index); });
    }
    void add(const std::vector<ServerEntry>& servers)
    {
        for (const ServerEntry& server : servers)
            ASSERT_TRUE(temp.store().AddServer(server));
    }

    test::TempStore temp;
    QStringList requests;
};

TEST_F(ConnectDialogTest, ShowsEachServerWithItsNetworkWhenItHasOne)
{
    add({{"irc.example.org", "Example", 6697}, {"10.0.0.2", "", 6667}});
    ConnectDialog dialog(temp.store());
    dialog.show();
    EXPECT_EQ(dialog.windowTitle(), "Connect to Server");
    QStringList texts;
    for (int i = 0; i < dialog.list()->count(); ++i)
        texts << dialog.list()->item(i)->text();
    EXPECT_EQ(texts, (QStringList{"irc.example.org:6697 on Example", "10.0.0.2:6667"}));
    const auto buttons = dialog.findChildren<QPushButton*>();
    ASSERT_EQ(buttons.size(), 1); // no Cancel
    EXPECT_EQ(buttons.front()->text(), "Connect");
}

TEST_F(ConnectDialogTest, ConnectsToTheSelectedEntryAmongThoseSharingItsAddress)
{
    add({{"irc.example.org", "Example", 6667},
         {"irc.other.org", "", 6667},
         {"irc.example.org", "Example", 7000}});
    for (int row : {0, 2, 1}) {
        SCOPED_TRACE(row);
        requests.clear();
        ConnectDialog dialog(temp.store());
        record(dialog);
        dialog.show();
        dialog.list()->item(row)->setSelected(true);
        dialog.connectButton()->click();
        EXPECT_EQ(requests, (QStringList{"disconnect", QString("connect %1").arg(row)}));
        EXPECT_FALSE(dialog.isVisible());
    }
}

TEST_F(ConnectDialogTest, ADoubleClickConnects)
{
    add({{"irc.example.org", "", 6667}, {"irc.example.org", "", 6697}});
    ConnectDialog dialog(temp.store());
    record(dialog);
    dialog.show();
    const QRect row = dialog.list()->visualItemRect(dialog.list()->item(1));
    // As a user's: the first click of the two, then the double click.
    QTest::mouseClick(dialog.list()->viewport(), Qt::LeftButton, {}, row.center());
    QTest::mouseDClick(dialog.list()->viewport(), Qt::LeftButton, {}, row.center());
    EXPECT_EQ(requests, (QStringList{"disconnect", "connect 1"}));
    EXPECT_FALSE(dialog.isVisible());
}

TEST_F(ConnectDialogTest, WithNothingSelectedOnlyDisconnectsAndStaysOpen)
{
    add({{"irc.example.org", "", 6667}});
    ConnectDialog dialog(temp.store());
    record(dialog);
    dialog.show();
    dialog.connectButton()->click();
    EXPECT_EQ(requests, QStringList{"disconnect"});
    EXPECT_TRUE(dialog.isVisible());
}

TEST_F(ConnectDialogTest, WithNoServersStoredRequestsNothing)
{
    ConnectDialog dialog(temp.store());
    record(dialog);
    dialog.show();
    dialog.connectButton()->click();
    EXPECT_TRUE(requests.isEmpty());
    EXPECT_TRUE(dialog.isVisible());
}

TEST_F(ConnectDialogTest, RequestsThePlaceTheEntryHasInTheStoreWhenConnecting)
{
    add({{"irc.first.org", "", 6667}, {"irc.second.org", "", 6667}});
    ConnectDialog dialog(temp.store());
    record(dialog);
    dialog.show();
    dialog.list()->item(1)->setSelected(true);
    ASSERT_TRUE(temp.store().RemoveServer({"irc.first.org", "", 6667}));
    dialog.connectButton()->click();
    EXPECT_EQ(requests, (QStringList{"disconnect", "connect 0"}));
}

// Without a Cancel button, a dialog that Escape cannot close holds the keyboard user captive.
TEST_F(ConnectDialogTest, EscapeAndTheCloseBoxCloseItRequestingNothing)
{
    add({{"irc.example.org", "", 6667}});
    for (const bool escape : {true, false}) {
        SCOPED_TRACE(escape ? "Escape" : "close box");
        ConnectDialog dialog(temp.store());
        record(dialog);
        dialog.show();
        dialog.list()->item(0)->setSelected(true);
        if (escape)
            QTest::keyClick(dialog.list(), Qt::Key_Escape);
        else
            dialog.close();
        EXPECT_FALSE(dialog.isVisible());
        EXPECT_EQ(dialog.result(), QDialog::Rejected);
        EXPECT_TRUE(requests.isEmpty());
    }
}

} // namespace
