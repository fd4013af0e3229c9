#include "app/command_line.h"
#include "app/main_window.h"
#include "app/program.h"
#include "app/texts.h"
#include "app/unix_signals.h"
#include "config/errors.h"
#include "config/installation.h"
#include "config/paths.h"
#include "config/registry.h"
#include "config/session_bus.h"
#include "diag/debug_log.h"
#include "irc/ident_responder.h"
#include "res/resources.h"

#include <QApplication>
#include <QImageReader>
#include <QStringList>

#include <dlfcn.h>
#include <thread>

namespace {

// Qt reads the font configuration when the first widget with text is built, and fontconfig's
// parsing of its XML files costs more than all of QApplication's own set-up: the largest piece
// of our start-up after the dynamic loader. It needs nothing from Qt, so a second thread does it
// while QApplication connects to the display, and Qt then finds it done (fontconfig keeps one
// configuration per process and may be initialised from any thread). Looked up at run time: Qt
// has already loaded libfontconfig, and this way the build needs no headers for it.
std::thread readFontConfiguration()
{
    using InitFunction = int (*)();
    auto* init = reinterpret_cast<InitFunction>(dlsym(RTLD_DEFAULT, "FcInit"));
    if (!init)
        return {};
    return std::thread([init] { init(); });
}

// The menu bar's overflow button takes its icon from the style, and Qt's image reader loads
// every image plugin (with libjpeg) to ask each whether it reads that PNG: a few milliseconds
// inside the main window's construction. Loading them is safe from any thread, so another one
// does it while this one builds the program, and the menu bar finds them loaded.
std::thread loadImagePlugins()
{
    return std::thread([] { QImageReader::supportedImageFormats(); });
}

} // namespace

int main(int argc, char** argv)
{
    // --help and --version are answered before QApplication, which needs a display.
    if (app::printInformation(app::parseCommandLine(app::argumentsOf(argc, argv))))
        return 0;
    // First, while no other thread reads the environment: Qt's start-up asks for a session bus,
    // and where none can be had libdbus would fork this process to look for one.
    const bool noSessionBus = config::ruleOutSessionBus();
    std::thread fontConfiguration = readFontConfiguration();
    QApplication application(argc, argv);
    QApplication::setApplicationName(QStringLiteral("kivvo"));
    QApplication::setApplicationVersion(QStringLiteral("2.0"));
    // Lets docks and task bars match the windows to the desktop entry and its icon.
    QGuiApplication::setDesktopFileName(QStringLiteral("org.kivvo.Kivvo"));
    // The program ends by its close step only, never because its last window was hidden.
    QApplication::setQuitOnLastWindowClosed(false);

    // Read from what QApplication left, which has taken out Qt's own options (-platform...).
    const app::StartMode startMode = app::parseCommandLine(QApplication::arguments().mid(1));
    const bool startHidden = startMode == app::StartMode::Hidden;
    const bool debugDump = startMode == app::StartMode::DebugDump;

    std::thread imagePlugins = loadImagePlugins();

    if (noSessionBus)
        diag::DebugLog(QString::fromLatin1(app::text::kLogNoSessionBus), 2);
    config::Registry registry(config::registryPath());
    if (!registry.isOpen())
        diag::DebugLog(config::errorText(config::Error::StoreUnreadable, registry.path()));
    config::FirstRunDefaults defaults;
    defaults.installDir = config::defaultInstallDir();
    defaults.files = res::installedFiles();
    if (config::installIfMissing(registry, defaults))
        diag::DebugLog(QString::fromLatin1(app::text::kLogNewConfiguration).arg(registry.path()),
                       2);

    // Joined before the first widget: were Qt to ask while the thread still reads, fontconfig
    // would read everything a second time.
    if (fontConfiguration.joinable())
        fontConfiguration.join();
    app::Program::Options options;
    options.debugDump = debugDump;
    options.identPort = irc::IdentResponder::portFromEnvironment();
    options.windowPosition = app::windowPositionFrom(qEnvironmentVariable("KIVVO_WINDOW_POSITION"));
    app::Program program(registry, options);
    app::UnixSignals unixSignals;
    QObject::connect(&unixSignals, &app::UnixSignals::terminationRequested, &program,
                     &app::Program::closeStep);
    program.showAtStart(startHidden);
    program.start();
    imagePlugins.join();
    return QApplication::exec();
}
