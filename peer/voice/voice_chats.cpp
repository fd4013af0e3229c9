#include "peer/voice/voice_chats.h"

#include "peer/common/chat_host.h"
#include "peer/voice/sound.h"
#include "peer/voice/voice_call.h"
#include "peer/voice/voice_link.h"
#include "peer/voice/voice_window.h"

namespace peer {

VoiceChats::VoiceChats(ChatHost& host, SoundSystem& sound, QObject* parent)
    : QObject(parent)
    , m_host(host)
    , m_sound(sound)
    , m_codecs(new QTimer(this))
{
    m_codecs->setInterval(1000);
    connect(m_codecs, &QTimer::timeout, this, &VoiceChats::showCodecs);
}

VoiceChats::~VoiceChats()
{
    closeAll();
}

VoiceCall* VoiceChats::at(int index) const
{
    return m_entries.at(size_t(index)).call.get();
}

VoiceWindow* VoiceChats::windowOf(const VoiceCall* call) const
{
    for (const Entry& entry : m_entries) {
        if (entry.call.get() == call)
            return entry.window;
    }
    return nullptr;
}

QList<VoiceLeg> VoiceChats::allLegs() const
{
    QList<VoiceLeg> legs;
    for (const Entry& entry : m_entries)
        legs << entry.call->legs();
    return legs;
}

void VoiceChats::start(const QByteArray& nick, const QWidget* near)
{
    // One chat the user starts at a time, as long as its window is open, even after the peer
    // left: the box tells the user to close it. Offers from others are not limited.
    if (!m_entries.empty()) {
        emit alreadyOpen();
        return;
    }
    // Nothing is offered that could not be heard: the window says why instead.
    if (const auto unavailable = m_sound.prepare()) {
        showUnavailable(nick, *unavailable, near);
        return;
    }
    auto call = std::make_unique<VoiceCall>(m_sound, nick);
    if (!offerLink(*call, nick, false))
        return;
    add(std::move(call), VoiceStatus::Connecting, WindowPlacer::Opener::User, near);
}

bool VoiceChats::answersOurOffer(const irc::DccOffer& offer) const
{
    return offer.kind == irc::DccKind::Voice
           && incomingVoiceOffer(allLegs(), offer.sender, m_host.nicks())
                  == IncomingVoice::AcceptAsReturn
           && awaitingReturn(offer.sender);
}

VoiceCall* VoiceChats::awaitingReturn(const QByteArray& nick) const
{
    for (const Entry& entry : m_entries) {
        const QList<VoiceLeg> legs = entry.call->legs();
        if (incomingVoiceOffer(legs, nick, m_host.nicks()) == IncomingVoice::AcceptAsReturn)
            return entry.call.get();
    }
    return nullptr;
}

void VoiceChats::accept(const irc::DccOffer& offer)
{
    VoiceCall* call = answersOurOffer(offer) ? awaitingReturn(offer.sender) : nullptr;
    const bool isReturn = call != nullptr;
    // A new chat here is an offer the user said Yes to. The return link of ours has its sound
    // already.
    if (!call) {
        if (const auto unavailable = m_sound.prepare()) {
            showUnavailable(offer.sender, *unavailable);
            return;
        }
        call = &add(std::make_unique<VoiceCall>(m_sound, offer.sender), VoiceStatus::Established,
                    WindowPlacer::Opener::User);
    }
    // The sender's nick is kept, so that the return link knows where to go.
    VoiceLink* link = call->add(std::make_unique<VoiceLink>(VoiceLink::Role::Playback, offer.sender,
                                                            isReturn, nullptr, m_opus));
    link->connectTo(offer.address, offer.port);
}

void VoiceChats::prepareSound()
{
    // What failed is said when the chat would start.
    m_sound.prepare();
}

void VoiceChats::showUnavailable(const QByteArray& nick, const QString& why, const QWidget* near)
{
    VoiceCall& call = add(std::make_unique<VoiceCall>(m_sound, nick), std::nullopt,
                          WindowPlacer::Opener::User, near);
    showLine(&call, why);
    call.end();
}

bool VoiceChats::offerLink(VoiceCall& call, const QByteArray& nick, bool isReturn)
{
    auto link =
        std::make_unique<VoiceLink>(VoiceLink::Role::Capture, nick, isReturn, nullptr, m_opus);
    if (const auto failure = link->offer(m_host)) {
        emit failed(*failure == DccEndpoint::Failure::NoPort ? VoiceError::NoPort
                                                             : VoiceError::OfferNotSent);
        return false;
    }
    VoiceCall* owner = &call;
    connect(link.get(), &VoiceLink::expired, this, [this, owner](std::chrono::milliseconds waited) {
        showLine(owner, offerExpiredText(waited));
        owner->end();
    });
    call.add(std::move(link));
    return true;
}

VoiceCall& VoiceChats::add(std::unique_ptr<VoiceCall> call, std::optional<VoiceStatus> first,
                           WindowPlacer::Opener opener, const QWidget* near)
{
    auto* window = new VoiceWindow(call->peerNick(), m_owner);
    window->setAttribute(Qt::WA_DeleteOnClose);
    VoiceCall* added = call.get();
    // After the window's own handler has run: the chat it shows must outlive it.
    connect(
        window, &VoiceWindow::dismissed, this, [this, added] { remove(added); },
        Qt::QueuedConnection);
    connect(added, &VoiceCall::status, this,
            [this, added](VoiceStatus status) { showStatus(added, status); });
    connect(added, &VoiceCall::ended, window, &VoiceWindow::callEnded);
    connect(added, &VoiceCall::linkConnected, this,
            [this, added](VoiceLink* link) { linkConnected(*added, *link); });
    connect(added, &VoiceCall::codecKnown, this, [this] {
        showCodecs();
        m_codecs->start();
    });
    m_entries.push_back({std::move(call), window, false, {}});
    if (first)
        showStatus(added, *first);
    m_placer->show(window, opener, near);
    return *added;
}

void VoiceChats::linkConnected(VoiceCall& call, const VoiceLink& link)
{
    // Each link carries sound one way: a first link we accepted is answered by one back.
    if (offersReturnLeg(allLegs(), link.leg(), m_host.nicks()))
        offerLink(call, link.record().peerNick, true);
}

void VoiceChats::showStatus(const VoiceCall* call, VoiceStatus status)
{
    // The side that accepted says so when its window opens; its return link connecting later
    // is the same conversation, not a second one.
    if (status == VoiceStatus::Established) {
        for (Entry& entry : m_entries) {
            if (entry.call.get() != call)
                continue;
            if (entry.established)
                return;
            entry.established = true;
        }
    }
    showLine(call, voiceStatusText(status));
}

void VoiceChats::showLine(const VoiceCall* call, const QString& line)
{
    for (Entry& entry : m_entries) {
        if (entry.call.get() != call)
            continue;
        entry.log.append(line);
        if (entry.window)
            entry.window->showStatus(entry.log.text());
    }
}

const VoiceStatusLog& VoiceChats::statusLogOf(const VoiceCall* call) const
{
    static const VoiceStatusLog kNone;
    for (const Entry& entry : m_entries) {
        if (entry.call.get() == call)
            return entry.log;
    }
    return kNone;
}

void VoiceChats::showCodecs()
{
    bool running = false;
    for (const Entry& entry : m_entries) {
        const VoiceCall& call = *entry.call;
        if (!entry.window || call.hasEnded())
            continue;
        running = true;
        entry.window->showCodec(voiceCodecText(call));
    }
    if (!running)
        m_codecs->stop();
}

void VoiceChats::remove(const VoiceCall* call)
{
    for (auto it = m_entries.begin(); it != m_entries.end(); ++it) {
        if (it->call.get() == call) {
            delete it->window.data();
            m_entries.erase(it);
            return;
        }
    }
}

void VoiceChats::closeAll()
{
    for (Entry& entry : m_entries)
        delete entry.window.data();
    m_entries.clear();
}

} // namespace peer
