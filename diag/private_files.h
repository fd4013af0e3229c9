#pragma once

#include <QString>

namespace diag {

// The store, the chat logs and the received-data dump hold passwords and conversations, so
// what the program creates for them is its owner's alone whatever the umask: folders 0700,
// files 0600. What exists already keeps its mode, the store's own files aside (keepPrivate());
// the program never changes a folder it did not make.

// Makes `path` and each missing folder above it; true when `path` is a folder afterwards.
bool makePrivateFolder(const QString& path);
// Opens `path` for appending, creating it when missing, and refuses a symlink in its place (a
// file in a shared folder is never written through someone else's link). The descriptor is the
// caller's to close; -1 when it could not be opened.
int openPrivateForAppend(const QString& path);
// Creates `path` empty when it is missing; true when nothing needed creating or it was created.
bool createPrivateFile(const QString& path);
// Takes every right of the group and of others off the file at `path`, when there is one (not
// through a symlink); the owner's stay as they are. The store's files get this on every open: a
// copy restored from a backup, or made by an older version, may be readable by all.
void keepPrivate(const QString& path);

} // namespace diag
