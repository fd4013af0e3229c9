#include "peer/link/dcc_tls.h"

#include <QCryptographicHash>
#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSaveFile>
#include <QSslSocket>

#include <memory>
#include <openssl/bio.h>
#include <openssl/bn.h>
#include <openssl/evp.h>
#include <openssl/pem.h>
#include <openssl/rand.h>
#include <openssl/x509.h>

namespace peer {

namespace {

constexpr long kOneDaySeconds = 24 * 60 * 60;
constexpr int kValidDays = 20 * 365 + 5; // twenty years with their leap days
constexpr int kSerialBytes = 16;
constexpr char kCommonName[] = "Kivvo";

// Every OpenSSL object is owned by one of these, so that no failure path leaks.
template <typename T, void (*Free)(T*)> struct Freer
{
    void operator()(T* object) const { Free(object); }
};
using Bio = std::unique_ptr<BIO, Freer<BIO, BIO_free_all>>;
using Key = std::unique_ptr<EVP_PKEY, Freer<EVP_PKEY, EVP_PKEY_free>>;
using Certificate = std::unique_ptr<X509, Freer<X509, X509_free>>;
using Name = std::unique_ptr<X509_NAME, Freer<X509_NAME, X509_NAME_free>>;
using BigNumber = std::unique_ptr<BIGNUM, Freer<BIGNUM, BN_free>>;
using Integer = std::unique_ptr<ASN1_INTEGER, Freer<ASN1_INTEGER, ASN1_INTEGER_free>>;

QByteArray bioBytes(BIO* bio)
{
    char* data = nullptr;
    const long size = BIO_get_mem_data(bio, &data);
    return size > 0 ? QByteArray(data, size) : QByteArray();
}

bool setRandomSerial(X509* certificate)
{
    unsigned char bytes[kSerialBytes];
    if (RAND_bytes(bytes, sizeof bytes) != 1)
        return false;
    // Keep the top bit clear and the next one set: a positive serial of the full 128 bits.
    bytes[0] = static_cast<unsigned char>((bytes[0] & 0x7f) | 0x40);
    BigNumber number(BN_bin2bn(bytes, sizeof bytes, nullptr));
    if (!number)
        return false;
    Integer serial(BN_to_ASN1_INTEGER(number.get(), nullptr));
    return serial && X509_set_serialNumber(certificate, serial.get()) == 1;
}

bool setKivvoName(X509* certificate)
{
    Name name(X509_NAME_new());
    if (!name
        || X509_NAME_add_entry_by_txt(name.get(), "CN", MBSTRING_ASC,
                                      reinterpret_cast<const unsigned char*>(kCommonName), -1, -1,
                                      0)
               != 1)
        return false;
    // Self-signed: the subject is its own issuer.
    return X509_set_subject_name(certificate, name.get()) == 1
           && X509_set_issuer_name(certificate, name.get()) == 1;
}

// Carries an OpenSSL pair over to Qt through PEM, the one form both sides read.
std::optional<TlsIdentity> toQt(X509* certificate, EVP_PKEY* key)
{
    Bio certificatePem(BIO_new(BIO_s_mem()));
    Bio keyPem(BIO_new(BIO_s_mem()));
    if (!certificatePem || !keyPem || PEM_write_bio_X509(certificatePem.get(), certificate) != 1
        || PEM_write_bio_PrivateKey(keyPem.get(), key, nullptr, nullptr, 0, nullptr, nullptr) != 1)
        return std::nullopt;
    TlsIdentity identity{QSslCertificate(bioBytes(certificatePem.get()), QSsl::Pem),
                         QSslKey(bioBytes(keyPem.get()), QSsl::Ec, QSsl::Pem)};
    if (identity.certificate.isNull() || identity.key.isNull())
        return std::nullopt;
    return identity;
}

QByteArray toPem(const TlsIdentity& identity)
{
    return identity.certificate.toPem() + identity.key.toPem();
}

// Reads a saved identity; the reason it is unusable otherwise.
std::optional<TlsIdentity> readIdentity(const QString& path, QString* why)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) {
        *why = file.errorString();
        return std::nullopt;
    }
    const QByteArray pem = file.readAll();
    Bio bio(BIO_new_mem_buf(pem.constData(), int(pem.size())));
    if (!bio) {
        *why = QStringLiteral("out of memory");
        return std::nullopt;
    }
    Certificate certificate(PEM_read_bio_X509(bio.get(), nullptr, nullptr, nullptr));
    Key key(certificate ? PEM_read_bio_PrivateKey(bio.get(), nullptr, nullptr, nullptr) : nullptr);
    if (!certificate || !key) {
        *why = QStringLiteral("it does not hold a certificate followed by its private key");
        return std::nullopt;
    }
    // A key that does not belong to the certificate would fail every handshake, and a contact
    // who pinned the certificate could not tell why.
    if (X509_check_private_key(certificate.get(), key.get()) != 1) {
        *why = QStringLiteral("its private key does not belong to its certificate");
        return std::nullopt;
    }
    std::optional<TlsIdentity> identity = toQt(certificate.get(), key.get());
    if (!identity) {
        *why = QStringLiteral("it could not be loaded");
        return std::nullopt;
    }
    if (identity->certificate.expiryDate() <= QDateTime::currentDateTimeUtc()) {
        *why = QStringLiteral("its certificate has expired");
        return std::nullopt;
    }
    return identity;
}

