#pragma once

#include <QByteArray>
#include <QByteArrayView>
#include <QHostAddress>
#include <QList>
#include <QString>

#include <optional>

namespace irc {

enum class DccKind { Send, Chat, Voice };

// A DCC offer as it travels in a PRIVMSG:
//   \x01DCC CHAT chat <address> <port> [<token>]\x01
//   \x01DCC SEND "<file>" <address> <port> <size> [<token>]\x01   (quotes optional on receipt)
//   \x01DCC VOICE <address> <port>\x01
// The address is the IPv4 address in host order as an unsigned decimal, or an IPv6 literal.
// SCHAT and SSEND are the same offers for a link that runs TLS. A passive (reverse) offer names
// port 0 and a token: the receiver listens and answers with the same offer carrying its own
// address and port and that token, and the offering side connects.
struct DccOffer
{
    DccKind kind = DccKind::Chat;
    QByteArray sender;
    QByteArray fileName; // SEND only, as offered
    // Where to connect: IPv4 when the field was a number, IPv6 when it was a literal.
    QHostAddress address = QHostAddress(quint32(0));
    quint16 port = 0;
    quint64 size = 0;    // SEND only
    QByteArray token;    // passive offers and the answers to them
    bool secure = false; // SCHAT / SSEND

    // An active offer over IPv4, as most offers are.
    static DccOffer active(DccKind kind, const QByteArray& sender, const QByteArray& fileName,
                           quint32 address, quint16 port, quint64 size = 0)
    {
        DccOffer offer;
        offer.kind = kind;
        offer.sender = sender;
        offer.fileName = fileName;
        offer.address = QHostAddress(address);
        offer.port = port;
        offer.size = size;
        return offer;
    }

    // The offering side waits for us to listen and answer.
    bool passive() const { return port == 0 && !token.isEmpty(); }

    bool operator==(const DccOffer& o) const
    {
        return kind == o.kind && sender == o.sender && fileName == o.fileName
               && address == o.address && port == o.port && size == o.size && token == o.token
               && secure == o.secure;
    }
};

// The type word that opens the arguments of a "\x01DCC" message (see irc::Ctcp), by how it
// starts: an offer of some kind, or a RESUME / ACCEPT. Nothing for any other type, which is
// shown as text.
enum class DccResumeKind { Resume, Accept };
struct DccType
{
    std::optional<DccKind> offer;
    bool secure = false; // SCHAT / SSEND
    std::optional<DccResumeKind> resume;
};
std::optional<DccType> readDccType(QByteArrayView arguments);

// Reads the offer of `kind` from the DCC message's `arguments` ("SEND <file> <address> ...",
// the closing 0x01 already gone). Fields are separated by single blanks; numbers are read as C
// reads them (optional sign, digits up to the first non-digit, none giving 0) and wrap modulo
// 2^32 (the size modulo 2^64); the port keeps its low 16 bits. An address field with a ':' is
// an IPv6 literal and must be a valid one. An offer that lacks a field, names an unreadable
// IPv6 address or is not of `kind` gives nothing. `secure` reads the SCHAT / SSEND forms.
std::optional<DccOffer> parseDccOffer(DccKind kind, QByteArrayView sender, QByteArrayView arguments,
                                      bool secure = false);

// DCC RESUME asks the sender of a file to start at `position`; DCC ACCEPT is its yes:
//   \x01DCC RESUME <file> <port> <position> [<token>]\x01
// The file name is echoed but means nothing: the offer is found by its port, or, for a passive
// one (port 0), by its token.
struct DccResume
{
    DccResumeKind kind = DccResumeKind::Resume;
    QByteArray sender;
    QByteArray fileName;
    quint16 port = 0;
    // Nothing when the field is not a plain non-negative decimal that fits 64 bits: a resume
    // position is never guessed at.
    std::optional<quint64> position;
    QByteArray token;

    bool operator==(const DccResume& o) const
    {
        return kind == o.kind && sender == o.sender && fileName == o.fileName && port == o.port
               && position == o.position && token == o.token;
    }
};
// Read from the arguments as parseDccOffer() reads an offer: "RESUME <file> <port> <position>".
std::optional<DccResume> parseDccResume(DccResumeKind kind, QByteArrayView sender,
                                        QByteArrayView arguments);
// Nothing when the nick or token could break the line or there is no file name; the name goes
// as formatOffer() sends it, quoted when it holds a blank.
std::optional<QByteArray> formatDccResume(DccResumeKind kind, QByteArrayView nick,
                                          QByteArrayView fileName, quint16 port, quint64 position,
                                          QByteArrayView token = {});

// DCC REJECT is the answer of a peer that declined an offer, sent as a CTCP reply (a NOTICE),
// as mIRC and irssi send and read it:
//   \x01DCC REJECT SEND <file>\x01   \x01DCC REJECT CHAT chat\x01
// (SSEND and SCHAT for the private forms). The file name is the one the offer gave.
struct DccReject
{
    QByteArray sender;
    DccKind kind = DccKind::Chat;
    bool secure = false;
    QByteArray argument; // the file name of a SEND (its quotes gone), "chat" for a CHAT

