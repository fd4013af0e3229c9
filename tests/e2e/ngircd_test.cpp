// The real program against a real ngircd on loopback: it registers, learns its address from the
// WHO reply, and quits cleanly on SIGTERM.
#include "tests/support/ngircd.h"
#include "tests/support/wait_for.h"

#include <QDir>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>
#include <gtest/gtest.h>

using test::freePort;
using test::waitFor;

namespace {

void seedStore(const QString& seedScript, const QString& path, quint16 port)
{
    QProcess seed;
    seed.start("python3",
               {seedScript, path, "--nick", "e2ealice", "--realname", "E2E Alice", "--server",
                QStringLiteral("127.0.0.1:%1=Local").arg(port), "--autoconnect", "1"});
    ASSERT_TRUE(seed.waitForFinished(10000));
    ASSERT_EQ(seed.exitCode(), 0) << seed.readAllStandardError().toStdString();
}

} // namespace

using EndToEnd = test::NgircdTest;

TEST_F(EndToEnd, RegistersLearnsItsAddressAndQuitsCleanly)
{
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    seedStore(KIVVO_SOURCE_DIR "/tools/seed-store", dir.filePath("config/kivvo/registry.db"),
              server.port());

    QDir(dir.path()).mkpath("cwd");
    QProcess program;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert("XDG_CONFIG_HOME", dir.filePath("config"));
    env.insert("XDG_DATA_HOME", dir.filePath("data"));
    env.insert("QT_QPA_PLATFORM", "offscreen");
    env.insert("KIVVO_IDENT_PORT", QString::number(freePort()));
    program.setProcessEnvironment(env);
    program.setWorkingDirectory(dir.filePath("cwd"));
    program.setProcessChannelMode(QProcess::MergedChannels);
    program.start(KIVVO_BINARY, {"DEBUG"});
    ASSERT_TRUE(program.waitForStarted(5000));

    EXPECT_TRUE(waitFor([&] { return watcher.isOnline("e2ealice"); }, 15000));

    // The WHO reply for our own nick reaches the program and its dump.
    const QString dumpPath = dir.filePath("cwd/out.txt");
    EXPECT_TRUE(waitFor(
        [&] {
            QFile dump(dumpPath);
            return dump.open(QIODevice::ReadOnly) && dump.readAll().contains("\nCommand: 352\n");
        },
        10000));

    program.terminate(); // SIGTERM runs the normal close step
    ASSERT_TRUE(waitFor([&] { return program.state() == QProcess::NotRunning; }, 10000))
        << program.readAll().toStdString();
    EXPECT_EQ(program.exitStatus(), QProcess::NormalExit);
    EXPECT_EQ(program.exitCode(), 0) << program.readAll().toStdString();
    EXPECT_TRUE(waitFor([&] { return !watcher.isOnline("e2ealice"); }, 5000));
}