constexpr QFileDevice::Permissions kOwnerOnly = QFileDevice::ReadOwner | QFileDevice::WriteOwner;
constexpr QFileDevice::Permissions kOthers = QFileDevice::ReadGroup | QFileDevice::WriteGroup
                                             | QFileDevice::ExeGroup | QFileDevice::ReadOther
                                             | QFileDevice::WriteOther | QFileDevice::ExeOther;

bool saveIdentity(const QString& path, const TlsIdentity& identity)
{
    QDir().mkpath(QFileInfo(path).absolutePath());
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly))
        return false;
    const QByteArray pem = toPem(identity);
    // The private key is never readable by others, not even for the moment before the rename.
    return file.setPermissions(kOwnerOnly) && file.write(pem) == pem.size() && file.commit();
}

// Renames a damaged identity file to "<path>.damaged-<UTC time>" (with a number after it when
// that is taken); the new name, or nothing when the rename failed.
std::optional<QString> keepAside(const QString& path)
{
    const QString stem =
        path + QStringLiteral(".damaged-")
        + QDateTime::currentDateTimeUtc().toString(QStringLiteral("yyyyMMddTHHmmssZ"));
    QString aside = stem;
    for (int n = 1; QFileInfo::exists(aside) || QFileInfo(aside).isSymLink(); ++n) {
        if (n > 100)
            return std::nullopt;
        aside = stem + QLatin1Char('-') + QString::number(n);
    }
    if (!QFile::rename(path, aside))
        return std::nullopt;
    return aside;
}

bool isHexDigit(char c)
{
    return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F');
}

} // namespace

std::optional<TlsIdentity> makeTlsIdentity()
{
    Key key(EVP_PKEY_Q_keygen(nullptr, nullptr, "EC", "P-256"));
    Certificate certificate(X509_new());
    if (!key || !certificate)
        return std::nullopt;
    X509* x = certificate.get();
    const bool built = X509_set_version(x, 2) == 1 // version 3
                       && setRandomSerial(x)
                       && X509_gmtime_adj(X509_getm_notBefore(x), -kOneDaySeconds)
                       && X509_time_adj_ex(X509_getm_notAfter(x), kValidDays, 0, nullptr)
                       && X509_set_pubkey(x, key.get()) == 1 && setKivvoName(x)
                       && X509_sign(x, key.get(), EVP_sha256()) > 0;
    if (!built)
        return std::nullopt;
    return toQt(x, key.get());
}

std::optional<TlsIdentity> loadOrMakeTlsIdentity(const QString& path, QString* note)
{
    if (QFileInfo::exists(path)) {
        QString why;
        if (std::optional<TlsIdentity> identity = readIdentity(path, &why)) {
            // A copy restored from a backup may have lost its mode; the key stays ours alone.
            if (QFile::permissions(path) & kOthers)
                QFile::setPermissions(path, kOwnerOnly);
            return identity;
        }
        // Contacts pinned the certificate in it: the user may want it back, so it is never
        // overwritten, only put aside.
        const std::optional<QString> aside = keepAside(path);
        if (!aside) {
            if (note)
                *note = QStringLiteral("The direct link identity in %1 cannot be used because %2, "
                                       "and it could not be put aside; no new one was made.")
                            .arg(QDir::toNativeSeparators(path), why);
            return std::nullopt;
        }
        if (note)
            *note = QStringLiteral("The direct link identity in %1 was replaced because %2; the "
                                   "old file is kept as %3.")
                        .arg(QDir::toNativeSeparators(path), why, QDir::toNativeSeparators(*aside));
    }
    std::optional<TlsIdentity> identity = makeTlsIdentity();
    if (!identity || !saveIdentity(path, *identity))
        return std::nullopt;
    return identity;
}

QByteArray certificateFingerprint(const QSslCertificate& certificate)
{
    if (certificate.isNull())
        return {};
    return QCryptographicHash::hash(certificate.toDer(), QCryptographicHash::Sha256).toHex();
}

QString displayFingerprint(const QByteArray& hexFingerprint)
{
    if (hexFingerprint.isEmpty() || hexFingerprint.size() % 2 != 0)
        return {};
    QString display;
    display.reserve(hexFingerprint.size() / 2 * 3);
    for (qsizetype i = 0; i < hexFingerprint.size(); i += 2) {
        if (!isHexDigit(hexFingerprint[i]) || !isHexDigit(hexFingerprint[i + 1]))
            return {};
        if (i > 0)
            display += QLatin1Char(':');
        display += QLatin1String(hexFingerprint.mid(i, 2)).toString().toUpper();
    }
    return display;
}

QSslConfiguration directLinkTls(const TlsIdentity& identity)
{
    QSslConfiguration configuration = QSslConfiguration::defaultConfiguration();
    configuration.setLocalCertificate(identity.certificate);
    configuration.setPrivateKey(identity.key);
    configuration.setProtocol(QSsl::TlsV1_2OrLater);
    configuration.setPeerVerifyMode(QSslSocket::QueryPeer);
    // No authority vouches for a contact, so the system roots have nothing to add.
    configuration.setCaCertificates({});
    return configuration;
}

PeerTrust judgePeer(const std::optional<QByteArray>& pin, const QByteArray& presentedFingerprint)
{
    if (presentedFingerprint.isEmpty())
        return PeerTrust::Missing;
    if (!pin)
        return PeerTrust::FirstUse;
    return pin->compare(presentedFingerprint, Qt::CaseInsensitive) == 0 ? PeerTrust::Pinned
                                                                        : PeerTrust::Changed;
}

} // namespace peer
