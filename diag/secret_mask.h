#pragma once

#include <QByteArray>
#include <QByteArrayView>

namespace diag {

// `line` as it may be shown or written down: the parameters of PASS, the payload of AUTHENTICATE
// (the base64 of the account's password), the password of OPER (after its name) and everything
// after the IDENTIFY of "PRIVMSG NickServ :IDENTIFY", "NS IDENTIFY" and "NICKSERV IDENTIFY"
// become "****", and so do those of such a line repeated by an error numeric (4xx, 5xx). The
// words that carry no secret ("AUTHENTICATE +", "*", "PLAIN") stay, so the log still tells the
// steps apart. Every place that shows or records a server line passes it through here first.
QByteArray maskSecrets(QByteArrayView line);

} // namespace diag
