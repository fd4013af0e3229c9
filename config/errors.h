#pragma once

#include <QString>

namespace config {

enum class Error {
    StoreUnreadable, // the store could not be opened at all: the program runs on defaults
    StoreReadOnly,   // the store is used as it is, but nothing can be saved this run
    SaveFailed,      // one change of the user's could not be saved
};

// The texts the user sees for the configuration store. `path` is the store's file, which goes
// into every text so that the user knows what to repair.
QString errorText(Error error, const QString& path);
// The title of the box that shows a text of errorText().
QString errorTitle();
// Why the contact editor refuses another contact: the store lists only the first kMaxContacts,
// so one more would be stored but never shown.
QString contactListFullText();

} // namespace config
