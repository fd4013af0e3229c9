#pragma once

#include <QObject>

class QWidget;

namespace config {
class Prompter;
class SecretStore;
class Store;
} // namespace config

namespace peer {
class ChatSessions;
class FishChats;
class NickRule;
} // namespace peer

namespace app {

class ContactListView;
class ContactPins;

// The questions about keys that only the user can answer: a contact's key exchange, a key typed
// by hand, the comparison of a key or of a private link's certificates, and forgetting a pin.
// Asked where the user looks (the chat, else the main window), and each answer is carried out
// only if what was asked about still holds.
class KeyQuestions : public QObject
{
    Q_OBJECT

public:
    struct Parts
    {
        config::Prompter& prompter;
        config::Store& store;
        config::SecretStore& secrets;
        ContactPins& pins;
        peer::FishChats& fish;
        peer::ChatSessions& chats;
        const peer::NickRule& nicks;
        ContactListView& contacts;
        QWidget* window;
    };
    explicit KeyQuestions(Parts parts, QObject* parent = nullptr);

private:
    void askAboutExchange(const QByteArray& nick);
    void askForKey(const QByteArray& nick, QWidget* over);
    void askToCompareKey(const QByteArray& nick, QWidget* over);
    void askToCompareLink(const QByteArray& nick, const QString& comparison,
                          const QByteArray& fingerprint, QWidget* over);
    void startExchange(const QByteArray& nick);
    void forgetPin(const QByteArray& nick);
    void showSaveFailed(QWidget* over);

    Parts m_parts;
};

} // namespace app
