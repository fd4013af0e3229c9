#include "app/main_window.h"
#include "app/program.h"
#include "app/unix_signals.h"
#include "config/errors.h"
#include "config/installation.h"
#include "config/paths.h"
#include "config/registry.h"
#include "diag/debug_log.h"
#include "irc/ident_responder.h"

#include <QApplication>
#include <QStringList>

int main(int argc, char** argv)
{
    QApplication application(argc, argv);
    QApplication::setApplicationName(QStringLiteral("kivvo"));
    QApplication::setApplicationVersion(QStringLiteral("2.0"));
    // The program ends by its close step only, never because its last window was hidden.
    QApplication::setQuitOnLastWindowClosed(false);

    // The words are compared whole and case-sensitively, and cannot be combined.
    const QString commandLine = QApplication::arguments().mid(1).join(QLatin1Char(' '));
    const bool startHidden = commandLine == QLatin1String("HIDE");
    const bool debugDump = commandLine == QLatin1String("DEBUG");

    config::Registry registry(config::registryPath());
    if (!registry.isOpen())
        diag::DebugLog(config::errorText(config::Error::StoreUnreadable, registry.path()));
    config::FirstRunDefaults defaults;
    defaults.installDir = config::defaultInstallDir();
    if (config::installIfMissing(registry, defaults))
        diag::DebugLog(QStringLiteral("Created a new configuration in %1").arg(registry.path()), 2);

    app::Program program(registry,
                         {debugDump, irc::IdentResponder::portFromEnvironment(), nullptr});
    app::UnixSignals unixSignals;
    QObject::connect(&unixSignals, &app::UnixSignals::terminationRequested, &program,
                     &app::Program::closeStep);
    if (!startHidden)
        program.window().show();
    program.start();
    return QApplication::exec();
}
