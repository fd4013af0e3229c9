// File transfer over DCC SEND against a real ngircd: two programs sending each other files of
// every awkward size in both modes, and the program against WeeChat, a terminal client that
// streams without waiting for acknowledgements, in both directions.
#include "tests/support/ngircd.h"
#include "tests/support/terminal_client.h"
#include "tests/support/transfer_checks.h"

#include <QDir>
#include <QFileInfo>
#include <QTemporaryDir>
#include <gtest/gtest.h>

#include <memory>

using test::endsComplete;
using test::kTransferMs;
using test::randomBytes;
using test::sameBytes;
using test::waitFor;

namespace {

class TransferEndToEnd : public test::NgircdTest
{
protected:
    // A program connected to the server, its transfers in fast send or not.
    std::unique_ptr<test::ProgramCore> startProgram(const QByteArray& nick, bool fastSend)
    {
        test::CoreOptions options;
        options.nick = nick;
        options.serverPort = server.port();
        options.fastSend = fastSend;
        return std::make_unique<test::ProgramCore>(options);
    }
    QString writeFile(const QString& name, const QByteArray& data)
    {
        return test::writeFile(files, name, data);
    }

    QTemporaryDir files;
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
    ASSERT_TRUE(alice->sendFile("bob", writeFile("big.bin", big)));
    ASSERT_TRUE(endsComplete(*bob, 0, quint64(big.size())));
    ASSERT_TRUE(endsComplete(*alice, 0, quint64(big.size())));
    EXPECT_TRUE(sameBytes(big, bigReceived));
    EXPECT_EQ(bob->prompter->questionTitles(), std::vector<QString>{"Accept File?"});
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
    ASSERT_TRUE(bob->sendFile("alice", writeFile("empty.bin", {})));
    ASSERT_TRUE(bob->sendFile("alice", writeFile("odd.bin", odd)));
    EXPECT_TRUE(endsComplete(*alice, 1, 0));
    EXPECT_TRUE(endsComplete(*alice, 2, 1025));
    EXPECT_TRUE(endsComplete(*bob, 1, 0));
    EXPECT_TRUE(endsComplete(*bob, 2, 1025));
    EXPECT_TRUE(sameBytes({}, emptyReceived));
    EXPECT_TRUE(sameBytes(odd, oddReceived));
    EXPECT_EQ(alice->prompter->questionTitles(),
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
    EXPECT_EQ(bob->prompter->questionTitles(), std::vector<QString>{"Accept File?"});
}

TEST_P(ClientReceives, OffersAFileTheClientReceivesByteForByte)
{
    startBob(GetParam());
    const QByteArray data = randomBytes(2 * 1024 * 1024 + 1, 5);
    ASSERT_TRUE(bob->sendFile("carol", writeFile("to-carol.bin", data)));
    ASSERT_TRUE(endsComplete(*bob, 0, quint64(data.size()))) << client.log().toStdString();
    ASSERT_TRUE(clientReports("to-carol.bin", " received from bob")) << client.log().toStdString();
    // The client writes "<name>.part" and renames it after it has said so.
    const QString landed = QDir(client.downloadFolder()).filePath("to-carol.bin");
    waitFor([&] { return QFileInfo(landed).size() == data.size(); }, 5000);
    EXPECT_TRUE(sameBytes(data, landed)) << client.log().toStdString();
}

INSTANTIATE_TEST_SUITE_P(Modes, ClientReceives, ::testing::Values(false, true), modeName);
