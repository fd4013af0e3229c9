#include "app/command_line.h"

#include "app/texts.h"

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
    return QString::fromLatin1(text::kUsage);
}

QString versionText()
{
    return QString::fromLatin1(text::kVersionLine);
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
