// A declined offer, both ways: our No goes to the sender as DCC REJECT (a CTCP reply, as mIRC
// and irssi send it), and the REJECT of a peer ends the wait of our own offer with its reason.
#include "peer/transfer/transfer_window.h"
#include "tests/support/connected_program.h"
#include "tests/support/files.h"

#include <QLabel>
#include <QTemporaryDir>

using app::Command;
using test::waitFor;

namespace {

class DccRejectTest : public test::ConnectedProgramTest
{
protected:
    void SetUp() override
    {
        test::CoreOptions options;
        options.contacts = {"bob"};
        connect(options);
        ASSERT_TRUE(showOnline({"bob"}));
        core->contacts()->selectContact("bob");
    }
    bool sent(const QByteArray& line)
    {
        return waitFor([&] { return server.received().contains(line + "\r\n"); });
    }
    QTemporaryDir dir;
};

} // namespace

// The sender of a declined offer waited three minutes on "Awaiting Connection...".
TEST_F(DccRejectTest, DecliningAnOfferTellsItsSender)
{
    const struct
    {
        QByteArray offer;
        std::deque<bool> answers;
        QByteArray reject;
    } cases[] = {
        {"CHAT chat 16909060 4000", {false}, "DCC REJECT CHAT chat"},
        {"SCHAT chat 16909060 4000", {false}, "DCC REJECT SCHAT chat"},
        {"SEND \"my file.txt\" 16909060 5000 10", {false}, "DCC REJECT SEND my file.txt"},
        // Accepted, but no place given for it: declined all the same.
        {"SEND f.txt 16909060 5000 10", {true}, "DCC REJECT SEND f.txt"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.offer.toStdString());
        core->prompter->answers = c.answers;
        core->prompter->inputs = {std::nullopt};
        server.send(":bob!b@h PRIVMSG alice :\x01"
                    "DCC "
                    + c.offer + "\x01\r\n");
        EXPECT_TRUE(sent("NOTICE bob :\x01" + c.reject + "\x01"));
    }
    // An offer refused without a question (here: to a privileged port) is not answered: a
    // forged offer must not make us write to whoever it names.
    server.send(":mallory!m@h PRIVMSG alice :\x01"
                "DCC CHAT chat 16909060 80\x01\r\n");
    ASSERT_TRUE(linesRead("refused"));
    EXPECT_FALSE(server.received().contains("NOTICE mallory"));
}

TEST_F(DccRejectTest, OurWaitingFileAndChatOffersReadTheDecline)
{
    const QString path = test::writeFile(dir, "f.bin", QByteArray(100, 'x'));
    ASSERT_TRUE(core->sendFile("bob", path));
    ASSERT_TRUE(waitFor([&] { return core->program->transfers().count() == 1; }));
    peer::Transfer* transfer = core->program->transfers().at(0);
    ASSERT_EQ(transfer->status(), peer::Transfer::Status::Awaiting);
    // Hostile or mistaken: someone we offered nothing, another file, another kind.
    server.send(":mallory!m@h NOTICE alice :\x01"
                "DCC REJECT SEND f.bin\x01\r\n"
                ":bob!b@h NOTICE alice :\x01"
                "DCC REJECT SEND other.bin\x01\r\n"
                ":bob!b@h NOTICE alice :\x01"
                "DCC REJECT CHAT chat\x01\r\n");
    ASSERT_TRUE(linesRead("others"));
    EXPECT_EQ(transfer->status(), peer::Transfer::Status::Awaiting);

    server.send(":bob!b@h NOTICE alice :\x01"
                "DCC REJECT SEND f.bin\x01\r\n");
    ASSERT_TRUE(waitFor([&] { return transfer->status() == peer::Transfer::Status::Stopped; }));
    peer::TransferWindow* window = core->program->transfers().windowOf(transfer);
    ASSERT_NE(window, nullptr);
    EXPECT_EQ(window->statusLabel()->text(), "bob declined the file");
    EXPECT_EQ(window->windowTitle(), "File Transfer - f.bin (Declined)");

    // The same for a chat offer.
    core->run(Command::DccChat);
    ASSERT_TRUE(waitFor([&] { return core->chat(0) != nullptr; }));
    peer::ChatWindow* chat = core->chat(0);
    server.send(":mallory!m@h NOTICE alice :\x01"
                "DCC REJECT CHAT chat\x01\r\n"
                ":bob!b@h NOTICE alice :\x01"
                "DCC REJECT SEND chat\x01\r\n");
    ASSERT_TRUE(linesRead("others.chat"));
    EXPECT_FALSE(chat->transcript().contains("declined"));

    server.send(":bob!b@h NOTICE alice :\x01"
                "DCC REJECT CHAT chat\x01\r\n");
    EXPECT_TRUE(waitFor([&] { return chat->transcript().contains("*bob declined the chat*\r\n"); }))
        << chat->transcript().toStdString();
}
