#pragma once

#include <QString>

#include <utility>
#include <vector>

namespace config {

class Registry;

// What a new installation gets: the three keys, "installdir" and a logs/ folder, plus a first
// server and settings good enough to reach it, so that a first run connects by itself.
struct FirstRunDefaults
{
    QString installDir;
    QByteArray serverAddress = "127.0.0.1";
    int serverPort = 6667;
    QByteArray network = "Local";
    QByteArray nick; // empty: taken from the login name
    QByteArray realname = "Kivvo User";
    bool autoconnect = true;
    // Copied into the installation folder: where from, and where to under the folder.
    std::vector<std::pair<QString, QString>> files;
};

// Does the installation's work when the store has no "SOFTWARE\Kivvo" key yet; returns true when
// it did. An existing configuration is left alone.
bool installIfMissing(Registry& registry, const FirstRunDefaults& defaults);

// A nick made from the login name: the characters a nick may hold, or "kivvo" when none is left.
QByteArray nickFromLoginName(const QString& loginName);

} // namespace config
