#include "irc/dcc_offer.h"

#include "irc/commands.h"
#include "irc/ctcp.h"
#include "irc/message_dispatcher.h"

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

// C's reading of a number, wrapped to 64 bits (strtoull's reading of a sign included).
quint64 readNumber64(QByteArrayView text)
{
    qsizetype i = 0;
    while (i < text.size() && text[i] == ' ')
        ++i;
    bool negative = false;
    if (i < text.size() && (text[i] == '+' || text[i] == '-')) {
        negative = text[i] == '-';
        ++i;
    }
    quint64 value = 0;
    for (; i < text.size() && text[i] >= '0' && text[i] <= '9'; ++i)
        value = value * 10u + quint64(text[i] - '0');
    return negative ? quint64(0u - value) : value;
}

// The same, wrapped to 32 bits: addresses and ports.
quint32 readNumber(QByteArrayView text)
{
    return quint32(readNumber64(text));
}

// The next field of `rest`: up to the next blank, which must be there unless `last`.
std::optional<QByteArrayView> takeField(QByteArrayView& rest, bool last)
{
    const qsizetype blank = rest.indexOf(' ');
    if (blank < 0) {
        if (!last)
            return std::nullopt;
        const QByteArrayView field = rest;
        rest = {};
        return field;
    }
    const QByteArrayView field = rest.first(blank);
    rest = rest.sliced(blank + 1);
    return field;
}

// The file name field: between double quotes (blanks included) when a closing quote follows,
// else up to the next blank. The next field starts after the blank that follows either.
std::optional<QByteArray> takeFileName(QByteArrayView& rest)
{
    const qsizetype close = rest.startsWith('"') ? rest.indexOf('"', 1) : -1;
    if (close <= 0) {
        const auto name = takeField(rest, false);
        return name ? std::optional(name->toByteArray()) : std::nullopt;
    }
    if (close + 2 > rest.size())
        return std::nullopt;
    QByteArray name = rest.sliced(1, close - 1).toByteArray();
    rest = rest.sliced(close + 2);
    return name;
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

std::optional<DccOffer> parseDccOffer(DccKind kind, QByteArrayView line, bool secure)
{
    secure = secure && kind != DccKind::Voice;
    const char* marker = kind == DccKind::Send   ? (secure ? "DCC SSEND" : "DCC SEND")
                         : kind == DccKind::Chat ? (secure ? "DCC SCHAT" : "DCC CHAT")
                                                 : "DCC VOICE";
    const qsizetype skip = (kind == DccKind::Send   ? 9
                            : kind == DccKind::Chat ? 14
                                                    : 10)
                           + (secure ? 1 : 0);
    // A nick such as "DCCbot" or "xDCC SEND" must not be read as part of an offer.
    const qsizetype trailing = line.indexOf(" :", 1);
    const qsizetype at = line.indexOf(QByteArrayView(marker), trailing < 0 ? 0 : trailing);
    if (at < 0 || at + skip > line.size())
        return std::nullopt;
    QByteArrayView rest = line.sliced(at + skip);

    DccOffer offer;
    offer.kind = kind;
    offer.secure = secure;
    offer.sender = GetSenderNick(line.toByteArray());
    if (kind == DccKind::Send) {
        const auto name = takeFileName(rest);
        if (!name)
            return std::nullopt;
        offer.fileName = *name;
    }
    const auto address = takeField(rest, false);
    const auto port = address ? takeField(rest, kind != DccKind::Send) : std::nullopt;
    if (!port)
        return std::nullopt;
    if (address->contains(':')) {
        // Only a whole, valid IPv6 literal: a half-read one would send us somewhere else.
        const QHostAddress ipv6(QString::fromLatin1(*address));
        if (ipv6.protocol() != QAbstractSocket::IPv6Protocol || !ipv6.scopeId().isEmpty())
            return std::nullopt;
        offer.ipv6 = ipv6;
    } else {
        offer.address = readNumber(*address);
    }
    offer.port = quint16(readNumber(*port) & 0xFFFF);
    if (kind == DccKind::Send) {
        const auto size = takeField(rest, true);
        if (!size)
            return std::nullopt;
        // Files of 4 GiB and more are offered with their whole size.
        offer.size = readNumber64(*size);
    }
    if (kind != DccKind::Voice) {
        if (const auto token = takeField(rest, true); token && !token->isEmpty())
            offer.token = token->toByteArray();
    }
    return offer;
}

std::optional<DccResume> parseDccResume(DccResumeKind kind, QByteArrayView line)
{
    const char* marker = kind == DccResumeKind::Resume ? "DCC RESUME " : "DCC ACCEPT ";
    const qsizetype trailing = line.indexOf(" :", 1);
    const qsizetype at = line.indexOf(QByteArrayView(marker), trailing < 0 ? 0 : trailing);
    if (at < 0)
        return std::nullopt;
    QByteArrayView rest = line.sliced(at + qsizetype(qstrlen(marker)));

    DccResume resume;
    resume.kind = kind;
    resume.sender = GetSenderNick(line.toByteArray());
    const auto name = takeFileName(rest);
    if (!name)
        return std::nullopt;
    resume.fileName = *name;
    const auto port = takeField(rest, false);
    const auto position = port ? takeField(rest, true) : std::nullopt;
    if (!position)
        return std::nullopt;
    resume.port = quint16(readNumber(*port) & 0xFFFF);
    // Digits only: no sign, no blanks, no wrapping. Anything else is a position we will not
    // seek to.
    bool digits = !position->isEmpty() && position->size() <= 20;
    for (const char c : *position)
        digits = digits && c >= '0' && c <= '9';
    bool fits = false;
    const quint64 value = digits ? position->toULongLong(&fits) : 0;
    if (digits && fits)
        resume.position = value;
    if (const auto token = takeField(rest, true); token && !token->isEmpty())
        resume.token = token->toByteArray();
    return resume;
}

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
    return Command::ctcp(nick, body);
}

