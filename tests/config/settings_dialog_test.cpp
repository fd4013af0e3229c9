// "Options" on real widgets against a temporary store, with a scripted prompter answering its
// boxes and the server editor answered the way a user would answer it.
#include "config/server_editor.h"
#include "config/settings_dialog.h"
#include "config/store.h"
#include "tests/config/unwritable_store.h"
#include "tests/support/scripted_prompter.h"
#include "tests/support/temp_store.h"
#include "tests/support/when_shown.h"

#include <QCheckBox>
#include <QGroupBox>
#include <QLineEdit>
#include <QPushButton>
#include <QTreeWidget>
#include <gtest/gtest.h>

#include <functional>
#include <vector>

namespace {

using config::Settings;
using config::SettingsDialog;
using test::Box;
using test::labelFor;
using test::ScriptedPrompter;
using test::whenShown;

const Box kNick{"Nick Field",
                "You left your nickname blank.  Please fill it in and press OK again."};
const Box kRealName{"Real Name Field",
                    "You left your real name blank.  Please fill it in and press OK again."};
const Box kEmail{"E-Mail Field",
                 "You left your e-mail blank.  Please fill it in and press OK again."};
const Box kNoAway{"No Away Message",
                  "You cannot set the away message option without actually entering an away "
                  "message.  Please type a message and press OK again."};

Settings stored()
{
    Settings s;
    s.nick = "stored";
    s.altnick = "stored_";
    s.realname = "Stored Name";
    s.email = "stored@example.org";
    s.away = "out";
    s.awayset = true;
    s.queryip = true;
    s.notify = false; // of the two flags that are on when missing
    return s;
}

QString groupOf(const QWidget* widget)
{
    const auto* group = qobject_cast<const QGroupBox*>(widget->parentWidget());
    return group ? group->title() : QString();
}

void fill(SettingsDialog& dialog, const Settings& s)
{
    dialog.nickEdit()->setText(QString::fromUtf8(s.nick));
    dialog.altnickEdit()->setText(QString::fromUtf8(s.altnick));
    dialog.realnameEdit()->setText(QString::fromUtf8(s.realname));
    dialog.emailEdit()->setText(QString::fromUtf8(s.email));
    dialog.awayEdit()->setText(QString::fromUtf8(s.away));
    dialog.awaysetBox()->setChecked(s.awayset);
    dialog.autoconnectBox()->setChecked(s.autoconnect);
    dialog.queryipBox()->setChecked(s.queryip);
    dialog.loggingBox()->setChecked(s.logging);
    dialog.fastsendBox()->setChecked(s.fastsend);
    dialog.reconnectBox()->setChecked(s.reconnect);
    dialog.notifyBox()->setChecked(s.notify);
}

Settings shown(const SettingsDialog& dialog)
{
    Settings s;
    s.nick = dialog.nickEdit()->text().toUtf8();
    s.altnick = dialog.altnickEdit()->text().toUtf8();
    s.realname = dialog.realnameEdit()->text().toUtf8();
    s.email = dialog.emailEdit()->text().toUtf8();
    s.away = dialog.awayEdit()->text().toUtf8();
    s.awayset = dialog.awaysetBox()->isChecked();
    s.autoconnect = dialog.autoconnectBox()->isChecked();
    s.queryip = dialog.queryipBox()->isChecked();
    s.logging = dialog.loggingBox()->isChecked();
    s.fastsend = dialog.fastsendBox()->isChecked();
    s.reconnect = dialog.reconnectBox()->isChecked();
    s.notify = dialog.notifyBox()->isChecked();
    return s;
}

class SettingsDialogTest : public ::testing::Test
{
protected:
    void SetUp() override { ASSERT_TRUE(temp.store().SaveSettings(stored())); }

