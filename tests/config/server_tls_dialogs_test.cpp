// "Use TLS" in "Add New Server", and how the server dialogs show and name a secure server.
#include "config/connect_dialog.h"
#include "config/registry.h"
#include "config/server_editor.h"
#include "config/store.h"
#include "tests/support/scripted_prompter.h"
#include "tests/support/temp_store.h"
#include "tests/support/when_shown.h"

#include <QApplication>
#include <QCheckBox>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <QTreeWidget>
#include <gtest/gtest.h>

namespace {

using config::AddServerDialog;
using config::ConnectDialog;
using config::ServerEditor;
using config::ServerEntry;
using test::ScriptedPrompter;

QList<QByteArray> storedNames(test::TempStore& temp)
{
    QList<QByteArray> names;
    for (const config::Registry::Value& value : temp.registry().values(config::kKeyServers))
        names << value.name;
    return names;
}

ServerEntry secure(const QByteArray& address, const QByteArray& network, qint32 port)
{
    ServerEntry entry{address, network, port};
    entry.tls = true;
    return entry;
}

} // namespace

TEST(ServerTlsDialogs, UseTlsIsOffByDefaultAndMovesTheUsualPort)
{
    ScriptedPrompter prompter;
    AddServerDialog dialog(prompter);
    dialog.show();
    ASSERT_NE(dialog.tlsBox(), nullptr);
    EXPECT_EQ(dialog.tlsBox()->text(), "Use TLS");
    EXPECT_FALSE(dialog.tlsBox()->isChecked());
    EXPECT_EQ(dialog.portEdit()->text(), "6667");
    dialog.tlsBox()->setChecked(true);
    EXPECT_EQ(dialog.portEdit()->text(), "6697");
    dialog.tlsBox()->setChecked(false);
    EXPECT_EQ(dialog.portEdit()->text(), "6667");
    // A port the user chose is not the box's to change.
    dialog.portEdit()->setText("7000");
    dialog.tlsBox()->setChecked(true);
    EXPECT_EQ(dialog.portEdit()->text(), "7000");
}

TEST(ServerTlsDialogs, PlainServerIsAcceptedAsBefore)
{
    ScriptedPrompter prompter;
    AddServerDialog dialog(prompter);
    dialog.show();
    dialog.addressEdit()->setText("irc.example.net");
    dialog.okButton()->click();
    ASSERT_EQ(dialog.result(), QDialog::Accepted);
    EXPECT_EQ(dialog.server(), (ServerEntry{"irc.example.net", "", 6667}));
    EXPECT_FALSE(dialog.server().tls);
}

TEST(ServerTlsDialogs, UseTlsWritesThePlusAndTheEditorShowsAndRemovesIt)
{
    test::TempStore temp;
    ASSERT_TRUE(temp.store().AddServer({"plain.example.net", "Net", 6667}));
    ScriptedPrompter prompter;
    ServerEditor editor(temp.store(), prompter);
    editor.show();
    test::whenShown<AddServerDialog>([](AddServerDialog& dialog) {
        dialog.addressEdit()->setText("irc.example.net");
        dialog.networkEdit()->setText("Example");
        dialog.tlsBox()->setChecked(true);
        dialog.okButton()->click();
    });
    editor.addButton()->click();
    QCoreApplication::processEvents();
    EXPECT_TRUE(prompter.errors.empty());
    EXPECT_EQ(storedNames(temp),
              (QList<QByteArray>{"plain.example.net:6667", "irc.example.net:+6697"}));
    EXPECT_EQ(temp.store().EnumServers().back(), secure("irc.example.net", "Example", 6697));

    ASSERT_EQ(editor.list()->topLevelItemCount(), 2);
    EXPECT_EQ(editor.list()->topLevelItem(0)->text(2), "6667");
    EXPECT_EQ(editor.list()->topLevelItem(1)->text(2), "6697 (TLS)");

    editor.list()->topLevelItem(1)->setSelected(true);
    editor.removeButton()->click();
    QCoreApplication::processEvents();
    EXPECT_TRUE(prompter.errors.empty());
    EXPECT_EQ(storedNames(temp), (QList<QByteArray>{"plain.example.net:6667"}));
}

TEST(ServerTlsDialogs, ConnectDialogMarksSecureServersAndConnectsTheOneChosen)
{
    test::TempStore temp;
    // The same address and port, once plain and once over TLS: two entries to tell apart.
    ASSERT_TRUE(temp.store().AddServer({"irc.example.net", "Example", 6697}));
    ASSERT_TRUE(temp.store().AddServer(secure("irc.example.net", "Example", 6697)));
    ASSERT_TRUE(temp.store().AddServer(secure("10.0.0.2", "", 994)));
    ConnectDialog dialog(temp.store());
    dialog.show();
    QStringList texts;
    for (int i = 0; i < dialog.list()->count(); ++i)
        texts << dialog.list()->item(i)->text();
    EXPECT_EQ(texts, (QStringList{"irc.example.net:6697 on Example",
                                  "irc.example.net:6697 on Example (TLS)", "10.0.0.2:994 (TLS)"}));
    EXPECT_TRUE(dialog.list()->item(0)->toolTip().isEmpty());
    EXPECT_FALSE(dialog.list()->item(1)->toolTip().isEmpty());

    QList<int> requested;
    QObject::connect(&dialog, &ConnectDialog::connectRequested, &dialog,
                     [&](int index) { requested << index; });
    dialog.list()->item(1)->setSelected(true);
    dialog.connectButton()->click();
    EXPECT_EQ(requested, QList<int>{1});
}
