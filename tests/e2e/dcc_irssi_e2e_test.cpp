// The program against irssi over a real ngircd, for what the other test peers do not speak:
// passive offers (port 0 and a token) both ways for files and chats, RESUME/ACCEPT both ways,
// and offers naming an IPv6 address. irssi's own quirks are in docs/irssi-peer-notes.md.
#include "peer/chat/chat_window.h"
#include "peer/common/texts.h"
#include "peer/transfer/file_receiver.h"
#include "tests/support/irssi_client.h"
#include "tests/support/ngircd.h"
#include "tests/support/transfer_checks.h"

#include <QDir>
#include <QFileInfo>
#include <QLineEdit>
#include <QRegularExpression>
#include <QTcpSocket>
#include <QTemporaryDir>
#include <gtest/gtest.h>

#include <memory>
#include <string>

using test::endsComplete;
using test::kTransferMs;
using test::randomBytes;
using test::sameBytes;
using test::waitFor;
using test::writeTo;

namespace {

constexpr int kLinkMs = 10000;

// The chat id irssi gave the DCC chat it connected (its own request's id, or "kivvo2" when it
// took our answer to its passive request for a new offer).
QByteArray connectedChatId(const test::IrssiClient& client)
{
    static const QRegularExpression pattern(
        QStringLiteral("dcc-connected CHAT [^\\n]* id=([^\\s]+)"));
    const auto match = pattern.match(QString::fromUtf8(client.log()));
    return match.hasMatch() ? match.captured(1).toUtf8() : QByteArray();
}

bool logMatches(const test::IrssiClient& client, const QString& pattern)
{
    return QRegularExpression(pattern).match(QString::fromUtf8(client.log())).hasMatch();
}

class DccWithIrssi : public test::NgircdTest
{
protected:
    void SetUp() override
    {
        if (!test::haveIrssi())
            GTEST_SKIP()
                << "irssi (with its perl module) is not installed (tools/test installs it)";
        NgircdTest::SetUp();
    }

    // The program as "kivvo", connected to `host` (its server list holds only that).
    void startProgram(bool passive, const QByteArray& host = "127.0.0.1")
    {
        test::CoreOptions options;
        options.nick = "kivvo";
        options.serverPort = server.port();
        options.serverHost = host;
        options.passiveDcc = passive;
        kivvo = std::make_unique<test::ProgramCore>(options);
    }
    void startIrssi(const QByteArray& host = "127.0.0.1")
    {
        ASSERT_TRUE(irssi.start(irssiDir.path(), server.port(), "ivy", host)) << irssiLog();
        ASSERT_TRUE(waitFor([&] { return irssi.isRegistered(); }, kLinkMs)) << irssiLog();
    }
    // The program on `host`, irssi on `irssiHost` (the same unless given).
    void startBoth(bool passive, const QByteArray& host = "127.0.0.1",
                   const QByteArray& irssiHost = {})
    {
        startProgram(passive, host);
        if (HasFatalFailure())
            return;
        startIrssi(irssiHost.isEmpty() ? host : irssiHost);
        if (HasFatalFailure())
            return;
        ASSERT_TRUE(online({"kivvo", "ivy"})) << irssiLog();
        ASSERT_TRUE(waitFor([&] { return kivvo->program->link().isConnected(); }, kLinkMs));
    }
    // What a chat relayed by the server shows from `nick`, if one opened.
    std::string relayedFrom(const QByteArray& nick) const
    {
        const peer::ChatWindow* window = kivvo ? kivvo->chatWith(nick, false) : nullptr;
        return window ? window->transcript().toStdString() : std::string("(none)");
    }
    std::string irssiLog() const { return irssi.log().toStdString(); }
    QString writeFile(const QString& name, const QByteArray& data)
    {
        return test::writeFile(files, name, data);
    }
    bool irssiSays(const QByteArray& text, int timeoutMs = kTransferMs)
    {
        return waitFor([&] { return irssi.logContains(text); }, timeoutMs);
    }
    // Sets an irssi option and waits until irssi has taken it.
    void irssiSet(const QByteArray& option)
    {
        ASSERT_TRUE(irssi.run("/set " + option));
        ASSERT_TRUE(irssiSays("command /set " + option, kLinkMs)) << irssiLog();
    }
    // The program is asked about one file and takes it into `destination`.
    QString takeOneFile(const QString& name)
    {
        const QString destination = files.filePath("received/" + name);
        QDir().mkpath(files.filePath("received"));
        kivvo->prompter->answers = {true};
        kivvo->prompter->inputs = {destination};
        return destination;
    }
    // irssi's copy of `name` in its download folder, once it holds `size` bytes.
    QString irssiCopy(const QByteArray& name, qsizetype size)
    {
        QString path = QDir(irssi.downloadFolder()).filePath(QString::fromUtf8(name));
        waitFor([&] { return QFileInfo(path).size() == size; }, kTransferMs);
        return path;
    }