    test::TempStore temp;
    ScriptedPrompter prompter;
};

TEST_F(SettingsDialogTest, ShowsItsFieldsInTheirGroupsWithTheStoredSettings)
{
    SettingsDialog dialog(temp.store(), prompter);
    dialog.show();
    EXPECT_EQ(dialog.windowTitle(), "Options");
    EXPECT_TRUE(dialog.isModal());
    EXPECT_EQ(shown(dialog), stored());

    const struct
    {
        const QWidget* field;
        const char* label;
        const char* group;
    } fields[] = {
        {dialog.nickEdit(), "Your Nick:", "Personal Settings"},
        {dialog.altnickEdit(), "Alternate Nick:", "Personal Settings"},
        {dialog.realnameEdit(), "Real Name:", "Personal Settings"},
        {dialog.emailEdit(), "E-Mail Address:", "Personal Settings"},
        {dialog.awayEdit(), "Message:", "Away Message"},
        {dialog.serverpassEdit(), "Server Password:", "Servers"},
    };
    for (const auto& f : fields) {
        SCOPED_TRACE(f.label);
        EXPECT_EQ(labelFor(dialog, f.field), f.label);
        EXPECT_EQ(groupOf(f.field), f.group);
    }
    const struct
    {
        const QAbstractButton* button;
        const char* text;
        const char* group;
    } buttons[] = {
        {dialog.editServersButton(), "Edit Servers", "Servers"},
        {dialog.awaysetBox(), "Set Away Status", "Away Message"},
        {dialog.autoconnectBox(), "Connect on startup", "General Settings"},
        {dialog.queryipBox(), "Query IRC server for IP (usually for networks)", "General Settings"},
        {dialog.loggingBox(), "Enable logging", "General Settings"},
        {dialog.fastsendBox(), "Fast file sending", "General Settings"},
        {dialog.reconnectBox(), "Reconnect automatically", "General Settings"},
        {dialog.notifyBox(), "Show desktop notifications", "General Settings"},
        {dialog.okButton(), "OK", ""},
        {dialog.cancelButton(), "Cancel", ""},
    };
    for (const auto& b : buttons) {
        SCOPED_TRACE(b.text);
        EXPECT_EQ(b.button->text(), b.text);
        EXPECT_EQ(groupOf(b.button), b.group);
    }
}

TEST_F(SettingsDialogTest, OkShowsABoxForEachBlankFieldInOrderAndSavesNothing)
{
    const struct
    {
        const char* name;
        std::function<void(Settings&)> change;
        std::vector<Box> boxes;
    } cases[] = {
        {"nick", [](Settings& s) { s.nick.clear(); }, {kNick}},
        {"alternate nick", [](Settings& s) { s.altnick.clear(); }, {kNick}},
        {"real name and e-mail",
         [](Settings& s) {
             s.realname.clear();
             s.email.clear();
         },
         {kRealName, kEmail}},
        {"away set without a message", [](Settings& s) { s.away.clear(); }, {kNoAway}},
        {"everything",
         [](Settings& s) {
             s = Settings();
             s.awayset = true;
         },
         {kNick, kNick, kRealName, kEmail, kNoAway}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        ScriptedPrompter script;
        SettingsDialog dialog(temp.store(), script);
        dialog.show();
        Settings entered = stored();
        entered.logging = true; // a change that must not be saved either
        c.change(entered);
        fill(dialog, entered);
        dialog.okButton()->click();
        EXPECT_EQ(script.errors, c.boxes);
        EXPECT_TRUE(dialog.isVisible());
        EXPECT_NE(dialog.result(), QDialog::Accepted);
        EXPECT_EQ(shown(dialog), entered); // the input stays for correction
        EXPECT_EQ(temp.store().LoadSettings(), stored());
    }
}

TEST_F(SettingsDialogTest, OkSavesEveryFieldWithFlagsAsOneByte)
{
    Settings on;
    on.nick = "nick";
    on.altnick = "nick_";
    on.realname = "Real Name";
    on.email = "me@example.org";
    on.away = "lunch";
    on.awayset = on.autoconnect = on.queryip = on.logging = on.fastsend = true;
    Settings off = on;
    off.away.clear();
    off.awayset = off.autoconnect = off.queryip = off.logging = off.fastsend = false;
    off.reconnect = off.notify = false;

    for (const Settings& entered : {on, off}) {
        SCOPED_TRACE(entered.awayset ? "flags on" : "flags off");
        ScriptedPrompter script;
        SettingsDialog dialog(temp.store(), script);
        dialog.show();
        fill(dialog, entered);
        dialog.okButton()->click();
        EXPECT_TRUE(script.errors.empty());
        EXPECT_FALSE(dialog.isVisible());
        EXPECT_EQ(dialog.result(), QDialog::Accepted);
        EXPECT_EQ(temp.store().LoadSettings(), entered);
        const QByteArray flag(1, entered.awayset ? '\x01' : '\x00');
        for (const char* name : {"awayset", "autoconnect", "queryip", "logging", "fastsend"})
            EXPECT_EQ(temp.registry().readValue(config::kKeyRoot, name), flag) << name;
    }
}

TEST_F(SettingsDialogTest, LongTextIsCutToWholeCharactersThatStillFitTheField)
{
    // 200 two-byte characters pass the 255-character edit but not the 255-byte field, and a
    // stored text that does not fit would read back as missing.
    const QString longName(200, QChar(0xE9));
    SettingsDialog dialog(temp.store(), prompter);
    dialog.show();
    dialog.realnameEdit()->setText(longName);
    dialog.okButton()->click();
    ASSERT_EQ(dialog.result(), QDialog::Accepted);
    EXPECT_EQ(temp.store().LoadSettings().realname, QString(127, QChar(0xE9)).toUtf8());
}

TEST_F(SettingsDialogTest, EditServersThenShowsTheStoredSettingsAgainAndCancelSavesNothing)
{
    ASSERT_TRUE(temp.store().AddServer({"irc.example.org", "Example", 6667}));
    SettingsDialog dialog(temp.store(), prompter);
    dialog.show();
    Settings changed = stored();
    changed.nick = "unsaved";
    changed.awayset = false;
    changed.fastsend = true;
    fill(dialog, changed);

    int editorRows = -1;
    whenShown<config::ServerEditor>([&](config::ServerEditor& editor) {
        editorRows = editor.list()->topLevelItemCount();
        editor.okButton()->click();
    });
    dialog.editServersButton()->click();
    EXPECT_EQ(editorRows, 1);
    EXPECT_EQ(shown(dialog), stored());
    EXPECT_TRUE(dialog.isVisible());
    EXPECT_EQ(temp.store().LoadSettings(), stored());

    fill(dialog, Settings());
    dialog.cancelButton()->click();
    EXPECT_FALSE(dialog.isVisible());
    EXPECT_EQ(dialog.result(), QDialog::Rejected);
    EXPECT_TRUE(prompter.errors.empty());
    EXPECT_EQ(temp.store().LoadSettings(), stored());
}

// The field belonged to every server at once, so an account's password went to all of them.
TEST_F(SettingsDialogTest, ServerPasswordFieldEditsTheCurrentEntrysOnly)
{
    {
        SettingsDialog empty(temp.store(), prompter);
        EXPECT_FALSE(empty.serverpassEdit()->isEnabled()); // no entry to hold it
    }
    const config::ServerEntry first{"irc.example.org", "Example", 6667};
    const config::ServerEntry second{"backup.example.org", "Example", 6667};
    ASSERT_TRUE(temp.store().AddServer(first));
    ASSERT_TRUE(temp.store().AddServer(second));
    ASSERT_TRUE(temp.store().setServerPassword(first, "first pw"));

    SettingsDialog dialog(temp.store(), prompter, 1);
    dialog.show();
    EXPECT_TRUE(dialog.serverpassEdit()->isEnabled());
    EXPECT_EQ(dialog.serverpassEdit()->text(), "");
    dialog.serverpassEdit()->setText("alice:second pw");
    dialog.okButton()->click();
    ASSERT_EQ(dialog.result(), QDialog::Accepted);
    EXPECT_EQ(temp.store().serverPassword(second), "alice:second pw");
    EXPECT_EQ(temp.store().serverPassword(first), "first pw");

    // Past the end of the list (a pass that just ended), the first entry is the current one.
    SettingsDialog past(temp.store(), prompter, 2);
    EXPECT_EQ(past.serverpassEdit()->text(), "first pw");
    past.serverpassEdit()->clear();
    past.okButton()->click();
    EXPECT_EQ(temp.store().serverPassword(first), "");
    EXPECT_EQ(temp.store().serverPassword(second), "alice:second pw");
}

TEST(SettingsDialog, AStoreThatCannotBeWrittenShowsWhyAndStaysOpen)
{
    test::ReadOnlyStore readOnly;
    ASSERT_TRUE(readOnly.registry.isReadOnly());
    ScriptedPrompter prompter;
    SettingsDialog dialog(readOnly.store, prompter);
    dialog.show();
    dialog.emailEdit()->setText("new@example.org");
    dialog.okButton()->click();
    EXPECT_EQ(prompter.errors, (std::vector<Box>{{"Error", readOnly.saveFailed()}}));
    EXPECT_TRUE(dialog.isVisible());
    EXPECT_NE(dialog.result(), QDialog::Accepted);
    test::expectSeed(readOnly.store);
}

} // namespace