namespace {

// The IPv4 address an IPv6 literal stands for, where it stands for one: v4-mapped
// (::ffff:a.b.c.d), the old v4-compatible form (::a.b.c.d) and NAT64's well-known prefix
// (64:ff9b::a.b.c.d). Judged as IPv6, "::7f00:1" or "64:ff9b::7f00:1" would pass as an
// ordinary global address and yet reach this machine or a local network through a translator.
std::optional<quint32> embeddedIPv4(const QHostAddress& v6)
{
    const Q_IPV6ADDR bytes = v6.toIPv6Address();
    const auto allZero = [&](int from, int to) {
        for (int i = from; i < to; ++i) {
            if (bytes[i] != 0)
                return false;
        }
        return true;
    };
    const bool mapped = allZero(0, 10) && bytes[10] == 0xFF && bytes[11] == 0xFF;
    // "::" and "::1" are IPv6's own unspecified and loopback addresses, judged as such.
    const bool compatible = allZero(0, 15) ? bytes[15] > 1 : allZero(0, 12);
    const bool nat64 = bytes[0] == 0x00 && bytes[1] == 0x64 && bytes[2] == 0xFF && bytes[3] == 0x9B
                       && allZero(4, 12);
    if (!mapped && !compatible && !nat64)
        return std::nullopt;
    return quint32(bytes[12]) << 24 | quint32(bytes[13]) << 16 | quint32(bytes[14]) << 8
           | quint32(bytes[15]);
}

} // namespace

std::optional<QString> offerRefusal(const DccOffer& offer, bool serverOnLoopback)
{
    const auto text = [&](const char* why) {
        return QStringLiteral("DCC offer from %1 refused: %2")
            .arg(QString::fromUtf8(offer.sender), QLatin1String(why));
    };
    if (offer.passive())
        return offer.kind == DccKind::Voice ? std::optional(text("voice chats are never passive"))
                                            : std::nullopt;
    if (offer.port == 0)
        return text("it names no port and no token");
    if (offer.port < 1024)
        return text("its port is below 1024");
    quint32 a = offer.address;
    if (!offer.ipv6.isNull()) {
        if (const auto v4 = embeddedIPv4(offer.ipv6)) {
            a = *v4;
        } else {
            const QHostAddress& v6 = offer.ipv6;
            if (v6.isEqual(QHostAddress::AnyIPv6))
                return text("it names no address");
            if (v6.isMulticast())
                return text("its address is a multicast address");
            if (v6.isLinkLocal())
                return text("its address is a link-local address");
            if (v6.isLoopback() && !serverOnLoopback)
                return text("its address is this machine");
            return std::nullopt;
        }
    }
    if (a == 0)
        return text("it names no address");
    if ((a >> 28) == 0xE)
        return text("its address is a multicast address");
    if ((a >> 28) == 0xF)
        return text("its address is a broadcast or reserved address");
    if ((a >> 24) == 127 && !serverOnLoopback)
        return text("its address is this machine");
    if ((a >> 24) == 0)
        return text("its address is not a host address");
    if ((a >> 16) == 0xA9FE)
        return text("its address is a link-local address");
    return std::nullopt;
}

QByteArray GetBaseName(QByteArrayView path)
{
    const qsizetype cut = qMax(path.lastIndexOf('\\'), path.lastIndexOf('/'));
    return path.sliced(cut + 1).toByteArray();
}

std::optional<QByteArray> SafeFileName(QByteArrayView offered)
{
    QByteArray name = GetBaseName(offered);
    for (char& c : name) {
        if (isControl(c))
            c = '_';
    }
    // A name may have 255 bytes, and the part file's adds ".part".
    constexpr qsizetype kMaxName = 255 - 5;
    if (name.size() > kMaxName) {
        qsizetype cut = kMaxName;
        while (cut > 0 && (static_cast<unsigned char>(name[cut]) & 0xC0) == 0x80)
            --cut;
        name.truncate(cut);
    }
    bool onlyDots = true;
    for (const char c : name)
        onlyDots = onlyDots && c == '.';
    if (onlyDots) // also empty
        return std::nullopt;
    // Nor a hidden file that the user would not see in the folder.
    for (qsizetype i = 0; i < name.size() && name[i] == '.'; ++i)
        name[i] = '_';
    return name;
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

} // namespace irc
