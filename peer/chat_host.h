#pragma once

#include <QByteArray>
#include <QDateTime>
#include <QString>

#include <optional>

namespace peer {

// What a chat window needs from the rest of the program: the server link, the nick in use, the
// logging setting and the clock. The main window implements it; tests script it.
class ChatHost
{
public:
    virtual ~ChatHost() = default;

    virtual QByteArray nickInUse() const = 0;
    // One line to the server without CR LF; false when it could not go out.
    virtual bool sendServerLine(const QByteArray& line) = 0;
    virtual bool loggingOn() const = 0;
    virtual std::optional<QString> installDir() const = 0;
    virtual QDateTime nowUtc() const { return QDateTime::currentDateTimeUtc(); }
};

} // namespace peer
