#pragma once

#include "diag/private_files.h"

#include <QString>

namespace config {

// Where the program keeps its files, from the XDG base directories.
QString configDir();         // $XDG_CONFIG_HOME/kivvo, default ~/.config/kivvo
QString registryPath();      // configDir()/registry.db
QString defaultInstallDir(); // $XDG_DATA_HOME/kivvo, default ~/.local/share/kivvo

// The ident responder's port: KIVVO_IDENT_PORT when set to a valid port, else 113.
quint16 identPort();

// The private files (the store's, the chat logs', the received-data dump's) are made by
// diag/private_files, which the debug output needs below everything else; their names stay
// callable from here.
using diag::createPrivateFile;
using diag::keepPrivate;
using diag::makePrivateFolder;
using diag::openPrivateForAppend;

} // namespace config
