// The TLS identity of private direct links: the certificate we make and keep, a real handshake
// between two identities on loopback, and the per-contact pins that trust rests on.
#include "config/registry.h"
#include "config/store.h"
#include "peer/link/dcc_tls.h"
#include "tests/support/files.h"
#include "tests/support/temp_store.h"
#include "tests/support/wait_for.h"

#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QHostAddress>
#include <QPointer>
#include <QSslServer>
#include <QSslSocket>
#include <QTemporaryDir>
#include <gtest/gtest.h>

#include <algorithm>
#include <optional>

using peer::PeerTrust;
using peer::TlsIdentity;
using test::waitFor;

namespace {

constexpr int kHandshakeWaitMs = 20000;

using test::readFile;
using test::writeTo;

TEST(TlsIdentity, EachFreshIdentityIsNewSelfSignedP256ForTwentyYears)
{
    const std::optional<TlsIdentity> identity = peer::makeTlsIdentity();
    ASSERT_TRUE(identity);
    const QSslCertificate& certificate = identity->certificate;
    EXPECT_TRUE(certificate.isSelfSigned());
    EXPECT_EQ(certificate.subjectInfo(QSslCertificate::CommonName), QStringList{"Kivvo"});
    EXPECT_EQ(certificate.issuerInfo(QSslCertificate::CommonName), QStringList{"Kivvo"});
    EXPECT_EQ(certificate.version(), "3");
    EXPECT_EQ(certificate.publicKey().algorithm(), QSsl::Ec);
    EXPECT_EQ(certificate.publicKey().length(), 256);
    EXPECT_EQ(identity->key.algorithm(), QSsl::Ec);
    EXPECT_EQ(identity->key.type(), QSsl::PrivateKey);

    const QDateTime now = QDateTime::currentDateTimeUtc();
    EXPECT_LT(certificate.effectiveDate(), now.addSecs(-23 * 3600));
    EXPECT_GT(certificate.effectiveDate(), now.addDays(-2));
    EXPECT_GT(certificate.expiryDate(), now.addYears(20).addDays(-2));
    EXPECT_LT(certificate.expiryDate(), now.addYears(20).addDays(2));
    // 128 random bits, top bit clear: sixteen bytes shown as "xx:xx:...".
    EXPECT_EQ(certificate.serialNumber().count(':'), 15);

    const std::optional<TlsIdentity> other = peer::makeTlsIdentity(); // each identity is new
    ASSERT_TRUE(other);
    EXPECT_NE(other->certificate.serialNumber(), certificate.serialNumber());
    EXPECT_NE(peer::certificateFingerprint(other->certificate),
              peer::certificateFingerprint(certificate));
    EXPECT_NE(other->key.toPem(), identity->key.toPem());

    // The fingerprint is the lower-case hex SHA-256 of the DER.
    const QByteArray fingerprint = peer::certificateFingerprint(certificate);
    EXPECT_EQ(fingerprint, certificate.digest(QCryptographicHash::Sha256).toHex());
    EXPECT_EQ(fingerprint.size(), 64);
    EXPECT_EQ(fingerprint, fingerprint.toLower());
    EXPECT_TRUE(peer::certificateFingerprint(QSslCertificate()).isEmpty());

    // A direct link queries the peer's certificate but does not verify it.
    const QSslConfiguration configuration = peer::directLinkTls(*identity);
    EXPECT_EQ(configuration.localCertificate(), certificate);
    EXPECT_EQ(configuration.privateKey(), identity->key);
    EXPECT_EQ(configuration.protocol(), QSsl::TlsV1_2OrLater);
    EXPECT_EQ(configuration.peerVerifyMode(), QSslSocket::QueryPeer);
}

TEST(Fingerprint, DisplayForm)
{
    const struct
    {
        QByteArray hex;
        QString display;
    } cases[] = {
        {"ab", "AB"},
        {"0a1b2c", "0A:1B:2C"},
        {"DEADbeef", "DE:AD:BE:EF"},
        {QByteArray(64, 'f'), QString("FF:").repeated(31) + "FF"},
        {"", ""},
        {"abc", ""},   // odd length
        {"zz", ""},    // not hex
        {"ab:cd", ""}, // already the display form
    };
    for (const auto& c : cases)
        EXPECT_EQ(peer::displayFingerprint(c.hex), c.display) << c.hex.constData();
}

TEST(PeerTrust, JudgedAgainstThePin)
{
    const QByteArray a(64, 'a');
    const QByteArray b(64, 'b');
    const struct
    {
        std::optional<QByteArray> pin;
        QByteArray presented;
        PeerTrust trust;
    } cases[] = {
        {a, a, PeerTrust::Pinned},
        {a, a.toUpper(), PeerTrust::Pinned},
        {std::nullopt, a, PeerTrust::FirstUse},
        {a, b, PeerTrust::Changed},
        {a, {}, PeerTrust::Missing},
        {std::nullopt, {}, PeerTrust::Missing},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(peer::judgePeer(c.pin, c.presented), c.trust)
            << (c.pin ? c.pin->constData() : "(no pin)") << " / " << c.presented.constData();
    }
}

TEST(IdentityFile, MadeOwnerOnlyReadBackAndKeptSo)
{
    QTemporaryDir dir;
    const QString path = dir.filePath("keys/direct-link.pem"); // the folder is made too
    QString note;
    const std::optional<TlsIdentity> made = peer::loadOrMakeTlsIdentity(path, &note);
    ASSERT_TRUE(made);
    EXPECT_TRUE(note.isEmpty()) << note.toStdString();
    EXPECT_EQ(QFileInfo(path).permissions(), QFileDevice::ReadOwner | QFileDevice::WriteOwner
                                                 | QFileDevice::ReadUser | QFileDevice::WriteUser);
    const QByteArray pem = readFile(path);
    EXPECT_TRUE(pem.startsWith("-----BEGIN CERTIFICATE-----"));
    EXPECT_TRUE(pem.contains("PRIVATE KEY-----"));

    const std::optional<TlsIdentity> reread = peer::loadOrMakeTlsIdentity(path, &note);
    ASSERT_TRUE(reread);
    EXPECT_TRUE(note.isEmpty()) << note.toStdString();
    EXPECT_EQ(peer::certificateFingerprint(reread->certificate),
              peer::certificateFingerprint(made->certificate));
    EXPECT_EQ(reread->key.toPem(), made->key.toPem());
    EXPECT_EQ(readFile(path), pem);

    // A loose mode is tightened on read.
    ASSERT_TRUE(QFile::setPermissions(path, QFileDevice::ReadOwner | QFileDevice::WriteOwner
                                                | QFileDevice::ReadGroup | QFileDevice::ReadOther));
    ASSERT_TRUE(peer::loadOrMakeTlsIdentity(path));
    EXPECT_FALSE(QFileInfo(path).permissions() & (QFileDevice::ReadGroup | QFileDevice::ReadOther));
    // Nothing when it cannot be saved: a regular file where the folder should be.
    ASSERT_TRUE(writeTo(dir.filePath("blocked"), "x"));
    EXPECT_FALSE(peer::loadOrMakeTlsIdentity(dir.filePath("blocked/direct-link.pem")));
}

TEST(IdentityFile, DamagedFileIsReplaced)
{
    const std::optional<TlsIdentity> a = peer::makeTlsIdentity();
    const std::optional<TlsIdentity> b = peer::makeTlsIdentity();
    ASSERT_TRUE(a && b);
    const QByteArray whole = a->certificate.toPem() + a->key.toPem();
    const struct
    {
        const char* name;
        QByteArray contents;
    } cases[] = {
        {"empty", ""},
        {"garbage", "not a certificate at all\n"},
        {"truncated", whole.left(whole.size() / 2)},
        {"certificate only", a->certificate.toPem()},
        {"key only", a->key.toPem()},
        {"key before certificate", a->key.toPem() + a->certificate.toPem()},
        {"someone else's key", a->certificate.toPem() + b->key.toPem()},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        QTemporaryDir dir;
        const QString path = dir.filePath("direct-link.pem");
        ASSERT_TRUE(writeTo(path, c.contents));
        QString note;
        const std::optional<TlsIdentity> identity = peer::loadOrMakeTlsIdentity(path, &note);
        ASSERT_TRUE(identity);
        EXPECT_NE(peer::certificateFingerprint(identity->certificate),
                  peer::certificateFingerprint(a->certificate));
        // The old file is kept aside, whole, and the note says where.
        const QStringList aside =
            QDir(dir.path()).entryList({"direct-link.pem.damaged-*"}, QDir::Files);
        ASSERT_EQ(aside.size(), 1);
        EXPECT_EQ(readFile(dir.filePath(aside.first())), c.contents);
        EXPECT_TRUE(note.contains(aside.first())) << note.toStdString();
        // The replacement is what the next start reads, quietly.
        QString again;
        const std::optional<TlsIdentity> reread = peer::loadOrMakeTlsIdentity(path, &again);
        ASSERT_TRUE(reread);
        EXPECT_TRUE(again.isEmpty()) << again.toStdString();
        EXPECT_EQ(peer::certificateFingerprint(reread->certificate),
                  peer::certificateFingerprint(identity->certificate));
        EXPECT_FALSE(QFileInfo(path).permissions()
                     & (QFileDevice::ReadGroup | QFileDevice::ReadOther));
    }
    // A second damaged file is kept aside beside the first, under its own name.
    QTemporaryDir dir;
    const QString path = dir.filePath("direct-link.pem");
    for (const QByteArray& contents : {QByteArray("first"), QByteArray("second")}) {
        ASSERT_TRUE(writeTo(path, contents));
        ASSERT_TRUE(peer::loadOrMakeTlsIdentity(path));
    }
    QByteArrayList kept;
    for (const QString& name : QDir(dir.path()).entryList({"direct-link.pem.damaged-*"}))
        kept << readFile(dir.filePath(name));
    std::sort(kept.begin(), kept.end());
    EXPECT_EQ(kept, (QByteArrayList{"first", "second"}));
}

// A TLS server and a client on loopback, handshaking with whatever configurations they are given.
class TlsLoopback
{
public:
    // Whether both ends finished the handshake; `why` says what stopped them otherwise.
    bool handshake(const QSslConfiguration& listening, const QSslConfiguration& connecting)
    {
        m_server.setSslConfiguration(listening);
        QObject::connect(&m_server, &QSslServer::errorOccurred, &m_server,
                         [this](QSslSocket* socket, QAbstractSocket::SocketError) {
                             m_serverError = socket->errorString();
                         });
        if (!m_server.listen(QHostAddress::LocalHost, 0))
            return false;
        client.setSslConfiguration(connecting);
        QObject::connect(&client, &QSslSocket::sslErrors, &client,
                         [this](const QList<QSslError>& errors) { clientErrors += errors; });
        client.connectToHostEncrypted(QHostAddress(QHostAddress::LocalHost).toString(),
                                      m_server.serverPort());
        waitFor(
            [this] {
                if (!accepted && m_server.hasPendingConnections())
                    accepted = qobject_cast<QSslSocket*>(m_server.nextPendingConnection());
                return (accepted && accepted->isEncrypted() && client.isEncrypted())
                       || client.state() == QAbstractSocket::UnconnectedState
                       || !m_serverError.isEmpty();
            },
            kHandshakeWaitMs);
        return client.isEncrypted() && accepted && accepted->isEncrypted();
    }