    QTemporaryDir irssiDir;
    QTemporaryDir files;
    test::IrssiClient irssi;
    std::unique_ptr<test::ProgramCore> kivvo;
};

class DccWithIrssiModes : public DccWithIrssi, public ::testing::WithParamInterface<bool>
{};

std::string modeName(const ::testing::TestParamInfo<bool>& info)
{
    return info.param ? "Passive" : "Active";
}

} // namespace

// irssi cannot be reached: the program listens, answers with its address, port and irssi's
// token, and irssi connects out and sends.
TEST_F(DccWithIrssi, ReceivesAFileIrssiOffersPassively)
{
    startBoth(false);
    ASSERT_FALSE(HasFatalFailure());
    const QByteArray data = randomBytes(300 * 1024 + 17, 11);
    const QString source = writeFile("from-ivy.bin", data);
    const QString destination = takeOneFile("from-ivy.bin");

    ASSERT_TRUE(irssi.run("/dcc send -passive kivvo " + QFile::encodeName(source)));
    ASSERT_TRUE(endsComplete(*kivvo, 0)) << irssiLog();
    EXPECT_TRUE(sameBytes(data, destination));
    EXPECT_FALSE(QFile::exists(peer::FileReceiver::partPath(destination)));
    EXPECT_EQ(kivvo->prompter->questionTitles(), std::vector<QString>{"Accept File?"});
    // Our answer: loopback address, a real port, the size and irssi's token.
    EXPECT_TRUE(logMatches(irssi, "DCC SEND \"?from-ivy.bin\"? 2130706433 \\d+ "
                                      + QString::number(data.size()) + " \\d+"))
        << irssiLog();
    EXPECT_TRUE(irssiSays("DCC sent file from-ivy.bin")) << irssiLog();
}

// The program cannot be reached: irssi (accepting every file) listens and answers, the program
// connects out and sends.
TEST_F(DccWithIrssi, SendsAFilePassivelyToIrssi)
{
    startBoth(true);
    ASSERT_FALSE(HasFatalFailure());
    ASSERT_NO_FATAL_FAILURE(irssiSet("dcc_autoget on"));
    const QByteArray data = randomBytes(256 * 1024 + 3, 12);
    ASSERT_TRUE(kivvo->sendFile("ivy", writeFile("to-ivy.bin", data)));
    ASSERT_TRUE(endsComplete(*kivvo, 0)) << irssiLog();
    // The offer names port 0 and a token; irssi's answer names its port.
    EXPECT_TRUE(logMatches(irssi, "DCC SEND \"?to-ivy.bin\"? \\d+ 0 " + QString::number(data.size())
                                      + " \\d+"))
        << irssiLog();
    EXPECT_TRUE(irssiSays("DCC received file to-ivy.bin")) << irssiLog();
    EXPECT_TRUE(sameBytes(data, irssiCopy("to-ivy.bin", data.size()))) << irssiLog();
}

