#pragma once

#include <QByteArray>
#include <QHash>
#include <QObject>
#include <QString>

#include <functional>
#include <optional>
#include <vector>

class QAction;
class QMenu;

namespace app {

// The program's commands. The numbers are the menu ids the program has always used; commands
// that no menu id ever named are numbered past them.
enum class Command : int {
    ConnectCurrent = 1,
    Exit = 2,
    EditContacts = 3,
    RemoveSelectedContact = 4,
    ShowDebugWindow = 1021,
    EditServers = 1026,
    About = 40002,
    Help = 40004,
    SendFileTo = 40005,
    Chat = 40013,
    SendFile = 40014,
    Ping = 40017,
    Whois = 40018,
    Version = 40019,
    Finger = 40020,
    Time = 40021,
    Connect = 40022,
    SendRawData = 40024,
    ShowServerLog = 40025,
    Source = 40032,
    Disconnect = 40033,
    DccChat = 40034,
    ProgramSettings = 40061,
    EncryptedChat = 40062,
    VoiceChat = 40063,
    HelpOnline = 40064,
    SupportOnline = 40065,
    RelayedChat = 50034,
    Find = 50035,
};

// Every command, one QAction each, and the handler that the owner of each feature registers.
// A command may carry the nick it acts on: the shared actions take it from the selection (the
// contact list's), an action made for one chat window always names that window's peer.
class CommandTable : public QObject
{
    Q_OBJECT

public:
    using Target = std::optional<QByteArray>;
    using Handler = std::function<void(const Target& target)>;
    using Selection = std::function<Target()>;

    explicit CommandTable(QObject* parent = nullptr);
    ~CommandTable() override;

    static const std::vector<Command>& all();
    // The menu text of `id`.
    static QString text(Command id);

    // Registers what `id` does; its actions are enabled from then on.
    void setHandler(Command id, Handler handler);
    bool hasHandler(Command id) const { return m_handlers.contains(id); }
    void setSelection(Selection selection) { m_selection = std::move(selection); }

    // Runs `id` for `target`; false when nothing handles it.
    bool run(Command id, const Target& target);
    // Runs `id` for whatever is selected.
    bool run(Command id);

    // The one action of `id`, acting on the selection; menus add it as it is.
    QAction* action(Command id) const;
    // An action in `menu` that runs `id` for `target`, whatever is selected.
    QAction* addTargeted(QMenu* menu, Command id, const QByteArray& target);
    // The same, owned by `owner` and in no menu (a button's).
    QAction* targeted(QObject* owner, Command id, const QByteArray& target);

private:
    QHash<Command, Handler> m_handlers;
    QHash<Command, QAction*> m_actions;
    Selection m_selection;
};

inline size_t qHash(Command id, size_t seed = 0)
{
    return ::qHash(static_cast<int>(id), seed);
}

} // namespace app
