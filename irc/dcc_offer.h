#pragma once

#include <QByteArray>
#include <QByteArrayView>
#include <QList>
#include <QString>

#include <optional>

namespace irc {

enum class DccKind { Send, Chat, Voice };

// A DCC offer as it travels in a PRIVMSG:
//   \x01DCC CHAT chat <address> <port>\x01
//   \x01DCC SEND "<file>" <address> <port> <size>\x01   (the quotes are optional on receipt)
//   \x01DCC VOICE <address> <port>\x01
// The address is the IPv4 address in host order as an unsigned decimal.
struct DccOffer
{
    DccKind kind = DccKind::Chat;
    QByteArray sender;
    QByteArray fileName; // SEND only, as offered
    quint32 address = 0;
    quint16 port = 0;
    quint64 size = 0; // SEND only

    bool operator==(const DccOffer& o) const
    {
        return kind == o.kind && sender == o.sender && fileName == o.fileName
               && address == o.address && port == o.port && size == o.size;
    }
};

// Reads the offer of `kind` in `line`, whose closing 0x01 is already gone. The offer is looked
// for in the line's trailing text only, never in the sender's prefix. Fields are separated
// by single blanks; numbers are read as C reads them (optional sign, digits up to the first
// non-digit, none giving 0) and wrap modulo 2^32 (the size modulo 2^64); the port keeps its low
// 16 bits. An offer that
// lacks a field gives nothing.
std::optional<DccOffer> parseDccOffer(DccKind kind, QByteArrayView line);

// Why an offer must not be taken up, or nothing when it may be asked about. Ports below 1024
// and addresses that cannot be a peer (0, multicast, reserved, broadcast) are refused so that
// nobody can make us connect to a privileged or local service; loopback only when the server
// itself is on loopback (then every user of it is on this machine).
std::optional<QString> offerRefusal(const DccOffer& offer, bool serverOnLoopback);

// The text after the last '\' or '/' of `path`, or the whole path without either.
QByteArray GetBaseName(QByteArrayView path);

// A name that an offered file may be saved under inside the chosen folder: its base name with
// control characters turned into '_', at most 255 bytes (never cutting a UTF-8 character).
// Nothing when no usable name is left (empty, or only dots such as "." and "..").
std::optional<QByteArray> SafeFileName(QByteArrayView offered);

// The offers we send, without CR LF; nothing when the nick or file name could break the line.
std::optional<QByteArray> formatChatOffer(QByteArrayView nick, quint32 address, quint16 port);
std::optional<QByteArray> formatFileOffer(QByteArrayView nick, QByteArrayView baseName,
                                          quint32 address, quint16 port, quint64 size);
std::optional<QByteArray> formatVoiceOffer(QByteArrayView nick, quint32 address, quint16 port);

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
