#pragma once

#include <QString>

#include <optional>

namespace config {

// The longest nick every server takes, and the longest contact name while the server has not
// said (NICKLEN in its 005) how long its nicks may be.
inline constexpr int kUnannouncedNickLength = 9;

// Why `name` cannot be a contact, or nothing when it can. A contact is a nick: it must be no
// longer than `longest` bytes (the server's NICKLEN, within what the store lists) and hold
// nothing no nick may hold.
std::optional<QString> contactNameError(const QString& name, int longest = kUnannouncedNickLength);

// The refusal of a name longer than `longest`; at nine, kNameTooLong word for word.
QString nameTooLongText(int longest);

inline constexpr char kNameTooLong[] = "A contact name can have at most 9 characters.";
inline constexpr char kNameTooLongOf[] = "A contact name can have at most %1 characters.";
inline constexpr char kNameHasBadCharacters[] =
    "A contact name cannot contain blanks or any of , * ? ! @";

} // namespace config
