#include "app/command_line.h"

#include <cstdio>

namespace app {

StartMode parseCommandLine(const QStringList& arguments)
{
    const QString line = arguments.join(QLatin1Char(' '));
    if (line == QLatin1String("HIDE"))
        return StartMode::Hidden;
    if (line == QLatin1String("DEBUG"))
        return StartMode::DebugDump;
    if (line == QLatin1String("--help") || line == QLatin1String("-h"))
        return StartMode::Help;
    if (line == QLatin1String("--version"))
        return StartMode::Version;
    return StartMode::Normal;
}

QStringList argumentsOf(int argc, char** argv)
{
    QStringList arguments;
    for (int i = 1; i < argc; ++i)
        arguments.append(QString::fromLocal8Bit(argv[i]));
    return arguments;
}

std::optional<QPoint> windowPositionFrom(const QString& text)
{
    // The title bar sits this far above the window and must stay on the screen.
    constexpr int kRoomAbove = 19;
    const QStringList parts = text.split(QLatin1Char(','));
    if (parts.size() != 2)
        return std::nullopt;
    bool xOk = false;
    bool yOk = false;
    const int x = parts[0].trimmed().toInt(&xOk);
    const int y = parts[1].trimmed().toInt(&yOk);
    if (!xOk || !yOk || x < 0 || y < kRoomAbove)
        return std::nullopt;
    return QPoint(x, y);
}

QString usageText()
{
    // Kept in step with config/paths.cpp, which reads these variables.
    return QStringLiteral(
        "Usage: kivvo [HIDE | DEBUG]\n"
        "       kivvo --help | -h\n"
        "       kivvo --version\n"
        "\n"
        "Kivvo is a desktop IRC messenger: a list of contacts (IRC nicks), who of them is\n"
        "online, chats, encrypted direct chats, file transfers and voice chats.\n"
        "\n"
        "The command line is compared whole and case-sensitively; anything else is ignored\n"
        "and the program starts normally.\n"
        "  HIDE              start with the main window hidden\n"
        "  DEBUG             append every batch of received lines to out.txt in the\n"
        "                    current folder\n"
        "  -h, --help        print this help and exit\n"
        "  --version         print the version and exit\n"
        "\n"
        "Environment:\n"
        "  XDG_CONFIG_HOME   the configuration is $XDG_CONFIG_HOME/kivvo/registry.db\n"
        "                    (default ~/.config/kivvo/registry.db)\n"
        "  XDG_DATA_HOME     the install folder made on the first run, which holds the\n"
        "                    chat logs, is $XDG_DATA_HOME/kivvo (default ~/.local/share/kivvo)\n"
        "  KIVVO_IDENT_PORT  the port the ident responder listens on (1 to 65535,\n"
        "                    default 113)\n"
        "  KIVVO_NO_KEYCHAIN 1 keeps the server passwords in the configuration instead\n"
        "                    of the desktop's secret service\n"
        "  KIVVO_WINDOW_POSITION  X,Y puts the main window's top-left corner there instead\n"
        "                    of the middle of the screen\n");
}

QString versionText()
{
    return QStringLiteral("Kivvo v2.0\n");
}

bool printInformation(StartMode mode)
{
    QString text;
    if (mode == StartMode::Help)
        text = usageText();
    else if (mode == StartMode::Version)
        text = versionText();
    else
        return false;
    const QByteArray bytes = text.toLocal8Bit();
    std::fwrite(bytes.constData(), 1, std::size_t(bytes.size()), stdout);
    std::fflush(stdout);
    return true;
}

} // namespace app