    std::string why() const { return (client.errorString() + " / " + m_serverError).toStdString(); }

    QSslSocket client;
    QPointer<QSslSocket> accepted;
    QList<QSslError> clientErrors;

private:
    QSslServer m_server;
    QString m_serverError;
};

// Both ends present their own self-signed certificate, neither is verified against a root, and
// each sees exactly the other's certificate: what a pin is then taken from.
TEST(DirectLinkTls, HandshakeShowsEachSideTheOthersCertificate)
{
    if (!QSslSocket::supportsSsl())
        GTEST_SKIP() << "no TLS backend";
    const std::optional<TlsIdentity> listener = peer::makeTlsIdentity();
    const std::optional<TlsIdentity> connector = peer::makeTlsIdentity();
    ASSERT_TRUE(listener && connector);

    TlsLoopback link;
    ASSERT_TRUE(link.handshake(peer::directLinkTls(*listener), peer::directLinkTls(*connector)))
        << link.why();
    // Qt still reports what a verifying client would have refused; the handshake goes on.
    for (const QSslError& error : link.clientErrors) {
        EXPECT_TRUE(error.error() == QSslError::SelfSignedCertificate
                    || error.error() == QSslError::HostNameMismatch)
            << error.errorString().toStdString();
    }
    EXPECT_GE(link.client.sessionProtocol(), QSsl::TlsV1_2);

    const QByteArray listenerSeen = peer::certificateFingerprint(link.client.peerCertificate());
    const QByteArray connectorSeen = peer::certificateFingerprint(link.accepted->peerCertificate());
    EXPECT_EQ(listenerSeen, peer::certificateFingerprint(listener->certificate));
    EXPECT_EQ(connectorSeen, peer::certificateFingerprint(connector->certificate));

    // And the link carries data both ways.
    link.client.write("hello\n");
    link.accepted->write("welcome\n");
    EXPECT_TRUE(waitFor([&] { return link.accepted->canReadLine() && link.client.canReadLine(); },
                        kHandshakeWaitMs));
    EXPECT_EQ(link.accepted->readLine(), "hello\n");
    EXPECT_EQ(link.client.readLine(), "welcome\n");

    // A client that presents nothing still completes the handshake; the listening side then sees
    // no certificate at all, which is what makes it refuse the link.
    QSslConfiguration anonymous = QSslConfiguration::defaultConfiguration();
    anonymous.setPeerVerifyMode(QSslSocket::QueryPeer);
    TlsLoopback bare;
    ASSERT_TRUE(bare.handshake(peer::directLinkTls(*listener), anonymous)) << bare.why();
    const QByteArray seen = peer::certificateFingerprint(bare.accepted->peerCertificate());
    EXPECT_TRUE(seen.isEmpty());
    EXPECT_EQ(peer::judgePeer(std::nullopt, seen), PeerTrust::Missing);
}

TEST(PeerPins, RoundTripPerNick)
{
    test::TempStore temp;
    config::Store& store = temp.store();
    const QByteArray a(64, 'a');
    const QByteArray b = QByteArray("0123456789abcdef").repeated(4);

    EXPECT_EQ(store.peerPin("alice"), std::nullopt);
    EXPECT_FALSE(temp.registry().hasKey(config::kKeyPeerPins)); // made on the first pin
    ASSERT_TRUE(store.pinPeer("alice", a));
    EXPECT_TRUE(temp.registry().hasKey(config::kKeyPeerPins));
    EXPECT_EQ(store.peerPin("alice"), a);
    EXPECT_EQ(store.peerPin("bob"), std::nullopt);

    ASSERT_TRUE(store.pinPeer("bob", b));
    ASSERT_TRUE(store.pinPeer("alice", b)); // re-pinned once the user accepts the change
    EXPECT_EQ(store.peerPin("alice"), b);
    EXPECT_EQ(store.peerPin("bob"), b);
    // Server pins are a separate set.
    EXPECT_FALSE(temp.registry().hasKey(config::kKeyPins));

    // A forgotten pin is gone and the others stay; store names compare without ASCII case.
    EXPECT_TRUE(store.forgetPin("ALICE"));
    EXPECT_EQ(store.peerPin("alice"), std::nullopt);
    EXPECT_EQ(store.peerPin("bob"), b);
    EXPECT_FALSE(store.forgetPin(""));
    test::TempStore empty;
    EXPECT_TRUE(empty.store().forgetPin("alice")); // nothing to forget, not even the key
}

// Only fingerprints are pinned (the stored form is lower-case), never without the root key, and
// a damaged stored value is no pin.
TEST(PeerPins, OnlyFingerprintsArePinnedAndOnlyFingerprintsRead)
{
    const QByteArray good(64, 'c');
    const struct
    {
        QByteArray nick;
        QByteArray fingerprint;
    } refused[] = {
        {"", good},
        {"carol", ""},
        {"carol", QByteArray(63, 'c')},
        {"carol", QByteArray(65, 'c')},
        {"carol", QByteArray(64, 'C')},
        {"carol", QByteArray(64, 'g')},
    };
    test::TempStore temp;
    for (const auto& c : refused) {
        EXPECT_FALSE(temp.store().pinPeer(c.nick, c.fingerprint)) << c.fingerprint.constData();
        EXPECT_EQ(temp.store().peerPin("carol"), std::nullopt);
    }
    test::TempStore rootless(false);
    EXPECT_FALSE(rootless.store().pinPeer("dave", QByteArray(64, 'd')));
    EXPECT_FALSE(rootless.registry().hasKey(config::kKeyPeerPins));

    const QByteArray damaged[] = {"", "abc", QByteArray(64, 'A'), QByteArray(64, 'a') + "\n",
                                  QByteArray(64, 'x')};
    for (const QByteArray& value : damaged) {
        test::TempStore stored;
        ASSERT_TRUE(stored.registry().createKey(config::kKeyPeerPins));
        ASSERT_TRUE(stored.registry().writeValue(config::kKeyPeerPins, "erin", value));
        EXPECT_EQ(stored.store().peerPin("erin"), std::nullopt) << value.constData();
    }
}

} // namespace