// irssi's passive chat: the program listens and answers. irssi takes the answer for a new
// offer (its own bug, see the notes) and, by its chat mask, connects to it all the same.
TEST_F(DccWithIrssi, AcceptsAChatIrssiOffersPassively)
{
    startBoth(false);
    ASSERT_FALSE(HasFatalFailure());
    ASSERT_NO_FATAL_FAILURE(irssiSet("dcc_autochat_masks kivvo"));
    kivvo->prompter->answers = {true};
    ASSERT_TRUE(irssi.run("/dcc chat -passive kivvo"));

    peer::ChatWindow* window = nullptr;
    ASSERT_TRUE(
        waitFor([&] { return (window = kivvo->chatWith("ivy", true)) != nullptr; }, kLinkMs))
        << irssiLog();
    EXPECT_EQ(kivvo->prompter->questionTitles(), std::vector<QString>{"Accept DCC Chat?"});
    ASSERT_TRUE(irssiSays("dcc-connected CHAT", kLinkMs)) << irssiLog();
    const QByteArray id = connectedChatId(irssi);
    ASSERT_FALSE(id.isEmpty()) << irssiLog();
    // irssi says it is connected as soon as its connect returns; our side may take the
    // connection a moment later (a slow build shows it), and a line typed before goes nowhere.
    ASSERT_TRUE(
        waitFor([&] { return window->transcript().contains(peer::text::kEstablished); }, kLinkMs))
        << window->transcript().toStdString();

    window->input()->setText("hello from kivvo");
    window->send();
    EXPECT_TRUE(irssiSays("dcc-chat-message " + id + " hello from kivvo", kLinkMs)) << irssiLog();
    ASSERT_TRUE(irssi.run("/msg =" + id + " hello from ivy"));
    EXPECT_TRUE(
        waitFor([&] { return window->transcript().contains("<ivy> hello from ivy"); }, kLinkMs))
        << window->transcript().toStdString() << irssiLog();
}

// The program's passive chat: irssi listens and answers, the program connects out.
TEST_F(DccWithIrssi, OffersAChatPassivelyToIrssi)
{
    startBoth(true);
    ASSERT_FALSE(HasFatalFailure());
    ASSERT_NO_FATAL_FAILURE(irssiSet("dcc_autochat_masks kivvo"));
    ASSERT_TRUE(kivvo->program->commands().run(app::Command::DccChat, QByteArray("ivy")));
    peer::ChatWindow* window = kivvo->chatWith("ivy", true);
    ASSERT_NE(window, nullptr);

    ASSERT_TRUE(irssiSays("dcc-connected CHAT", kLinkMs)) << irssiLog();
    EXPECT_TRUE(logMatches(irssi, "DCC CHAT chat \\d+ 0 \\d+")) << irssiLog();
    const QByteArray id = connectedChatId(irssi);
    ASSERT_FALSE(id.isEmpty()) << irssiLog();

    ASSERT_TRUE(irssi.run("/msg =" + id + " hello from ivy"));
    EXPECT_TRUE(
        waitFor([&] { return window->transcript().contains("<ivy> hello from ivy"); }, kLinkMs))
        << window->transcript().toStdString() << irssiLog();
    window->input()->setText("hello from kivvo");
    window->send();
    EXPECT_TRUE(irssiSays("dcc-chat-message " + id + " hello from kivvo", kLinkMs)) << irssiLog();
}

// What an earlier transfer left in "<dest>.part" is carried on: RESUME, irssi's ACCEPT, and only
// the rest crosses. Active: irssi listens. Passive: the program listens after the ACCEPT.
TEST_P(DccWithIrssiModes, ResumesAFileFromIrssi)
{
    const bool passive = GetParam();
    startBoth(false);
    ASSERT_FALSE(HasFatalFailure());
    const QByteArray data = randomBytes(200 * 1024 + 9, 13);
    const qsizetype have = 70 * 1024 + 5;
    const QString source = writeFile("resumable.bin", data);
    const QString destination = files.filePath("received/resumable.bin");
    ASSERT_TRUE(writeTo(peer::FileReceiver::partPath(destination), data.left(have)));
    kivvo->prompter->answers = {true, true};
    kivvo->prompter->inputs = {destination};

    ASSERT_TRUE(irssi.run("/dcc send " + QByteArray(passive ? "-passive " : "") + "kivvo "
                          + QFile::encodeName(source)));
    ASSERT_TRUE(endsComplete(*kivvo, 0)) << irssiLog();
    EXPECT_EQ(kivvo->prompter->questionTitles(),
              (std::vector<QString>{"Accept File?", "Resume File?"}));
    EXPECT_TRUE(sameBytes(data, destination)) << irssiLog();
    EXPECT_FALSE(QFile::exists(peer::FileReceiver::partPath(destination)));
    EXPECT_TRUE(logMatches(irssi, "DCC RESUME \"?resumable.bin\"? \\d+ " + QString::number(have)))
        << irssiLog();
    EXPECT_TRUE(logMatches(irssi, "DCC ACCEPT \"?resumable.bin\"? \\d+ " + QString::number(have)))
        << irssiLog();
    EXPECT_TRUE(irssiSays("DCC sent file resumable.bin")) << irssiLog();
    // irssi's own count of what it left out.
    EXPECT_TRUE(irssi.logContains("skipped=" + QByteArray::number(have))) << irssiLog();
}

