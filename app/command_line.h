#pragma once

#include <QPoint>
#include <QString>
#include <QStringList>

#include <optional>

namespace app {

// What the command line asks for. The whole line (the arguments joined by single blanks) is
// compared, case-sensitively: the words cannot be combined, and anything else starts normally.
enum class StartMode {
    Normal,
    Hidden,    // "HIDE": the main window is not shown at start
    DebugDump, // "DEBUG": every batch of received lines is appended to out.txt
    Help,      // "--help" or "-h": print the usage and exit
    Version,   // "--version": print the version and exit
};

// `arguments` are those after the program name.
StartMode parseCommandLine(const QStringList& arguments);

// argv after the program name, decoded the way QCoreApplication::arguments() decodes it, for
// use before there is an application object.
QStringList argumentsOf(int argc, char** argv);

// The main window's place from "X,Y" (KIVVO_WINDOW_POSITION): two whole numbers, at least 0
// and with room above for the title bar; nothing for anything else.
std::optional<QPoint> windowPositionFrom(const QString& text);

QString usageText();
QString versionText();

// For Help and Version, writes the answer to stdout and returns true: the program then exits
// with status 0 without ever looking for a display. Returns false for the modes that start it.
bool printInformation(StartMode mode);

} // namespace app
