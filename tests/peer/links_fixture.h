#pragma once

#include "peer/chat/chat_sessions.h"
#include "peer/chat/chat_window.h"
#include "peer/link/dcc_tls.h"
#include "peer/link/peer_key_question.h"
#include "peer/transfer/file_receiver.h"
#include "peer/transfer/transfer.h"
#include "peer/transfer/transfers.h"
#include "tests/support/files.h"
#include "tests/support/scripted_host.h"
#include "tests/support/wait_for.h"

#include <QTcpServer>
#include <QTcpSocket>
#include <QTemporaryDir>
#include <gtest/gtest.h>

namespace test {

// Alice's and bob's sides of direct links, with a folder for the files they carry: what the
// link and transfer suites share.
class LinksTest : public ::testing::Test
{
protected:
    QString write(const QString& name, const QByteArray& data)
    {
        return test::writeFile(dir, name, data);
    }
    static QByteArray read(const QString& path) { return test::readFile(path); }
    static bool finished(const peer::Transfers& transfers, int index)
    {
        return transfers.count() > index && transfers.at(index)->isFinished();
    }
    // Our opened `receiver` connected to a scripted `sender`; the sender's end.
    static QTcpSocket* connectReceiver(QTcpServer& sender, peer::FileReceiver& receiver)
    {
        EXPECT_TRUE(sender.listen(QHostAddress::LocalHost, 0));
        receiver.connectTo(QHostAddress::LocalHost, sender.serverPort());
        EXPECT_TRUE(waitFor([&] { return sender.hasPendingConnections(); }));
        return sender.nextPendingConnection();
    }
    // At least `size` bytes from `socket`, or what came within the wait.
    static QByteArray readFrom(QTcpSocket& socket, qsizetype size)
    {
        waitFor([&] { return socket.bytesAvailable() >= size; });
        return socket.read(size);
    }
    // Each side with a certificate of its own, its offers private.
    void makePrivate()
    {
        alice.identity = peer::makeTlsIdentity();
        bob.identity = peer::makeTlsIdentity();
        ASSERT_TRUE(alice.identity && bob.identity);
        alice.privateOffers = bob.privateOffers = true;
    }
    static QByteArray fingerprint(const ScriptedHost& host)
    {
        return peer::certificateFingerprint(host.identity->certificate);
    }
    // Alice offers a file privately to bob, who takes it; the offer.
    std::optional<irc::DccOffer> offerPrivately(peer::Transfers& from, peer::Transfers& to,
                                                const QByteArray& data)
    {
        const int index = to.count();
        EXPECT_TRUE(from.offerFile("bob", write("private.bin", data)));
        const auto offer = alice.lastOffer(irc::DccKind::Send, true);
        EXPECT_TRUE(offer && offer->secure);
        EXPECT_TRUE(alice.sent.last().contains("DCC SSEND"));
        if (offer) {
            EXPECT_TRUE(to.receive(*offer, dir.filePath(QStringLiteral("got%1.bin").arg(index))));
        }
        return offer;
    }
    // Alice offers bob a private direct chat, and bob takes it.
    void chatPrivately(peer::ChatSessions& aliceChats, peer::ChatSessions& bobChats)
    {
        aliceChats.startChat("bob", peer::ChatMode::Direct);
        const auto offer = alice.lastOffer(irc::DccKind::Chat, true);
        ASSERT_TRUE(offer);
        EXPECT_TRUE(alice.sent.last().contains("DCC SCHAT chat "));
        bobChats.acceptOffer(*offer);
    }
    // The question about a new certificate in the window of the first of `chats`, if it asks.
    static peer::PeerKeyQuestion* questionIn(const peer::ChatSessions& chats)
    {
        const peer::ChatWindow* window =
            chats.records().CountRecords() > 0 ? chats.windowOf(*chats.records().at(0)) : nullptr;
        return window ? window->findChild<peer::PeerKeyQuestion*>() : nullptr;
    }

    QTemporaryDir dir;
    ScriptedHost alice{"alice"};
    ScriptedHost bob{"bob"};
};

} // namespace test
