// The "reconnect" and "notify" flags: on when missing from the store, and their Options boxes.
#include "config/registry.h"
#include "config/settings_dialog.h"
#include "config/store.h"
#include "tests/support/scripted_prompter.h"
#include "tests/support/temp_store.h"

#include <QCheckBox>
#include <QGroupBox>
#include <QPushButton>
#include <gtest/gtest.h>

using config::kKeyRoot;
using config::Settings;

namespace {

Settings filled()
{
    Settings s;
    s.nick = "nick";
    s.altnick = "nick_";
    s.realname = "Real Name";
    s.email = "me@example.org";
    return s;
}

} // namespace

TEST(NewFlags, MissingReadsAsOnAndAStoredZeroAsOff)
{
    test::TempStore temp;
    EXPECT_TRUE(temp.store().LoadSettings().reconnect);
    EXPECT_TRUE(temp.store().LoadSettings().notify);
    EXPECT_TRUE(Settings{}.reconnect);
    EXPECT_TRUE(Settings{}.notify);

    const struct
    {
        QByteArray stored;
        bool on;
    } cases[] = {{QByteArray(1, '\0'), false},
                 {"\x01", true},
                 {"", false},
                 {QByteArray(300, 'x'), true}}; // too long to fit: as if missing
    for (const auto& c : cases) {
        for (const char* name : {"reconnect", "notify"})
            temp.registry().writeValue(kKeyRoot, name, c.stored);
        const Settings s = temp.store().LoadSettings();
        EXPECT_EQ(s.reconnect, c.on) << c.stored.toHex().constData();
        EXPECT_EQ(s.notify, c.on) << c.stored.toHex().constData();
    }
}

TEST(NewFlags, OnIsSavedAsNoValueAndOffAsAZeroByte)
{
    test::TempStore temp;
    Settings s = filled();
    s.reconnect = false;
    s.notify = false;
    ASSERT_TRUE(temp.store().SaveSettings(s));
    EXPECT_EQ(temp.registry().readValue(kKeyRoot, "reconnect"), QByteArray(1, '\0'));
    EXPECT_EQ(temp.registry().readValue(kKeyRoot, "notify"), QByteArray(1, '\0'));
    EXPECT_EQ(temp.store().LoadSettings(), s);

    s.reconnect = true;
    ASSERT_TRUE(temp.store().SaveSettings(s));
    EXPECT_EQ(temp.registry().readValue(kKeyRoot, "reconnect"), std::nullopt);
    EXPECT_EQ(temp.store().LoadSettings(), s);
    s.notify = true;
    ASSERT_TRUE(temp.store().SaveSettings(s));
    EXPECT_EQ(temp.registry().readValue(kKeyRoot, "notify"), std::nullopt);
    EXPECT_EQ(temp.store().LoadSettings(), s);
}

TEST(NewFlags, OptionsShowAndSaveBothBoxes)
{
    test::TempStore temp;
    Settings s = filled();
    s.notify = false;
    ASSERT_TRUE(temp.store().SaveSettings(s));
    test::ScriptedPrompter prompter;
    config::SettingsDialog dialog(temp.store(), prompter);
    dialog.show();
    ASSERT_TRUE(dialog.reconnectBox());
    ASSERT_TRUE(dialog.notifyBox());
    EXPECT_EQ(dialog.reconnectBox()->text(), "Reconnect automatically");
    EXPECT_EQ(dialog.notifyBox()->text(), "Show desktop notifications");
    const auto* group = qobject_cast<const QGroupBox*>(dialog.notifyBox()->parentWidget());
    ASSERT_TRUE(group);
    EXPECT_EQ(group->title(), "General Settings");
    EXPECT_TRUE(dialog.reconnectBox()->isChecked());
    EXPECT_FALSE(dialog.notifyBox()->isChecked());

    dialog.reconnectBox()->setChecked(false);
    dialog.notifyBox()->setChecked(true);
    dialog.okButton()->click();
    ASSERT_EQ(dialog.result(), QDialog::Accepted);
    const Settings saved = temp.store().LoadSettings();
    EXPECT_FALSE(saved.reconnect);
    EXPECT_TRUE(saved.notify);
}
