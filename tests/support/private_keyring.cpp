#include "tests/support/private_keyring.h"

#include "tests/support/wait_for.h"

#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QFile>
#include <QProcess>
#include <QStandardPaths>
#include <QTemporaryDir>

#include <csignal>
#include <sys/prctl.h>

namespace test {

namespace {

// Never stopped by hand: the secret service library's session connection ends the process when
// its bus goes away, so both daemons go with the test process instead (the parent-death signal).
struct Daemons
{
    QTemporaryDir home;
    QProcess bus;
    QProcess keyring;
};

void dieWithParent(QProcess& process)
{
    process.setChildProcessModifier([] { ::prctl(PR_SET_PDEATHSIG, SIGTERM); });
}

bool serviceOffered(const QString& address)
{
    const QString name = QStringLiteral("kivvo-keyring-watch");
    QDBusConnection watch = QDBusConnection::connectToBus(address, name);
    const bool up = waitFor(
        [&watch] {
            return watch.isConnected()
                   && watch.interface()->isServiceRegistered("org.freedesktop.secrets").value();
        },
        kKeyringWaitMs);
    QDBusConnection::disconnectFromBus(name);
    return up;
}

// A session bus that starts no services on demand: the stock session configuration would start
// the desktop's own keyring daemon on the first call.
constexpr char kBareBusConfig[] = R"(<!DOCTYPE busconfig PUBLIC
 "-//freedesktop//DTD D-Bus Bus Configuration 1.0//EN"
 "http://www.freedesktop.org/standards/dbus/1.0/busconfig.dtd">
<busconfig>
  <type>session</type>
  <listen>unix:dir=%1</listen>
  <auth>EXTERNAL</auth>
  <policy context="default">
    <allow send_destination="*" eavesdrop="true"/>
    <allow eavesdrop="true"/>
    <allow own="*"/>
  </policy>
</busconfig>
)";

// The bus's address, or an empty one when it did not start.
QString startBus(Daemons& d, const QString& busBinary)
{
    QFile config(d.home.filePath("bus.conf"));
    if (!config.open(QIODevice::WriteOnly)
        || config.write(QString::fromLatin1(kBareBusConfig).arg(d.home.path()).toUtf8()) < 0)
        return {};
    config.close();
    dieWithParent(d.bus);
    d.bus.start(busBinary, {"--config-file=" + config.fileName(), "--nofork", "--print-address"});
    if (!d.bus.waitForStarted() || !d.bus.waitForReadyRead(kKeyringWaitMs))
        return {};
    return QString::fromLatin1(d.bus.readLine().trimmed());
}

QString start(Daemons& d, bool withKeyring)
{
    const QString busBinary = QStandardPaths::findExecutable("dbus-daemon");
    const QString keyringBinary = QStandardPaths::findExecutable("gnome-keyring-daemon");
    if (busBinary.isEmpty() || (withKeyring && keyringBinary.isEmpty()))
        return "dbus-daemon or gnome-keyring-daemon is not installed (packages dbus-daemon, "
               "gnome-keyring)";
    const QString address = startBus(d, busBinary);
    if (address.isEmpty())
        return "the private session bus did not start";
    if (!withKeyring) {
        qputenv("DBUS_SESSION_BUS_ADDRESS", address.toLatin1());
        qunsetenv("KIVVO_NO_KEYCHAIN");
        return {};
    }
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert("DBUS_SESSION_BUS_ADDRESS", address);
    env.insert("HOME", d.home.path());
    env.insert("XDG_DATA_HOME", d.home.filePath("data"));
    env.insert("XDG_CONFIG_HOME", d.home.filePath("config"));
    env.insert("XDG_RUNTIME_DIR", d.home.path());
    d.keyring.setProcessEnvironment(env);
    dieWithParent(d.keyring);
    d.keyring.start(keyringBinary, {"--foreground", "--unlock", "--components=secrets"});
    if (!d.keyring.waitForStarted())
        return "gnome-keyring-daemon did not start";
    d.keyring.write("test-login-password");
    d.keyring.closeWriteChannel();
    if (!serviceOffered(address))
        return "gnome-keyring-daemon did not offer the secret service";
    qputenv("DBUS_SESSION_BUS_ADDRESS", address.toLatin1());
    qunsetenv("KIVVO_NO_KEYCHAIN");
    return {};
}

} // namespace

const PrivateKeyring& privateKeyring()
{
    static const PrivateKeyring keyring = [] {
        static Daemons* daemons = new Daemons; // lives as long as the process, see Daemons
        return PrivateKeyring{start(*daemons, true)};
    }();
    return keyring;
}

const PrivateKeyring& privateBusWithoutService()
{
    static const PrivateKeyring bus = [] {
        static Daemons* daemons = new Daemons;
        return PrivateKeyring{start(*daemons, false)};
    }();
    return bus;
}

} // namespace test
