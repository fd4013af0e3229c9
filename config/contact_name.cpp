#include "config/contact_name.h"

#include "config/store.h"

namespace config {

std::optional<QString> contactNameError(const QString& name)
{
    for (const QChar c : name) {
        const char16_t u = c.unicode();
        // Blanks and these separate or wildcard nicks in IRC masks and lists; control characters
        // would end or split the line they travel in.
        if (u <= 0x20 || u == 0x7F || u == ',' || u == '*' || u == '?' || u == '!' || u == '@')
            return QString::fromLatin1(kNameHasBadCharacters);
    }
    if (name.toUtf8().size() >= kContactNameSize)
        return QString::fromLatin1(kNameTooLong);
    return std::nullopt;
}

} // namespace config