// irssi holds the first bytes already and asks to resume our offer: the program ACCEPTs and
// sends the rest.
TEST_P(DccWithIrssiModes, ResumesAFileIrssiHasPartOf)
{
    const bool passive = GetParam();
    startBoth(passive);
    ASSERT_FALSE(HasFatalFailure());
    const QByteArray data = randomBytes(180 * 1024 + 1, 14);
    const qsizetype have = 50 * 1024 + 7;
    ASSERT_TRUE(writeTo(QDir(irssi.downloadFolder()).filePath("partly.bin"), data.left(have)));
    ASSERT_TRUE(kivvo->sendFile("ivy", writeFile("partly.bin", data)));
    ASSERT_TRUE(irssiSays("dcc-request GET kivvo partly.bin", kLinkMs)) << irssiLog();
    ASSERT_TRUE(irssi.run("/dcc resume kivvo partly.bin"));

    ASSERT_TRUE(endsComplete(*kivvo, 0)) << irssiLog();
    EXPECT_TRUE(logMatches(irssi, "DCC RESUME \"?partly.bin\"? \\d+ " + QString::number(have)))
        << irssiLog();
    EXPECT_TRUE(logMatches(irssi, "DCC ACCEPT \"?partly.bin\"? \\d+ " + QString::number(have)))
        << irssiLog();
    EXPECT_TRUE(irssiSays("DCC received file partly.bin")) << irssiLog();
    EXPECT_TRUE(irssi.logContains("skipped=" + QByteArray::number(have))) << irssiLog();
    EXPECT_TRUE(sameBytes(data, irssiCopy("partly.bin", data.size()))) << irssiLog();
}

INSTANTIATE_TEST_SUITE_P(Modes, DccWithIrssiModes, ::testing::Values(false, true), modeName);

namespace {

// The server listens on ::1 as well, and both clients reach it there.
class DccWithIrssiOverIpv6 : public DccWithIrssi
{
protected:
    void SetUp() override
    {
        DccWithIrssi::SetUp();
        if (IsSkipped() || HasFatalFailure())
            return;
        QTcpSocket probe;
        probe.connectToHost(QHostAddress::LocalHostIPv6, server.port());
        if (!probe.waitForConnected(3000))
            GTEST_SKIP() << "ngircd cannot listen on ::1 here";
    }
    test::ConfigEdits configEdits() const override
    {
        return {{"Listen = 127.0.0.1", "Listen = 127.0.0.1,::1"}};
    }
};

} // namespace

// irssi on ::1 offers at its connection's own address, the literal ::1; the program, on the
// IPv4 link, connects there.
TEST_F(DccWithIrssiOverIpv6, ReceivesAFileOfferedAtAnIpv6Address)
{
    startBoth(false, "127.0.0.1", "::1");
    ASSERT_FALSE(HasFatalFailure());
    const QByteArray data = randomBytes(120 * 1024 + 5, 15);
    const QString destination = takeOneFile("six-from-ivy.bin");
    ASSERT_TRUE(
        irssi.run("/dcc send kivvo " + QFile::encodeName(writeFile("six-from-ivy.bin", data))));
    // A sender whose host is an IPv6 literal ("~root@[0::1]") puts colons before the message
    // text: an offer read from the first colon on is no offer but text in a relayed chat.
    ASSERT_TRUE(endsComplete(*kivvo, 0))
        << "the offer was not taken; a relayed chat with ivy shows \"" << relayedFrom("ivy")
        << "\"\n"
        << irssiLog();
    EXPECT_TRUE(irssi.logContains("DCC SEND six-from-ivy.bin ::1 ")) << irssiLog();
    EXPECT_TRUE(sameBytes(data, destination));
    EXPECT_TRUE(irssiSays("DCC sent file six-from-ivy.bin")) << irssiLog();
}

