// The sound module: the program starts without it and without Qt Multimedia, the first voice
// chat loads it, and a program that cannot load it says so in the voice window and goes on.
// This suite links neither, so what is mapped into it is what the program loaded.
#include "peer/voice/sound_module.h"
#include "peer/voice/voice_call.h"
#include "peer/voice/voice_chats.h"
#include "peer/voice/voice_window.h"
#include "tests/support/connected_program.h"
#include "tests/support/env_guard.h"
#include "tests/support/ngircd.h"

#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QPushButton>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTemporaryDir>

using app::Command;
using test::waitFor;

namespace {

constexpr char kMultimedia[] = "libQt6Multimedia.so";

// The files mapped into process `pid` ("self" for this one), one per line, as its memory map
// names them.
QByteArray mappedFiles(const QString& pid = QStringLiteral("self"))
{
    QFile maps(QStringLiteral("/proc/%1/maps").arg(pid));
    return maps.open(QIODevice::ReadOnly) ? maps.readAll() : QByteArray();
}

QByteArray moduleFile()
{
    return QFileInfo(QStringLiteral(KIVVO_SOUND_MODULE_PATH)).canonicalFilePath().toUtf8();
}

// Asks the program's ident responder once and waits for the answer: the program has started and
// its event loop runs.
bool identAnswers(quint16 port)
{
    QTcpSocket query;
    QByteArray reply;
    QObject::connect(&query, &QTcpSocket::connected, &query, [&] { query.write("1, 2\r\n"); });
    QObject::connect(&query, &QTcpSocket::readyRead, &query, [&] { reply += query.readAll(); });
    return waitFor(
        [&] {
            // Refused until the program listens.
            if (query.state() == QAbstractSocket::UnconnectedState)
                query.connectToHost(QHostAddress::LocalHost, port);
            return reply.endsWith("\r\n");
        },
        10000);
}

TEST(VoiceModule, TheProgramStartsWithoutQtMultimediaOrTheSoundModule)
{
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    // Offline, so that it reaches for nothing while it is looked at.
    QProcess seed;
    seed.start("python3", {KIVVO_SOURCE_DIR "/tools/seed-store",
                           dir.filePath("config/kivvo/registry.db"), "--autoconnect", "0"});
    ASSERT_TRUE(seed.waitForFinished(10000));
    ASSERT_EQ(seed.exitCode(), 0) << seed.readAllStandardError().toStdString();
    const quint16 identPort = test::freePort();
    QProcess program;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert("XDG_CONFIG_HOME", dir.filePath("config"));
    env.insert("XDG_DATA_HOME", dir.filePath("data"));
    env.insert("QT_QPA_PLATFORM", "offscreen");
    env.insert("KIVVO_IDENT_PORT", QString::number(identPort));
    env.remove("KIVVO_SOUND_MODULE");
    program.setProcessEnvironment(env);
    program.setWorkingDirectory(dir.path());
    program.setProcessChannelMode(QProcess::MergedChannels);
    program.start(KIVVO_BINARY, {});
    ASSERT_TRUE(program.waitForStarted(5000));

    ASSERT_TRUE(identAnswers(identPort)) << program.readAll().toStdString();
    const QByteArray mapped = mappedFiles(QString::number(program.processId()));
    EXPECT_TRUE(mapped.contains("libQt6Widgets.so")) << "the memory map was not read";
    EXPECT_FALSE(mapped.contains(kMultimedia)) << mapped.toStdString();
    EXPECT_FALSE(mapped.contains("kivvo-sound.so")) << mapped.toStdString();

    program.terminate();
    ASSERT_TRUE(waitFor([&] { return program.state() == QProcess::NotRunning; }, 10000));
    EXPECT_EQ(program.exitCode(), 0) << program.readAll().toStdString();
}

TEST(VoiceModule, TheProgramFindsItsModuleWhereTheEnvironmentSays)
{
    test::EnvGuard chosen("KIVVO_SOUND_MODULE", "/somewhere/else/kivvo-sound.so");
    EXPECT_EQ(peer::ModuleSoundSystem::modulePath(), "/somewhere/else/kivvo-sound.so");
    EXPECT_EQ(peer::ModuleSoundSystem().path(), "/somewhere/else/kivvo-sound.so");
    EXPECT_EQ(peer::ModuleSoundSystem("/given/kivvo-sound.so").path(), "/given/kivvo-sound.so");
    chosen.set(nullptr);
    EXPECT_TRUE(peer::ModuleSoundSystem::modulePath().endsWith("/kivvo-sound.so"));
}

class VoiceModuleProgram : public test::ConnectedProgramTest
{
protected:
    void start(const QString& modulePath)
    {
        sound = std::make_shared<peer::ModuleSoundSystem>(modulePath);
        test::CoreOptions options;
        options.contacts = {"bob"};
        options.sound = sound;
        connect(options);
        prompter = core->prompter;
        ASSERT_TRUE(showOnline({"bob"}));
    }
    peer::VoiceChats& voice() const { return core->program->voiceChats(); }
    QString status(int index = 0) const
    {
        return voice().count() > index ? voice().windowOf(voice().at(index))->statusText()
                                       : QStringLiteral("<none>");
    }

