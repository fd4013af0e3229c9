#pragma once

#include <QString>

#include <optional>

namespace config {

// Why `name` cannot be a contact, or nothing when it can. A contact is a nick: it must fit the
// store's nine-byte slot (a longer one could never be listed) and hold nothing no nick may hold.
std::optional<QString> contactNameError(const QString& name);

inline constexpr char kNameTooLong[] = "A contact name can have at most 9 characters.";
inline constexpr char kNameHasBadCharacters[] =
    "A contact name cannot contain blanks or any of , * ? ! @";

} // namespace config
