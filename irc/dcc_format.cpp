#include "irc/commands.h"
#include "irc/dcc_offer.h"

namespace irc {

namespace {

bool isLineSafe(QByteArrayView text)
{
    return !text.contains('\r') && !text.contains('\n') && !text.contains('\0');
}

bool isNickSafe(QByteArrayView nick)
{
    return !nick.isEmpty() && isLineSafe(nick) && !nick.contains(' ') && !nick.startsWith(':');
}

QByteArray number(quint64 value)
{
    return QByteArray::number(value);
}

bool isControl(char c)
{
    const auto u = static_cast<unsigned char>(c);
    return u < 0x20 || u == 0x7F;
}

// A file name as a line we send carries it: a double quote would end a quoted name early and a
// 0x01 the whole CTCP message, so they and every other control character go as '_'. However a
// peer reads the field then, quoted or not, it is one name and the line stays whole.
QByteArray fileNameField(QByteArrayView name)
{
    QByteArray field = name.toByteArray();
    for (char& c : field) {
        if (c == '"' || isControl(c))
            c = '_';
    }
    return field;
}

} // namespace

std::optional<QByteArray> formatDccResume(DccResumeKind kind, QByteArrayView nick,
                                          QByteArrayView fileName, quint16 port, quint64 position,
                                          QByteArrayView token)
{
    if (!isNickSafe(nick) || fileName.isEmpty() || !isLineSafe(token) || token.contains(' '))
        return std::nullopt;
    // A name with a blank is quoted, or the port would be read from inside it.
    const QByteArray field = fileNameField(fileName);
    const QByteArray name = field.contains(' ') ? '"' + field + '"' : field;
    QByteArray body = (kind == DccResumeKind::Resume ? "DCC RESUME " : "DCC ACCEPT ") + name + ' '
                      + number(port) + ' ' + number(position);
    if (!token.isEmpty())
        body += ' ' + token.toByteArray();
    // An offer longer than a server line would arrive cut, its numbers lost: the factory
    // refuses it.
    return Command::ctcp(nick, body);
}

QByteArray offerAddressField(const QHostAddress& address)
{
    bool isV4 = false;
    const quint32 v4 = address.toIPv4Address(&isV4);
    if (isV4 || address.isNull())
        return number(v4);
    QHostAddress bare = address;
    bare.setScopeId({});
    return bare.toString().toLatin1();
}

std::optional<QByteArray> formatOffer(const OutgoingOffer& offer)
{
    if (!isNickSafe(offer.nick) || !isLineSafe(offer.address) || offer.address.contains(' ')
        || !isLineSafe(offer.token) || offer.token.contains(' '))
        return std::nullopt;
    QByteArray body;
    switch (offer.kind) {
    case DccKind::Chat:
        body += offer.secure ? "DCC SCHAT chat " : "DCC CHAT chat ";
        body += offer.address + ' ' + number(offer.port);
        break;
    case DccKind::Send:
        body += offer.secure ? "DCC SSEND \"" : "DCC SEND \"";
        body += fileNameField(offer.baseName) + "\" " + offer.address + ' ' + number(offer.port)
                + ' ' + number(offer.size);
        break;
    case DccKind::Voice:
        body += "DCC VOICE " + offer.address + ' ' + number(offer.port);
        break;
    }
    if (!offer.token.isEmpty())
        body += ' ' + offer.token;
    return Command::ctcp(offer.nick, body);
}

namespace {

OutgoingOffer activeOffer(DccKind kind, QByteArrayView nick, quint32 address, quint16 port)
{
    OutgoingOffer offer;
    offer.kind = kind;
    offer.nick = nick.toByteArray();
    offer.address = number(address);
    offer.port = port;
    return offer;
}

} // namespace

std::optional<QByteArray> formatChatOffer(QByteArrayView nick, quint32 address, quint16 port)
{
    return formatOffer(activeOffer(DccKind::Chat, nick, address, port));
}

std::optional<QByteArray> formatFileOffer(QByteArrayView nick, QByteArrayView baseName,
                                          quint32 address, quint16 port, quint64 size)
{
    OutgoingOffer offer = activeOffer(DccKind::Send, nick, address, port);
    offer.baseName = baseName.toByteArray();
    offer.size = size;
    return formatOffer(offer);
}

std::optional<QByteArray> formatVoiceOffer(QByteArrayView nick, quint32 address, quint16 port)
{
    return formatOffer(activeOffer(DccKind::Voice, nick, address, port));
}

QByteArray makeOfferToken(quint32 random)
{
    return number(quint64(random % 999'999'999u) + 1u);
}

quint16 offerPort(quint32 random)
{
    return quint16(kFirstOfferPort + random % kOfferPortCount);
}

QList<quint16> offerPortsToTry(quint32 random, int count)
{
    QList<quint16> ports;
    const quint32 first = random % kOfferPortCount;
    for (int i = 0; i < count && i < kOfferPortCount; ++i)
        ports << quint16(kFirstOfferPort + (first + quint32(i)) % kOfferPortCount);
    return ports;
}

quint32 GetLocalAddress(bool queryip, quint32 serverSeenAddress,
                        std::optional<quint32> localAddress)
{
    if (queryip)
        return serverSeenAddress;
    return localAddress.value_or(0);
}

PendingOffers::Admission PendingOffers::tryBegin()
{
    if (m_pending >= kMaxPending) {
        if (m_noted)
            return Admission::Refused;
        m_noted = true;
        return Admission::RefusedFirst;
    }
    ++m_pending;
    return Admission::Admitted;
}

void PendingOffers::end()
{
    if (m_pending > 0)
        --m_pending;
    if (m_pending == 0)
        m_noted = false;
}

std::optional<QByteArray> formatDccReject(const DccOffer& offer)
{
    if (!isNickSafe(offer.sender) || offer.kind == DccKind::Voice)
        return std::nullopt;
    const bool file = offer.kind == DccKind::Send;
    QByteArray body = "DCC REJECT ";
    body += offer.secure ? (file ? "SSEND " : "SCHAT ") : (file ? "SEND " : "CHAT ");
    if (!file)
        return Command::ctcpReply(offer.sender, body + "chat");
    // Unquoted, as the offer's name was read: the peer compares the whole rest of the line.
    const QByteArray name = fileNameField(offer.fileName);
    if (name.isEmpty())
        return std::nullopt;
    return Command::ctcpReply(offer.sender, body + name);
}

bool rejectNamesFile(const DccReject& reject, QByteArrayView baseName)
{
    return reject.kind == DccKind::Send && !baseName.isEmpty()
           && reject.argument == fileNameField(baseName);
}

} // namespace irc
