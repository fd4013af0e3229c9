#include "irc/dcc_offer.h"
#include "irc/texts.h"

namespace irc {

namespace {

bool isControl(char c)
{
    const auto u = static_cast<unsigned char>(c);
    return u < 0x20 || u == 0x7F;
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

// Digits only: no sign, no blanks, no wrapping. Anything else is a position we will not seek to.
std::optional<quint64> exactPosition(QByteArrayView field)
{
    bool digits = !field.isEmpty() && field.size() <= 20;
    for (const char c : field)
        digits = digits && c >= '0' && c <= '9';
    bool fits = false;
    const quint64 value = digits ? field.toULongLong(&fits) : 0;
    if (digits && fits)
        return value;
    return std::nullopt;
}

// The bytes of the type word and its blank that open a request: "SEND ", "CHAT chat ", ...
// The word after CHAT is skipped unread, as clients have always written different ones there.
qsizetype typeLength(DccKind kind, bool secure)
{
    const qsizetype length = kind == DccKind::Send ? 5 : kind == DccKind::Chat ? 10 : 6;
    return length + (secure ? 1 : 0);
}

QByteArrayView typeWord(DccKind kind, bool secure)
{
    switch (kind) {
    case DccKind::Send:
        return secure ? "SSEND" : "SEND";
    case DccKind::Chat:
        return secure ? "SCHAT" : "CHAT";
    case DccKind::Voice:
        break;
    }
    return "VOICE";
}

std::optional<QHostAddress> readAddress(QByteArrayView field)
{
    if (!field.contains(':'))
        return QHostAddress(readNumber(field));
    // Only a whole, valid IPv6 literal: a half-read one would send us somewhere else.
    const QHostAddress ipv6(QString::fromLatin1(field));
    if (ipv6.protocol() != QAbstractSocket::IPv6Protocol || !ipv6.scopeId().isEmpty())
        return std::nullopt;
    return ipv6;
}

} // namespace

std::optional<DccType> readDccType(QByteArrayView arguments)
{
    // Told apart by how the type word starts, as the offers have always been read.
    if (arguments.startsWith("SEND"))
        return DccType{DccKind::Send, false, std::nullopt};
    if (arguments.startsWith("CHAT"))
        return DccType{DccKind::Chat, false, std::nullopt};
    if (arguments.startsWith("VOICE"))
        return DccType{DccKind::Voice, false, std::nullopt};
    if (arguments.startsWith("SSEND"))
        return DccType{DccKind::Send, true, std::nullopt};
    if (arguments.startsWith("SCHAT"))
        return DccType{DccKind::Chat, true, std::nullopt};
    if (arguments.startsWith("RESUME "))
        return DccType{std::nullopt, false, DccResumeKind::Resume};
    if (arguments.startsWith("ACCEPT "))
        return DccType{std::nullopt, false, DccResumeKind::Accept};
    return std::nullopt;
}

std::optional<DccOffer> parseDccOffer(DccKind kind, QByteArrayView sender, QByteArrayView arguments,
                                      bool secure)
{
    secure = secure && kind != DccKind::Voice;
    const qsizetype skip = typeLength(kind, secure);
    if (!arguments.startsWith(typeWord(kind, secure)) || skip > arguments.size())
        return std::nullopt;
    QByteArrayView rest = arguments.sliced(skip);

    DccOffer offer;
    offer.kind = kind;
    offer.secure = secure;
    offer.sender = sender.toByteArray();
    if (kind == DccKind::Send) {
        const auto name = takeFileName(rest);
        if (!name)
            return std::nullopt;
        offer.fileName = *name;
    }
    const auto addressField = takeField(rest, false);
    const auto port = addressField ? takeField(rest, kind != DccKind::Send) : std::nullopt;
    if (!port)
        return std::nullopt;
    const std::optional<QHostAddress> address = readAddress(*addressField);
    if (!address)
        return std::nullopt;
    offer.address = *address;
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

std::optional<DccReject> parseDccReject(QByteArrayView sender, QByteArrayView arguments)
{
    if (!arguments.startsWith("REJECT "))
        return std::nullopt;
    QByteArrayView rest = arguments.sliced(7);
    const qsizetype blank = rest.indexOf(' ');
    const QByteArrayView type = blank < 0 ? rest : rest.first(blank);
    DccReject reject;
    reject.sender = sender.toByteArray();
    if (type == "SEND" || type == "SSEND")
        reject.kind = DccKind::Send;
    else if (type == "CHAT" || type == "SCHAT")
        reject.kind = DccKind::Chat;
    else
        return std::nullopt;
    reject.secure = type == "SSEND" || type == "SCHAT";
    QByteArrayView argument = blank < 0 ? QByteArrayView() : rest.sliced(blank + 1);
    if (argument.size() >= 2 && argument.startsWith('"') && argument.endsWith('"'))
        argument = argument.sliced(1, argument.size() - 2);
    if (reject.kind == DccKind::Send && argument.isEmpty())
        return std::nullopt;
    reject.argument = argument.toByteArray();
    return reject;
}

std::optional<DccResume> parseDccResume(DccResumeKind kind, QByteArrayView sender,
                                        QByteArrayView arguments)
{
    const QByteArrayView word = kind == DccResumeKind::Resume ? "RESUME " : "ACCEPT ";
    if (!arguments.startsWith(word))
        return std::nullopt;
    QByteArrayView rest = arguments.sliced(word.size());

    DccResume resume;
    resume.kind = kind;
    resume.sender = sender.toByteArray();
    const auto name = takeFileName(rest);
    if (!name)
        return std::nullopt;
    resume.fileName = *name;
    const auto port = takeField(rest, false);
    const auto position = port ? takeField(rest, true) : std::nullopt;
    if (!position)
        return std::nullopt;
    resume.port = quint16(readNumber(*port) & 0xFFFF);
    resume.position = exactPosition(*position);
    if (const auto token = takeField(rest, true); token && !token->isEmpty())
        resume.token = token->toByteArray();
    return resume;
}

namespace {

// The IPv4 address an IPv6 literal stands for, where it stands for one: v4-mapped
// (::ffff:a.b.c.d), the old v4-compatible form (::a.b.c.d), NAT64's well-known prefix
// (64:ff9b::a.b.c.d) and its local-use prefix (64:ff9b:1::/48, read as the /96 inside it that
// translators use: 64:ff9b:1:x:x:x:a.b.c.d). Judged as IPv6, "::7f00:1" or "64:ff9b::7f00:1"
// would pass as an ordinary global address and yet reach this machine or a local network
// through a translator.
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
    const bool nat64Prefix =
        bytes[0] == 0x00 && bytes[1] == 0x64 && bytes[2] == 0xFF && bytes[3] == 0x9B;
    const bool nat64 = nat64Prefix && allZero(4, 12);
    const bool nat64LocalUse = nat64Prefix && bytes[4] == 0x00 && bytes[5] == 0x01;
    if (!mapped && !compatible && !nat64 && !nat64LocalUse)
        return std::nullopt;
    return quint32(bytes[12]) << 24 | quint32(bytes[13]) << 16 | quint32(bytes[14]) << 8
           | quint32(bytes[15]);
}

} // namespace

std::optional<QString> offerRefusal(const DccOffer& offer, bool serverOnLoopback)
{
    const auto refused = [&](const char* why) {
        return QString::fromLatin1(text::kOfferRefused)
            .arg(QString::fromUtf8(offer.sender), QLatin1String(why));
    };
    if (offer.passive())
        return offer.kind == DccKind::Voice ? std::optional(refused(text::kRefusedPassiveVoice))
                                            : std::nullopt;
    if (offer.port == 0)
        return refused(text::kRefusedNoPort);
    if (offer.port < 1024)
        return refused(text::kRefusedLowPort);
    quint32 a = offer.address.toIPv4Address();
    if (offer.address.protocol() == QAbstractSocket::IPv6Protocol) {
        if (const auto v4 = embeddedIPv4(offer.address)) {
            a = *v4;
        } else {
            const QHostAddress& v6 = offer.address;
            if (v6.isEqual(QHostAddress::AnyIPv6))
                return refused(text::kRefusedNoAddress);
            if (v6.isMulticast())
                return refused(text::kRefusedMulticast);
            if (v6.isLinkLocal())
                return refused(text::kRefusedLinkLocal);
            if (v6.isLoopback() && !serverOnLoopback)
                return refused(text::kRefusedThisMachine);
            return std::nullopt;
        }
    }
    if (a == 0)
        return refused(text::kRefusedNoAddress);
    if ((a >> 28) == 0xE)
        return refused(text::kRefusedMulticast);
    if ((a >> 28) == 0xF)
        return refused(text::kRefusedReserved);
    if ((a >> 24) == 127 && !serverOnLoopback)
        return refused(text::kRefusedThisMachine);
    if ((a >> 24) == 0)
        return refused(text::kRefusedNotHost);
    if ((a >> 16) == 0xA9FE)
        return refused(text::kRefusedLinkLocal);
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

} // namespace irc