// Both on ::1: our offer names ::1, the address of our own server link, and irssi takes it.
// (irssi's offers at ::1 are taken in the test above.)
TEST_F(DccWithIrssiOverIpv6, OurOfferNamesTheIpv6AddressOfOurLink)
{
    startProgram(false, "::1");
    ASSERT_FALSE(HasFatalFailure());
    startIrssi("::1");
    ASSERT_FALSE(HasFatalFailure());
    ASSERT_TRUE(waitFor([&] { return watcher.isOnline("kivvo"); }, 15000))
        << "the program never got online with \"::1\" as its server: its server list cannot "
           "hold an IPv6 literal (config::Store::EnumServers cuts the stored \"address:port\" "
           "name at the first ':')";
    ASSERT_TRUE(waitFor([&] { return watcher.isOnline("ivy"); }, 15000)) << irssiLog();
    ASSERT_EQ(kivvo->program->link().localAddress().protocol(), QAbstractSocket::IPv6Protocol);

    ASSERT_NO_FATAL_FAILURE(irssiSet("dcc_autoget on"));
    const QByteArray toIvy = randomBytes(110 * 1024 + 6, 16);
    ASSERT_TRUE(kivvo->sendFile("ivy", writeFile("six-to-ivy.bin", toIvy)));
    ASSERT_TRUE(endsComplete(*kivvo, 0)) << irssiLog();
    EXPECT_TRUE(logMatches(irssi, "DCC SEND \"?six-to-ivy.bin\"? ::1 \\d+ ")) << irssiLog();
    EXPECT_TRUE(irssiSays("DCC received file six-to-ivy.bin")) << irssiLog();
    EXPECT_TRUE(sameBytes(toIvy, irssiCopy("six-to-ivy.bin", toIvy.size()))) << irssiLog();
}

// A declined offer, both ways with irssi, which sends DCC REJECT when its user closes an offer
// not yet taken up, and closes its own offer when the REJECT comes.
TEST_F(DccWithIrssi, AnOfferDeclinedEitherWayEndsAtOnceOnBothSides)
{
    startBoth(false);
    ASSERT_FALSE(HasFatalFailure());
    // Our No reaches irssi, which stops waiting for us.
    kivvo->prompter->answers = {false};
    ASSERT_TRUE(irssi.run("/dcc send kivvo " + QFile::encodeName(writeFile("no-thanks.bin", "x"))));
    ASSERT_TRUE(irssiSays("DCC REJECT SEND no-thanks.bin", kLinkMs)) << irssiLog();
    EXPECT_TRUE(irssiSays("dcc-closed SEND", kLinkMs)) << irssiLog();

    // irssi's user closes our offer: our window reads the decline.
    ASSERT_TRUE(kivvo->sendFile("ivy", writeFile("to-decline.bin", randomBytes(1000, 3))));
    ASSERT_TRUE(irssiSays("dcc-request GET", kLinkMs)) << irssiLog();
    ASSERT_TRUE(irssi.run("/dcc close get kivvo"));
    const peer::Transfers& transfers = kivvo->program->transfers();
    ASSERT_TRUE(
        waitFor([&] { return transfers.count() == 1 && transfers.at(0)->isFinished(); }, kLinkMs))
        << irssiLog();
    EXPECT_EQ(transfers.at(0)->error(), peer::TransferError::Declined);
    EXPECT_EQ(peer::errorText(*transfers.at(0)->error(), transfers.at(0)->errorDetail()),
              "ivy declined the file");
}
