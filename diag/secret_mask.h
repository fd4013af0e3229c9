#pragma once

#include <QByteArray>
#include <QByteArrayView>

namespace diag {

// `line` as it may be shown or written down: the parameters of PASS, the payload of AUTHENTICATE
// (the base64 of the account's password), the password of OPER (after its name) and, in a
// message to the nick services ("PRIVMSG NickServ :...", "NS ...", "NICKSERV ..."), everything
// after IDENTIFY, REGISTER and SET PASSWORD and after the nick of GHOST and RECOVER become
// "****", and so do those of such a line repeated by an error numeric (4xx, 5xx). The words that
// carry no secret ("AUTHENTICATE +", "*", "PLAIN") stay, so the log still tells the steps apart.
// Every place that shows or records a server line passes it through here first.
QByteArray maskSecrets(QByteArrayView line);

// The text the user sent to `target` in a chat, as its view and log may keep it: masked as the
// line that carried it would be, so a chat with NickServ never keeps a password.
QByteArray maskSentText(QByteArrayView target, QByteArrayView text);

} // namespace diag
