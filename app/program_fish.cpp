// The encryption of relayed chats, as the program wires it: the notices that carry key
// exchanges, the away reply, the user's consent to a contact's exchange, the key typed by hand and
// the comparison the user confirms.
#include "app/contact_list_view.h"
#include "app/main_window.h"
#include "app/program.h"
#include "config/errors.h"
#include "config/registry.h"
#include "peer/common/texts.h"

namespace app {

void Program::wireFish()
{
    m_chats.setFish(&m_fish);
    connect(&m_secrets, &config::SecretStore::loaded, &m_fish, &peer::FishChats::rereadKeys);
    connect(&m_actions, &ServerActions::privateNoticeArrived, &m_fish,
            [this](const QByteArray& sender, const QByteArray& text) {
                m_fish.takeNotice(sender, text);
            });
    m_actions.setAwaySealer([this](const QByteArray& nick, QByteArrayView text, qsizetype room)
                                -> std::optional<irc::ServerLineActions::SealedText> {
        const auto sealed = m_fish.sealedAway(nick, text, room);
        if (!sealed)
            return std::nullopt;
        return irc::ServerLineActions::SealedText{sealed->wire, sealed->plain, sealed->withheld};
    });
    // Asked once the line that brought it is handled: the question runs a loop of its own.
    connect(
        &m_fish, &peer::FishChats::exchangeOffered, this,
        [this](const QByteArray& nick) { askAboutExchange(nick); }, Qt::QueuedConnection);
    connect(m_window->contactList(), &ContactListView::encryptRequested, this,
            [this](const QByteArray& nick) {
                // Said in the chat with them, where its outcome shows.
                const peer::ChatSession* chat =
                    peer::FindRoutedChat(m_chats.records(), nick, m_nicks);
                if (!chat || !m_chats.windowOf(*chat))
                    m_chats.openChat(nick);
                m_fish.startExchange(nick);
            });
    connect(&m_chats, &peer::ChatSessions::keyEntryRequested, this,
            [this](const QByteArray& nick, QWidget* over) {
                config::InputRequest request;
                request.title = peer::fishText::keyEntryTitle();
                request.prompt = peer::fishText::keyEntryPrompt(nick);
                const std::optional<QString> typed = m_prompter->getInput(over, request);
                if (!typed)
                    return;
                switch (m_fish.setTypedKey(nick, *typed)) {
                case peer::FishChats::KeyEntry::Set:
                    break;
                case peer::FishChats::KeyEntry::Invalid:
                    m_prompter->showError(over, peer::fishText::keyEntryTitle(),
                                          peer::fishText::keyInvalid());
                    break;
                case peer::FishChats::KeyEntry::NotKept:
                    m_prompter->showError(
                        over, config::errorTitle(),
                        config::errorText(config::Error::SaveFailed, m_store.registry().path()));
                    break;
                }
            });
    connect(&m_chats, &peer::ChatSessions::comparisonRequested, this,
            [this](const QByteArray& nick, QWidget* over) {
                const peer::FishStatus status = m_fish.status(nick);
                if (status.comparison.isEmpty()) {
                    m_prompter->showNotice(over, peer::fishText::compareTitle(),
                                           peer::fishText::nothingToCompare());
                    return;
                }
                if (m_prompter->ask(over, peer::fishText::compareTitle(),
                                    peer::fishText::compareQuestion(nick, status.comparison))
                    && m_fish.status(nick).comparison == status.comparison)
                    m_fish.markVerified(nick);
            });
}

void Program::askAboutExchange(const QByteArray& nick)
{
    if (!m_fish.hasOffer(nick))
        return;
    const config::Question question{
        peer::fishText::offerTitle(),
        peer::fishText::offerQuestion(nick, m_fish.status(nick).verified),
        peer::fishText::offerDetails()};
    if (m_prompter->ask(m_window.get(), question))
        m_fish.acceptOffer(nick);
    else
        m_fish.declineOffer(nick);
}

} // namespace app
