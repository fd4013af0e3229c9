// The demo's two programs as tools/seed-demo leaves them: a new user's first OK in Options saves,
// and each program keeps what it receives in a folder of its own.
#include "config/registry.h"
#include "config/settings_dialog.h"
#include "config/store.h"
#include "tests/support/scripted_prompter.h"

#include <QDir>
#include <QProcess>
#include <QPushButton>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <gtest/gtest.h>

namespace {

// The demo's folder for `nick` under `root`.
QString homeOf(const QTemporaryDir& root, const QString& nick)
{
    return root.filePath(nick);
}

// Options' first OK failed with "You left your e-mail blank", and the two programs saved what
// they received into one ~/Downloads, each replacing the other's file of the same name.
TEST(DemoStores, TheFirstOkInOptionsSavesAndEachProgramHasItsOwnDownloadFolder)
{
    QTemporaryDir root;
    QProcess seed;
    seed.start(QStringLiteral("bash"),
               {QStringLiteral(KIVVO_SOURCE_DIR "/tools/seed-demo"), root.path()});
    ASSERT_TRUE(seed.waitForFinished(30000));
    ASSERT_EQ(seed.exitCode(), 0) << seed.readAllStandardError().toStdString();

    const QByteArray configHome = qgetenv("XDG_CONFIG_HOME");
    QStringList downloads;
    for (const QString& nick : {QStringLiteral("alice"), QStringLiteral("bob")}) {
        SCOPED_TRACE(nick.toStdString());
        const QString home = homeOf(root, nick);
        {
            config::Registry registry(home + "/config/kivvo/registry.db");
            config::Store store(registry);
            test::ScriptedPrompter prompter;
            config::SettingsDialog dialog(store, prompter);
            dialog.show();
            dialog.okButton()->click();
            EXPECT_EQ(dialog.result(), QDialog::Accepted);
            EXPECT_EQ(prompter.errors, std::vector<test::Box>{});
            EXPECT_EQ(store.LoadSettings().nick, nick.toUtf8());
        }
        // Where received files go, as the program finds it with tools/run's XDG_CONFIG_HOME.
        qputenv("XDG_CONFIG_HOME", (home + "/config").toUtf8());
        downloads << QStandardPaths::writableLocation(QStandardPaths::DownloadLocation);
        EXPECT_EQ(downloads.back(), QDir(home).filePath("Downloads"));
        EXPECT_TRUE(QDir(downloads.back()).exists());
    }
    qputenv("XDG_CONFIG_HOME", configHome);
    EXPECT_NE(downloads.value(0), downloads.value(1));
}

} // namespace
