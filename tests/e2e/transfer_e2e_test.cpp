// File transfer over DCC SEND against a real ngircd: two programs sending each other files of
// every awkward size in both modes, and the program against WeeChat, a terminal client that
// streams without waiting for acknowledgements, in both directions.
#include "peer/transfer.h"
#include "peer/transfer_window.h"
#include "tests/support/ngircd.h"
#include "tests/support/program_core.h"
#include "tests/support/terminal_client.h"
#include "tests/support/wait_for.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QLabel>
#include <QPushButton>
#include <QRandomGenerator>
#include <QTemporaryDir>
#include <gtest/gtest.h>

#include <memory>
#include <string>

using peer::Transfer;
using test::waitFor;

namespace {

// A few MiB take well under a second here; the margin is for a loaded or sanitized build.
constexpr int kTransferMs = 15000;

QByteArray randomBytes(qsizetype size, quint32 seed)
{
    QByteArray data(size, Qt::Uninitialized);
    QRandomGenerator generator(seed);
    for (char& byte : data)
        byte = char(generator.generate());
    return data;
}

QByteArray readFile(const QString& path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

// Equal bytes, or where they part; never the megabytes themselves.
::testing::AssertionResult sameBytes(const QByteArray& expected, const QString& path)
{
    if (!QFile::exists(path))
        return ::testing::AssertionFailure() << path.toStdString() << " is missing";
    const QByteArray actual = readFile(path);
    if (actual == expected)
        return ::testing::AssertionSuccess();
    qsizetype at = 0;
    while (at < actual.size() && at < expected.size() && actual[at] == expected[at])
        ++at;
    return ::testing::AssertionFailure()
           << path.toStdString() << " holds " << actual.size() << " bytes instead of "
           << expected.size() << ", the first difference at byte " << at;
}

std::string describe(const Transfer& transfer)
{
    static const char* const names[] = {"Awaiting", "Connecting", "Running", "Complete", "Stopped"};
    std::string text = std::string(names[int(transfer.status())]) + " at "
                       + std::to_string(transfer.count()) + " of " + std::to_string(transfer.size())
                       + " bytes";
    if (transfer.error())
        text +=
            " (" + peer::errorText(*transfer.error(), transfer.errorDetail()).toStdString() + ")";
    return text;
}

// Transfer `index` of `core` ends complete at `size` bytes, and its window says so as the user
// sees it.
::testing::AssertionResult endsComplete(const test::ProgramCore& core, int index, quint64 size)
{
    const peer::Transfers& transfers = core.program->transfers();
    const auto finished = [&] {
        return transfers.count() > index && transfers.at(index)->isFinished();
    };
    if (!waitFor(finished, kTransferMs)) {
        if (transfers.count() <= index)
            return ::testing::AssertionFailure() << "transfer " << index << " never started";
        return ::testing::AssertionFailure()
               << "transfer " << index << " did not end: " << describe(*transfers.at(index));
    }
    const Transfer& transfer = *transfers.at(index);
    if (transfer.status() != Transfer::Status::Complete || transfer.count() != size
        || transfer.size() != size)
        return ::testing::AssertionFailure()
               << "transfer " << index << " ended " << describe(transfer) << ", expected " << size;
    const peer::TransferWindow* window = transfers.windowOf(&transfer);
    if (!window)
        return ::testing::AssertionFailure() << "transfer " << index << " has no window";
    // An empty file's refresh stops before the count, so its label keeps its first text.
    const QString transferred = size == 0 ? QStringLiteral("Transferred:")
                                          : QStringLiteral("Transferred: %1 bytes").arg(size);
    if (window->button()->text() != "Close" || window->transferredLabel()->text() != transferred)
        return ::testing::AssertionFailure()
               << "the window of transfer " << index << " shows \""
               << window->button()->text().toStdString() << "\" and \""
               << window->transferredLabel()->text().toStdString() << "\"";
    return ::testing::AssertionSuccess();
}

class TransferEndToEnd : public ::testing::Test
{
protected:
    void SetUp() override
    {
        if (!test::haveNgircd())
            GTEST_SKIP() << "ngircd is not installed (tools/test installs it)";
        ASSERT_TRUE(server.start(serverDir.path(), KIVVO_SOURCE_DIR "/tools/ngircd/test.conf.in"));
        ASSERT_TRUE(watcher.connectTo(server.port()));
    }

    // A program connected to the server, its transfers in fast send or not.
    std::unique_ptr<test::ProgramCore> startProgram(const QByteArray& nick, bool fastSend)
    {
        test::CoreOptions options;
        options.nick = nick;
        options.serverPort = server.port();
        options.start = false;
        auto core = std::make_unique<test::ProgramCore>(options);
        if (fastSend) {
            // The program reads the flag when it is built: build it again over the same store.
            config::Settings settings = core->temp.store().LoadSettings();
            settings.fastsend = true;
            EXPECT_TRUE(core->temp.store().SaveSettings(settings));
            core->program.reset();
            auto scripted = std::make_unique<test::ScriptedPrompter>();
            core->prompter = scripted.get();
            core->program = std::make_unique<app::Program>(
                core->temp.registry(), app::Program::Options{}, std::move(scripted));
        }
        core->window().show();
        core->program->start();
        return core;
    }
    bool online(const QList<QByteArray>& nicks)
    {
        return waitFor(
            [&] {
                for (const QByteArray& nick : nicks) {
                    if (!watcher.isOnline(nick))
                        return false;
                }
                return true;
            },
            15000);
    }
    QString writeFile(const QString& name, const QByteArray& data)
    {
        QFile file(files.filePath(name));
        EXPECT_TRUE(file.open(QIODevice::WriteOnly));
        EXPECT_EQ(file.write(data), data.size());
        return file.fileName();
    }
    static bool sendFile(test::ProgramCore& core, const QByteArray& nick, const QString& path)
    {
        core.prompter->filesToSend.push_back(config::FileToSend{QString::fromUtf8(nick), path});
        return core.program->commands().run(app::Command::SendFileTo, nick);
    }
    static std::vector<QString> questionTitles(const test::ProgramCore& core)
    {
        std::vector<QString> titles;
        for (const test::Box& box : core.prompter->questions)
            titles.push_back(box.title);
        return titles;
    }

    QTemporaryDir serverDir;
    QTemporaryDir files;
    test::Ngircd server;
    test::Watcher watcher;
};

class ProgramToProgram : public TransferEndToEnd, public ::testing::WithParamInterface<bool>
{};

std::string modeName(const ::testing::TestParamInfo<bool>& info)
{
    return info.param ? "FastSend" : "DefaultMode";
}

} // namespace

TEST_P(ProgramToProgram, SendsFilesOfEverySizeBothWaysByteForByte)
{
    auto alice = startProgram("alice", GetParam());
    auto bob = startProgram("bob", GetParam());
    ASSERT_TRUE(online({"alice", "bob"}));

    // Not a multiple of the block size, so the last block is short.
    const QByteArray big = randomBytes(3 * 1024 * 1024 + 517, 1);
    const QString bigReceived = files.filePath("big-received.bin");
    bob->prompter->answers = {true};
    bob->prompter->inputs = {bigReceived};
    ASSERT_TRUE(sendFile(*alice, "bob", writeFile("big.bin", big)));
    ASSERT_TRUE(endsComplete(*bob, 0, quint64(big.size())));
    ASSERT_TRUE(endsComplete(*alice, 0, quint64(big.size())));
    EXPECT_TRUE(sameBytes(big, bigReceived));
    EXPECT_EQ(questionTitles(*bob), std::vector<QString>{"Accept File?"});
    ASSERT_EQ(bob->prompter->requests.size(), 1u);
    EXPECT_TRUE(bob->prompter->requests[0].text.endsWith("/big.bin"))
        << bob->prompter->requests[0].text.toStdString();

    // Two offers at once the other way: an empty file, and one a byte past a block, over a
    // longer file that must not survive under it.
    const QByteArray odd = randomBytes(1025, 2);
    const QString emptyReceived = files.filePath("empty-received.bin");
    const QString oddReceived = writeFile("odd-received.bin", randomBytes(5000, 3));
    alice->prompter->answers = {true, true, true};
    alice->prompter->inputs = {emptyReceived, oddReceived};
    ASSERT_TRUE(sendFile(*bob, "alice", writeFile("empty.bin", {})));
    ASSERT_TRUE(sendFile(*bob, "alice", writeFile("odd.bin", odd)));
    EXPECT_TRUE(endsComplete(*alice, 1, 0));
    EXPECT_TRUE(endsComplete(*alice, 2, 1025));
    EXPECT_TRUE(endsComplete(*bob, 1, 0));
    EXPECT_TRUE(endsComplete(*bob, 2, 1025));
    EXPECT_TRUE(sameBytes({}, emptyReceived));
    EXPECT_TRUE(sameBytes(odd, oddReceived));
    EXPECT_EQ(questionTitles(*alice),
              (std::vector<QString>{"Accept File?", "Accept File?", "Replace File?"}));
}

INSTANTIATE_TEST_SUITE_P(Modes, ProgramToProgram, ::testing::Values(false, true), modeName);

namespace {

// WeeChat as "carol" on the same server, accepting every file into its own folder.
class WithTerminalClient : public TransferEndToEnd
{
protected:
    void SetUp() override
    {
        TransferEndToEnd::SetUp();
        if (IsSkipped() || HasFatalFailure())
            return;
        if (!test::haveTerminalClient())
            GTEST_SKIP() << "weechat-headless with weechat-plugins is not installed (tools/test "
                            "installs them)";
        ASSERT_TRUE(client.start(clientDir.path(), server.port(), "carol"))
            << client.log().toStdString();
    }
    void startBob(bool fastSend)
    {
        bob = startProgram("bob", fastSend);
        ASSERT_TRUE(online({"bob", "carol"})) << client.log().toStdString();
    }
    // The client's own word that it finished `fileName` with bob.
    bool clientReports(const QByteArray& fileName, const QByteArray& how)
    {
        return waitFor([&] { return client.logContains("xfer: file " + fileName + how); },
                       kTransferMs);
    }