    std::shared_ptr<peer::ModuleSoundSystem> sound;
    test::ScriptedPrompter* prompter = nullptr;
};

TEST_F(VoiceModuleProgram, TheFirstVoiceChatLoadsTheModuleAndItsOfferGoesOut)
{
    ASSERT_NO_FATAL_FAILURE(start(QStringLiteral(KIVVO_SOUND_MODULE_PATH)));
    ASSERT_FALSE(moduleFile().isEmpty()) << "the build made no sound module";
    EXPECT_FALSE(sound->isLoaded());
    EXPECT_FALSE(mappedFiles().contains(kMultimedia)) << "loaded with the program";
    EXPECT_FALSE(mappedFiles().contains(moduleFile()));

    ASSERT_TRUE(core->program->commands().run(Command::VoiceChat, QByteArray("bob")));
    EXPECT_TRUE(sound->isLoaded());
    EXPECT_TRUE(mappedFiles().contains(moduleFile()));
    EXPECT_TRUE(mappedFiles().contains(kMultimedia));
    EXPECT_NE(offeredPort("bob", "VOICE 2130706433"), 0);
    ASSERT_EQ(voice().count(), 1);
    EXPECT_EQ(status(), "Connecting...");
    EXPECT_TRUE(prompter->errors.empty());
}

TEST_F(VoiceModuleProgram, WithoutTheModuleTheVoiceWindowSaysSoAndTheRestGoesOn)
{
    QTemporaryDir empty;
    ASSERT_TRUE(empty.isValid());
    const QString missing = empty.filePath("kivvo-sound.so");
    ASSERT_NO_FATAL_FAILURE(start(missing));
    // Not loaded by this test unless an earlier one in the same process did.
    const bool multimediaBefore = mappedFiles().contains(kMultimedia);

    ASSERT_TRUE(core->program->commands().run(Command::VoiceChat, QByteArray("bob")));
    ASSERT_EQ(voice().count(), 1);
    const QString said = status();
    EXPECT_TRUE(said.startsWith("Voice chat is not available: the sound module " + missing
                                + " could not be loaded ("))
        << said.toStdString();
    EXPECT_TRUE(voice().at(0)->hasEnded());
    EXPECT_EQ(voice().windowOf(voice().at(0))->button()->text(), "Close");
    EXPECT_FALSE(sound->isLoaded());
    EXPECT_EQ(mappedFiles().contains(kMultimedia), multimediaBefore);
    ASSERT_TRUE(linesRead("after the voice chat"));
    EXPECT_FALSE(server.received().contains("DCC VOICE")) << "an offer nobody could hear";

    // An offer from bob, accepted, gets a window that says the same and connects nowhere.
    voice().windowOf(voice().at(0))->close();
    ASSERT_TRUE(waitFor([&] { return voice().count() == 0; }));
    QTcpServer bobListens;
    prompter->answers = {true};
    offerFromBob(bobListens, "VOICE");
    ASSERT_TRUE(waitFor([&] { return voice().count() == 1; }));
    EXPECT_EQ(prompter->questions.size(), 1u);
    EXPECT_TRUE(status().endsWith(said)) << status().toStdString();
    EXPECT_FALSE(bobListens.waitForNewConnection(200));

    // Everything else works: bob's message opens its chat.
    server.send(":bob!b@h PRIVMSG alice :still there?\r\n");
    EXPECT_TRUE(waitFor([&] { return records().CountRecords() == 1; }));
    EXPECT_TRUE(prompter->errors.empty());
}

} // namespace
