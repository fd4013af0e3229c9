#include "config/contact_name.h"

#include "config/store.h"

#include <algorithm>

namespace config {

QString nameTooLongText(int longest)
{
    return QString::fromLatin1(kNameTooLongOf).arg(longest);
}

std::optional<QString> contactNameError(const QString& name, int longest)
{
    longest = std::clamp(longest, 1, kContactNameSize - 1);
    for (const QChar c : name) {
        const char16_t u = c.unicode();
        // Blanks and these separate or wildcard nicks in IRC masks and lists; control characters
        // would end or split the line they travel in.
        if (u <= 0x20 || u == 0x7F || u == ',' || u == '*' || u == '?' || u == '!' || u == '@')
            return QString::fromLatin1(kNameHasBadCharacters);
    }
    if (name.toUtf8().size() > longest)
        return nameTooLongText(longest);
    return std::nullopt;
}

} // namespace config
