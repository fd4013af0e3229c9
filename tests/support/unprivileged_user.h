#pragma once

#include <QString>
#include <QStringList>

struct passwd;

namespace test {

// Daemons that stall or stop as root (ZNC waits 30 s, HexChat opens a modal warning) run as
// nobody when the tests run as root; nullptr when they do not.
const passwd* unprivilegedUser();

// Gives `folder` and everything in it to `user`, which must be able to write there.
bool handOver(const QString& folder, const passwd* user);

// `program` run as `user` through setpriv, which also asks for `signal` when the test process
// dies (the parent-death signal is cleared by the change of user, so the child must set it).
// The whole command line, program first; empty when setpriv is missing.
QStringList runAs(const passwd* user, const QString& program, const QStringList& arguments,
                  const QString& signal = QStringLiteral("TERM"));

} // namespace test