    QTemporaryDir clientDir;
    test::TerminalClient client;
    std::unique_ptr<test::ProgramCore> bob;
};

class ClientReceives : public WithTerminalClient, public ::testing::WithParamInterface<bool>
{};

} // namespace

// The client streams in its default mode, without waiting for acknowledgements: our receiver
// must take every byte and acknowledge the whole size.
TEST_F(WithTerminalClient, ReceivesWhatTheClientStreams)
{
    startBob(false);
    const QByteArray data = randomBytes(4 * 1024 * 1024 + 3, 4);
    const QString received = files.filePath("from-carol-received.bin");
    bob->prompter->answers = {true};
    bob->prompter->inputs = {received};
    ASSERT_TRUE(client.run("/dcc send bob " + writeFile("from-carol.bin", data).toUtf8()));
    ASSERT_TRUE(endsComplete(*bob, 0, quint64(data.size()))) << client.log().toStdString();
    EXPECT_TRUE(sameBytes(data, received));
    EXPECT_TRUE(clientReports("from-carol.bin", " sent to bob")) << client.log().toStdString();
    EXPECT_EQ(questionTitles(*bob), std::vector<QString>{"Accept File?"});
}

TEST_P(ClientReceives, OffersAFileTheClientReceivesByteForByte)
{
    startBob(GetParam());
    const QByteArray data = randomBytes(2 * 1024 * 1024 + 1, 5);
    ASSERT_TRUE(sendFile(*bob, "carol", writeFile("to-carol.bin", data)));
    ASSERT_TRUE(endsComplete(*bob, 0, quint64(data.size()))) << client.log().toStdString();
    ASSERT_TRUE(clientReports("to-carol.bin", " received from bob")) << client.log().toStdString();
    // The client writes "<name>.part" and renames it after it has said so.
    const QString landed = QDir(client.downloadFolder()).filePath("to-carol.bin");
    waitFor([&] { return QFileInfo(landed).size() == data.size(); }, 5000);
    EXPECT_TRUE(sameBytes(data, landed)) << client.log().toStdString();
}

INSTANTIATE_TEST_SUITE_P(Modes, ClientReceives, ::testing::Values(false, true), modeName);
