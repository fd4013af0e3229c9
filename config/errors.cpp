#include "config/errors.h"

#include "config/store.h"

#include <QCoreApplication>

namespace config {

QString errorText(Error error, const QString& path)
{
    switch (error) {
    case Error::StoreUnreadable:
        return QCoreApplication::translate("config",
                                           "Could not open the configuration store %1. Settings, "
                                           "servers and contacts are not available.")
            .arg(path);
    case Error::StoreReadOnly:
        return QCoreApplication::translate("config",
                                           "The configuration store %1 cannot be written (it is "
                                           "read-only or the disk is full). Your settings, "
                                           "servers and contacts are in use, but changes to "
                                           "them cannot be saved.")
            .arg(path);
    case Error::SaveFailed:
        return QCoreApplication::translate("config",
                                           "The change could not be saved because the "
                                           "configuration store %1 cannot be written. It may be "
                                           "read-only, or the disk may be full. Nothing stored "
                                           "has been changed.")
            .arg(path);
    }
    return {};
}

QString errorTitle()
{
    return QCoreApplication::translate("config", "Error");
}

QString contactListFullText()
{
    return QCoreApplication::translate("config",
                                       "The contact list is full: it can hold %1 contacts. "
                                       "Remove a contact before adding another.")
        .arg(kMaxContacts);
}

} // namespace config
