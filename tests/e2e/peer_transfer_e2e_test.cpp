// Whole files between the program and the terminal clients at hand, irssi and WeeChat, over a
// real ngircd: plain (active) offers both ways, the program in its default mode and with fast
// send, and WeeChat with its own fast send. Every file is compared byte for byte: a few MiB of
// noise, and one whose size is no multiple of the block size, so that the last block is short.
#include "tests/support/irssi_client.h"
#include "tests/support/ngircd.h"
#include "tests/support/terminal_client.h"
#include "tests/support/transfer_checks.h"

#include <QDir>
#include <QFileInfo>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

using test::endsComplete;
using test::kTransferMs;
using test::randomBytes;
using test::sameBytes;
using test::waitFor;

namespace {

constexpr int kLinkMs = 10000;

enum class Peer { Irssi, WeeChat };
enum class Way { ToPeer, FromPeer };

struct Case
{
    Peer peer;
    Way way;
    bool fastSend;     // the program's setting
    bool peerFastSend; // WeeChat's xfer.network.fast_send; irssi has no such setting
};

std::string caseName(const ::testing::TestParamInfo<Case>& info)
{
    const Case& c = info.param;
    const std::string peer = c.peer == Peer::Irssi ? "Irssi" : "WeeChat";
    std::string name = (c.way == Way::ToPeer ? "To" : "From") + peer;
    name += c.fastSend ? "_FastSend" : "_DefaultMode";
    if (c.peer == Peer::WeeChat)
        name += c.peerFastSend ? "_PeerFastSend" : "_PeerWaitsForAcks";
    return name;
}

struct File
{
    QString name;
    QByteArray data;
};

// The files each case moves, one after the other.
std::vector<File> filesToMove()
{
    return {{"noise.bin", randomBytes(4 * 1024 * 1024, 21)},
            {"odd.bin", randomBytes(3 * 1024 * 1024 + 517, 22)}};
}

// The program as "kivvo" and one peer as "peer" on the same server; the peer takes every file
// offered into its own folder.
class TransferWithPeer : public test::NgircdTest, public ::testing::WithParamInterface<Case>
{
protected:
    void SetUp() override
    {
        const Case& c = GetParam();
        if (c.peer == Peer::Irssi && !test::haveIrssi())
            GTEST_SKIP()
                << "irssi (with its perl module) is not installed (tools/test installs it)";
        if (c.peer == Peer::WeeChat && !test::haveTerminalClient())
            GTEST_SKIP() << "weechat-headless with weechat-plugins is not installed (tools/test "
                            "installs them)";
        NgircdTest::SetUp();
        if (IsSkipped() || HasFatalFailure())
            return;
        test::CoreOptions options;
        options.nick = "kivvo";
        options.serverPort = server.port();
        options.fastSend = c.fastSend;
        kivvo = std::make_unique<test::ProgramCore>(options);
        ASSERT_NO_FATAL_FAILURE(startPeer(c));
        ASSERT_TRUE(online({"kivvo", "peer"})) << peerLog();
        ASSERT_TRUE(waitFor([&] { return kivvo->program->link().isConnected(); }, kLinkMs));
    }

    void startPeer(const Case& c)
    {
        if (c.peer == Peer::Irssi) {
            ASSERT_TRUE(irssi.start(peerDir.path(), server.port(), "peer")) << peerLog();
            ASSERT_TRUE(waitFor([&] { return irssi.isRegistered(); }, kLinkMs)) << peerLog();
            ASSERT_TRUE(irssi.run("/set dcc_autoget on"));
            ASSERT_TRUE(
                waitFor([&] { return irssi.logContains("command /set dcc_autoget on"); }, kLinkMs))
                << peerLog();
            return;
        }
        // Its listening ports away from the ephemeral range, where the other side's outgoing
        // connections take theirs.
        const QList<QByteArray> settings{"xfer.network.fast_send "
                                             + QByteArray(c.peerFastSend ? "on" : "off"),
                                         "xfer.network.port_range \"20000-24999\""};
        ASSERT_TRUE(weechat.start(peerDir.path(), server.port(), "peer", settings)) << peerLog();
    }

