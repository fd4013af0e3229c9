#include "app/command_table.h"

#include "app/texts.h"

#include <QAction>
#include <QCoreApplication>
#include <QMenu>

namespace app {

namespace {

struct CommandText
{
    Command id;
    const char* text;
};

// Menu texts as the menus have always shown them, mnemonics included.
constexpr CommandText kTexts[] = {
    {Command::ConnectCurrent, ""},
    {Command::Exit, text::kExit},
    {Command::EditContacts, text::kEditContacts},
    {Command::RemoveSelectedContact, text::kRemoveSelectedContact},
    {Command::ShowDebugWindow, text::kShowDebugWindow},
    {Command::EditServers, text::kEditServers},
    {Command::About, text::kAboutKivvo},
    {Command::Help, text::kKivvoHelp},
    {Command::SendFileTo, text::kSendFile},
    {Command::Chat, text::kChat},
    {Command::SendFile, text::kSendFile},
    {Command::Ping, text::kPing},
    {Command::Whois, text::kWhois},
    {Command::Version, text::kVersion},
    {Command::Finger, text::kFinger},
    {Command::Time, text::kTime},
    {Command::Connect, text::kConnect},
    {Command::SendRawData, text::kSendRawData},
    {Command::ShowServerLog, text::kShowServerLog},
    {Command::Source, text::kSource},
    {Command::Disconnect, text::kDisconnect},
    {Command::DccChat, text::kDccChat},
    {Command::ProgramSettings, text::kProgramSettings},
    {Command::EncryptedChat, text::kEncryptedChat},
    {Command::VoiceChat, text::kVoiceChat},
    {Command::HelpOnline, text::kHelpOnline},
    {Command::SupportOnline, text::kSupportOnline},
    {Command::RelayedChat, text::kRelayedChat},
    {Command::Find, text::kFind},
};

} // namespace

CommandTable::CommandTable(QObject* parent)
    : QObject(parent)
{
    for (const CommandText& entry : kTexts) {
        auto* action = new QAction(text(entry.id), this);
        action->setData(static_cast<int>(entry.id));
        action->setEnabled(false);
        const Command id = entry.id;
        connect(action, &QAction::triggered, this, [this, id] { run(id); });
        m_actions.insert(id, action);
    }
    m_actions.value(Command::Find)->setShortcut(QKeySequence::Find);
}

CommandTable::~CommandTable() = default;

const std::vector<Command>& CommandTable::all()
{
    static const std::vector<Command> ids = [] {
        std::vector<Command> list;
        for (const CommandText& entry : kTexts)
            list.push_back(entry.id);
        return list;
    }();
    return ids;
}

QString CommandTable::text(Command id)
{
    for (const CommandText& entry : kTexts) {
        if (entry.id == id)
            return QCoreApplication::translate("app::CommandTable", entry.text);
    }
    return {};
}

void CommandTable::setHandler(Command id, Handler handler)
{
    m_handlers[id] = std::move(handler);
    if (QAction* shared = m_actions.value(id))
        shared->setEnabled(true);
}

bool CommandTable::run(Command id, const Target& target)
{
    const auto handler = m_handlers.constFind(id);
    if (handler == m_handlers.constEnd())
        return false;
    // A copy: a handler may replace itself, or run a nested loop in which the table changes.
    const Handler call = *handler;
    call(target);
    return true;
}

bool CommandTable::run(Command id)
{
    return run(id, m_selection ? m_selection() : Target());
}

QAction* CommandTable::action(Command id) const
{
    return m_actions.value(id);
}

QAction* CommandTable::addTargeted(QMenu* menu, Command id, const QByteArray& target)
{
    QAction* action = targeted(menu, id, target);
    menu->addAction(action);
    return action;
}

QAction* CommandTable::targeted(QObject* owner, Command id, const QByteArray& target)
{
    auto* action = new QAction(text(id), owner);
    action->setData(static_cast<int>(id));
    action->setEnabled(hasHandler(id));
    connect(action, &QAction::triggered, this, [this, id, target] { run(id, target); });
    return action;
}

} // namespace app
