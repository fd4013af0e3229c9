// "Connect to Server" on real widgets against a temporary store: which entry it asks to
// connect, told apart from others sharing its address, port or both.
#include "config/connect_dialog.h"
#include "tests/support/temp_store.h"

#include <QApplication>
#include <QListWidget>
#include <QPushButton>
#include <QTest>
#include <gtest/gtest.h>

#include <vector>

namespace {

using config::ConnectDialog;
using config::ServerEntry;

ServerEntry secure(ServerEntry entry)
{
    entry.tls = true;
    return entry;
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

TEST_F(ConnectDialogTest, ShowsEachServerWithItsNetworkWhenItHasOneAndMarksTls)
{
    add({{"irc.example.org", "Example", 6697},
         {"10.0.0.2", "", 6667},
         secure({"irc.example.org", "Example", 6697}),
         secure({"10.0.0.2", "", 994})});
    ConnectDialog dialog(temp.store());
    dialog.show();
    EXPECT_EQ(dialog.windowTitle(), "Connect to Server");
    QStringList texts;
    for (int i = 0; i < dialog.list()->count(); ++i)
        texts << dialog.list()->item(i)->text();
    EXPECT_EQ(texts, (QStringList{"irc.example.org:6697 on Example", "10.0.0.2:6667",
                                  "irc.example.org:6697 on Example (TLS)", "10.0.0.2:994 (TLS)"}));
    EXPECT_TRUE(dialog.list()->item(0)->toolTip().isEmpty());
    EXPECT_FALSE(dialog.list()->item(2)->toolTip().isEmpty());
    const auto buttons = dialog.findChildren<QPushButton*>();
    ASSERT_EQ(buttons.size(), 1); // no Cancel
    EXPECT_EQ(buttons.front()->text(), "Connect");
}

TEST_F(ConnectDialogTest, ConnectsToTheSelectedEntryAmongThoseSharingItsAddress)
{
    // The same address and port, once plain and once over TLS, are two entries to tell apart.
    add({{"irc.example.org", "Example", 6667},
         {"irc.other.org", "", 6667},
         {"irc.example.org", "Example", 7000},
         secure({"irc.example.org", "Example", 6667})});
    for (int row : {0, 3, 2, 1}) {
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

// It opens on the server in use, selected and not only drawn so: Enter reconnects to it.
TEST_F(ConnectDialogTest, OpensWithTheServerInUseSelectedSoEnterReconnects)
{
    add({{"irc.first.org", "", 6667}, {"irc.second.org", "", 6667}});
    ConnectDialog dialog(temp.store(), 1);
    record(dialog);
    dialog.show();
    dialog.activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(&dialog));
    QTest::keyClick(QApplication::focusWidget(), Qt::Key_Return);
    EXPECT_EQ(requests, (QStringList{"disconnect", "connect 1"}));
    EXPECT_FALSE(dialog.isVisible());
}

TEST_F(ConnectDialogTest, WithNothingSelectedOnlyDisconnectsAndStaysOpen)
{
    for (const bool servers : {false, true}) {
        SCOPED_TRACE(servers ? "a server stored" : "no servers stored");
        if (servers)
            add({{"irc.example.org", "", 6667}});
        requests.clear();
        ConnectDialog dialog(temp.store());
        record(dialog);
        dialog.show();
        dialog.connectButton()->click();
        EXPECT_EQ(requests, servers ? QStringList{"disconnect"} : QStringList());
        EXPECT_TRUE(dialog.isVisible());
    }
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
