#include "irc/sasl_plain.h"

#include "irc/commands.h"

namespace irc {

namespace {

constexpr qsizetype kLoginPiece = 400;

} // namespace

std::optional<Account> accountIn(const QByteArray& serverpass)
{
    const qsizetype colon = serverpass.indexOf(':');
    if (colon <= 0)
        return std::nullopt;
    return Account{serverpass.left(colon), serverpass.mid(colon + 1)};
}

QList<QByteArray> plainLoginLines(const Account& account)
{
    QByteArray payload = account.name;
    payload += '\0';
    payload += account.name;
    payload += '\0';
    payload += account.password;
    const QByteArray encoded = payload.toBase64();
    QList<QByteArray> lines;
    // A piece the factory refused stays off the wire.
    const auto append = [&lines](const std::optional<QByteArray>& line) {
        if (line)
            lines << *line;
    };
    for (qsizetype at = 0; at < encoded.size(); at += kLoginPiece)
        append(Command::authenticate(encoded.mid(at, kLoginPiece)));
    if (encoded.size() % kLoginPiece == 0)
        append(Command::authenticate("+"));
    return lines;
}

bool takesPlain(const QByteArray& mechanisms)
{
    if (mechanisms.isEmpty())
        return true; // a bare "sasl" (CAP LS without 302) names no mechanisms: try PLAIN
    for (const QByteArray& mechanism : mechanisms.split(',')) {
        if (mechanism.compare("PLAIN", Qt::CaseInsensitive) == 0)
            return true;
    }
    return false;
}

} // namespace irc
