#include "tests/support/unprivileged_user.h"

#include <QDirIterator>
#include <QFile>
#include <QStandardPaths>

#include <pwd.h>
#include <unistd.h>

namespace test {

const passwd* unprivilegedUser()
{
    return ::geteuid() == 0 ? ::getpwnam("nobody") : nullptr;
}

bool handOver(const QString& folder, const passwd* user)
{
    if (::chown(QFile::encodeName(folder).constData(), user->pw_uid, user->pw_gid) != 0)
        return false;
    QDirIterator entries(folder, QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden,
                         QDirIterator::Subdirectories);
    while (entries.hasNext()) {
        if (::chown(QFile::encodeName(entries.next()).constData(), user->pw_uid, user->pw_gid) != 0)
            return false;
    }
    return true;
}

QStringList runAs(const passwd* user, const QString& program, const QStringList& arguments,
                  const QString& signal)
{
    const QString setpriv = QStandardPaths::findExecutable("setpriv");
    if (setpriv.isEmpty())
        return {};
    return QStringList{setpriv,
                       "--reuid=" + QString::number(user->pw_uid),
                       "--regid=" + QString::number(user->pw_gid),
                       "--clear-groups",
                       "--pdeathsig",
                       signal,
                       program}
           + arguments;
}

} // namespace test
