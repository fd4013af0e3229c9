#include "app/key_questions.h"

#include "app/contact_list_view.h"
#include "app/contact_pins.h"
#include "app/texts.h"
#include "config/errors.h"
#include "config/prompter.h"
#include "config/registry.h"
#include "config/secret_store.h"
#include "config/store.h"
#include "diag/debug_log.h"
#include "diag/server_text.h"
#include "peer/chat/chat_sessions.h"
#include "peer/common/texts.h"
#include "peer/crypto/fish_chats.h"
#include "peer/link/private_link.h"

namespace app {

KeyQuestions::KeyQuestions(Parts parts, QObject* parent)
    : QObject(parent)
    , m_parts(parts)
{
    peer::FishChats& fish = m_parts.fish;
    ContactListView& contacts = m_parts.contacts;
    connect(&m_parts.secrets, &config::SecretStore::loaded, &fish, &peer::FishChats::rereadKeys);
    // Asked once the line that brought it is handled: the question runs a loop of its own.
    connect(&fish, &peer::FishChats::exchangeOffered, this, &KeyQuestions::askAboutExchange,
            Qt::QueuedConnection);
    connect(&contacts, &ContactListView::encryptRequested, this, &KeyQuestions::startExchange);
    connect(&m_parts.chats, &peer::ChatSessions::keyEntryRequested, this, &KeyQuestions::askForKey);
    connect(&m_parts.chats, &peer::ChatSessions::comparisonRequested, this,
            &KeyQuestions::askToCompareKey);
    connect(&m_parts.chats, &peer::ChatSessions::linkComparisonRequested, this,
            &KeyQuestions::askToCompareLink);
    contacts.setPinCheck(
        [this](const QByteArray& nick) { return m_parts.pins.find(nick).has_value(); });
    connect(&contacts, &ContactListView::forgetKeyRequested, this, &KeyQuestions::forgetPin);
}

void KeyQuestions::showSaveFailed(QWidget* over)
{
    m_parts.prompter.showError(
        over, config::errorTitle(),
        config::errorText(config::Error::SaveFailed, m_parts.store.registry().path()));
}

void KeyQuestions::askAboutExchange(const QByteArray& nick)
{
    peer::FishChats& fish = m_parts.fish;
    if (!fish.hasOffer(nick))
        return;
    const config::Question question{peer::fishText::offerTitle(),
                                    peer::fishText::offerQuestion(nick, fish.status(nick).verified),
                                    peer::fishText::offerDetails()};
    if (m_parts.prompter.ask(m_parts.window, question))
        fish.acceptOffer(nick);
    else
        fish.declineOffer(nick);
}

void KeyQuestions::startExchange(const QByteArray& nick)
{
    // Said in the chat with them, where its outcome shows.
    peer::ChatSessions& chats = m_parts.chats;
    const peer::ChatSession* chat = peer::FindRoutedChat(chats.records(), nick, m_parts.nicks);
    if (!chat || !chats.windowOf(*chat))
        chats.openChat(nick);
    m_parts.fish.startExchange(nick);
}

void KeyQuestions::askForKey(const QByteArray& nick, QWidget* over)
{
    config::InputRequest request;
    request.title = peer::fishText::keyEntryTitle();
    request.prompt = peer::fishText::keyEntryPrompt(nick);
    const std::optional<QString> typed = m_parts.prompter.getInput(over, request);
    if (!typed)
        return;
    switch (m_parts.fish.setTypedKey(nick, *typed)) {
    case peer::FishChats::KeyEntry::Set:
        break;
    case peer::FishChats::KeyEntry::Invalid:
        m_parts.prompter.showError(over, peer::fishText::keyEntryTitle(),
                                   peer::fishText::keyInvalid());
        break;
    case peer::FishChats::KeyEntry::NotKept:
        showSaveFailed(over);
        break;
    }
}

void KeyQuestions::askToCompareKey(const QByteArray& nick, QWidget* over)
{
    peer::FishChats& fish = m_parts.fish;
    const peer::FishStatus status = fish.status(nick);
    if (status.comparison.isEmpty()) {
        m_parts.prompter.showNotice(over, peer::fishText::compareTitle(),
                                    peer::fishText::nothingToCompare());
        return;
    }
    // Marked only if the key compared is still the one in use once the user has answered.
    if (m_parts.prompter.ask(over, peer::fishText::compareTitle(),
                             peer::fishText::compareQuestion(nick, status.comparison))
        && fish.status(nick).comparison == status.comparison)
        fish.markVerified(nick);
}

void KeyQuestions::askToCompareLink(const QByteArray& nick, const QString& comparison,
                                    const QByteArray& fingerprint, QWidget* over)
{
    if (m_parts.prompter.ask(over, peer::linkCompareTitle(),
                             peer::linkCompareQuestion(nick, comparison)))
        m_parts.chats.linkCompared(nick, fingerprint);
}

void KeyQuestions::forgetPin(const QByteArray& nick)
{
    if (!m_parts.pins.forget(nick)) {
        showSaveFailed(m_parts.window);
        return;
    }
    diag::DebugLog(
        QString::fromLatin1(text::kLogLinkKeyForgotten).arg(diag::decodeServerText(nick)));
}

} // namespace app
