#include "config/errors.h"

#include "config/store.h"
#include "config/texts.h"

#include <QCoreApplication>

namespace config {

QString errorText(Error error, const QString& path)
{
    switch (error) {
    case Error::StoreUnreadable:
        return QCoreApplication::translate("config", text::kStoreOpenFailed).arg(path);
    case Error::StoreReadOnly:
        return QCoreApplication::translate("config", text::kStoreReadOnly).arg(path);
    case Error::SaveFailed:
        return QCoreApplication::translate("config", text::kStoreSaveFailed).arg(path);
    }
    return {};
}

QString errorTitle()
{
    return QCoreApplication::translate("config", text::kError);
}

QString contactListFullText()
{
    return QCoreApplication::translate("config", text::kContactListFull).arg(kMaxContacts);
}

} // namespace config