    // The peer offers `path` to the program.
    bool peerOffers(const QString& path)
    {
        const QByteArray command = "/dcc send kivvo " + QFile::encodeName(path);
        return GetParam().peer == Peer::Irssi ? irssi.run(command) : weechat.run(command);
    }
    // The peer's own word that it finished `name` with the program.
    bool peerReports(const QString& name, Way way)
    {
        const QByteArray file = name.toUtf8();
        QByteArray text;
        if (GetParam().peer == Peer::Irssi)
            text = (way == Way::ToPeer ? "DCC received file " : "DCC sent file ") + file;
        else
            text = "xfer: file " + file + (way == Way::ToPeer ? " received from" : " sent to")
                   + " kivvo";
        return waitFor([&] { return peerLogContains(text); }, kTransferMs);
    }
    bool peerLogContains(const QByteArray& text) const
    {
        return GetParam().peer == Peer::Irssi ? irssi.logContains(text) : weechat.logContains(text);
    }
    // The peer's copy of `name`, once it holds `size` bytes (WeeChat renames its "<name>.part"
    // only after it has reported the file).
    QString peerCopy(const QString& name, qsizetype size)
    {
        const QString folder =
            GetParam().peer == Peer::Irssi ? irssi.downloadFolder() : weechat.downloadFolder();
        QString path = QDir(folder).filePath(name);
        waitFor([&] { return QFileInfo(path).size() == size; }, kTransferMs);
        return path;
    }
    std::string peerLog() const
    {
        return (GetParam().peer == Peer::Irssi ? irssi.log() : weechat.log()).toStdString();
    }

    QTemporaryDir peerDir;
    QTemporaryDir files;
    test::IrssiClient irssi;
    test::TerminalClient weechat;
    std::unique_ptr<test::ProgramCore> kivvo;
};

} // namespace

TEST_P(TransferWithPeer, MovesWholeFilesByteForByte)
{
    const Way way = GetParam().way;
    const std::vector<File> moved = filesToMove();
    for (int index = 0; index < int(moved.size()); ++index) {
        const File& file = moved[size_t(index)];
        SCOPED_TRACE(file.name.toStdString());
        const QString source = test::writeFile(files, "out/" + file.name, file.data);
        const auto size = quint64(file.data.size());
        if (way == Way::ToPeer) {
            ASSERT_TRUE(kivvo->sendFile("peer", source));
            ASSERT_TRUE(endsComplete(*kivvo, index, size)) << peerLog();
            ASSERT_TRUE(peerReports(file.name, way)) << peerLog();
            EXPECT_TRUE(sameBytes(file.data, peerCopy(file.name, file.data.size()))) << peerLog();
        } else {
            const QString destination = files.filePath("in/" + file.name);
            QDir().mkpath(files.filePath("in"));
            kivvo->prompter->answers.push_back(true);
            kivvo->prompter->inputs.push_back(destination);
            ASSERT_TRUE(peerOffers(source));
            ASSERT_TRUE(endsComplete(*kivvo, index, size)) << peerLog();
            EXPECT_TRUE(sameBytes(file.data, destination));
            EXPECT_TRUE(peerReports(file.name, way)) << peerLog();
        }
    }
    // The program was asked once for each file it took, and never about replacing one.
    if (way == Way::FromPeer) {
        EXPECT_EQ(kivvo->prompter->questionTitles(),
                  std::vector<QString>(moved.size(), QStringLiteral("Accept File?")));
    }
    // Plain offers: irssi names a real port and no token, both ways (WeeChat's traffic with the
    // server is not logged).
    if (GetParam().peer == Peer::Irssi) {
        for (const File& file : moved) {
            const QRegularExpression offer("DCC SEND \"?" + QRegularExpression::escape(file.name)
                                           + "\"? 2130706433 [1-9]\\d* "
                                           + QString::number(file.data.size()) + "(?![ \\d])");
            EXPECT_TRUE(offer.match(QString::fromUtf8(irssi.log())).hasMatch())
                << file.name.toStdString() << "\n"
                << peerLog();
        }
    }
}

INSTANTIATE_TEST_SUITE_P(Peers, TransferWithPeer,
                         ::testing::Values(Case{Peer::Irssi, Way::ToPeer, false, false},
                                           Case{Peer::Irssi, Way::ToPeer, true, false},
                                           Case{Peer::Irssi, Way::FromPeer, false, false},
                                           Case{Peer::Irssi, Way::FromPeer, true, false},
                                           Case{Peer::WeeChat, Way::ToPeer, false, true},
                                           Case{Peer::WeeChat, Way::ToPeer, true, true},
                                           Case{Peer::WeeChat, Way::FromPeer, false, true},
                                           Case{Peer::WeeChat, Way::FromPeer, true, true},
                                           Case{Peer::WeeChat, Way::FromPeer, false, false}),
                         caseName);
