#pragma once

#include <QByteArray>
#include <QList>

#include <optional>

namespace irc {

// An account held in the server password as "account:password": the text before the first ':'
// names the account and must not be empty; everything after it is the password.
struct Account
{
    QByteArray name;
    QByteArray password;
};

std::optional<Account> accountIn(const QByteArray& serverpass);

// The AUTHENTICATE lines that carry a PLAIN login of `account`: the base64 of
// "account NUL account NUL password" in 400-byte pieces, and a lone '+' after a last piece of
// exactly 400 bytes, so the server knows the login ended there.
QList<QByteArray> plainLoginLines(const Account& account);

// Whether the mechanisms a server offers with "sasl" (as "PLAIN,EXTERNAL") take a PLAIN login.
bool takesPlain(const QByteArray& mechanisms);

} // namespace irc