    bool operator==(const DccReject& o) const
    {
        return sender == o.sender && kind == o.kind && secure == o.secure && argument == o.argument;
    }
};
// Read from the arguments of a DCC message ("REJECT <type> <argument>"); nothing for any other
// message, a type other than SEND, SSEND, CHAT or SCHAT, or a SEND without a name.
std::optional<DccReject> parseDccReject(QByteArrayView sender, QByteArrayView arguments);
// Our answer to `offer`, declined: the NOTICE line without CR LF, naming what the offer named.
// Nothing when the sender's nick or the name could break the line.
std::optional<QByteArray> formatDccReject(const DccOffer& offer);
// Whether `reject` names the file we offered as `baseName`, as formatOffer() sent it.
bool rejectNamesFile(const DccReject& reject, QByteArrayView baseName);

// Why an offer must not be taken up, or nothing when it may be asked about. Ports below 1024
// and addresses that cannot be a peer (0, multicast, reserved, broadcast, link-local) are
// refused so that nobody can make us connect to a privileged or local service; loopback only
// when the server itself is on loopback (then every user of it is on this machine). A passive
// offer is not connected to, so only its token matters; port 0 without a token is refused.
std::optional<QString> offerRefusal(const DccOffer& offer, bool serverOnLoopback);

// The text after the last '\' or '/' of `path`, or the whole path without either.
QByteArray GetBaseName(QByteArrayView path);

// A name that an offered file may be saved under inside the chosen folder: its base name with
// control characters and leading dots turned into '_', at most 250 bytes (never cutting a UTF-8
// character) less the ".part" that the part file adds. Nothing when no usable name is left (empty,
// or only dots such as "." and "..").
std::optional<QByteArray> SafeFileName(QByteArrayView offered);

// The address field of an offer: IPv4 as its host-order decimal, IPv6 as its literal (an
// IPv4-mapped address goes as IPv4, which every client reads).
QByteArray offerAddressField(const QHostAddress& address);

// An offer we send, to `nick`; `address` is the field as offerAddressField() writes it, and the
// token goes last when there is one.
struct OutgoingOffer
{
    DccKind kind = DccKind::Chat;
    QByteArray nick;
    QByteArray address;
    quint16 port = 0;
    QByteArray baseName; // SEND only
    quint64 size = 0;    // SEND only
    QByteArray token;
    bool secure = false;
};
// The offer line without CR LF; nothing when the nick, address or token could break the line. A
// file name's double quotes and control characters (0x01 among them) go as '_': the name is
// the peer's to read, the line must stay whole.
std::optional<QByteArray> formatOffer(const OutgoingOffer& offer);
std::optional<QByteArray> formatChatOffer(QByteArrayView nick, quint32 address, quint16 port);
std::optional<QByteArray> formatFileOffer(QByteArrayView nick, QByteArrayView baseName,
                                          quint32 address, quint16 port, quint64 size);
std::optional<QByteArray> formatVoiceOffer(QByteArrayView nick, quint32 address, quint16 port);

// A token for a passive offer of ours: a positive decimal, as the clients that started the
// convention write it.
QByteArray makeOfferToken(quint32 random);

// Listening ports are 1024..4999.
inline constexpr quint16 kFirstOfferPort = 1024;
inline constexpr int kOfferPortCount = 3976;
quint16 offerPort(quint32 random);
// `count` ports to try in turn, starting at offerPort(random): a taken port costs one more
// try, not the offer.
QList<quint16> offerPortsToTry(quint32 random, int count = 8);

// The address to put into an offer: with queryip the address the server saw (0 until the WHO
// reply is resolved), else the local address of the server connection (0 when unknown).
quint32 GetLocalAddress(bool queryip, quint32 serverSeenAddress,
                        std::optional<quint32> localAddress);

// Offers waiting for the user's answer, at most kMaxPending at a time: a flood of offers from
// rotating nicks must not stack up questions. The first refusal of a burst is reported, so the
// caller notes it once.
class PendingOffers
{
public:
    static constexpr int kMaxPending = 3;
    enum class Admission { Admitted, RefusedFirst, Refused };

    Admission tryBegin();
    void end();
    int pending() const { return m_pending; }

private:
    int m_pending = 0;
    bool m_noted = false;
};

} // namespace irc
