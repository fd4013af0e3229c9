#pragma once

#include <QByteArray>
#include <QByteArrayView>

namespace diag {

// `line` as it may be shown or written down: the parameters of PASS and the payload of
// AUTHENTICATE (the base64 of the account's password) become "****". The words that carry no
// secret ("AUTHENTICATE +", "*", "PLAIN") stay, so the log still tells the steps apart. Every
// place that shows or records a server line passes it through here first.
QByteArray maskSecrets(QByteArrayView line);

} // namespace diag
