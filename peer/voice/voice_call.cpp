#include "peer/voice/voice_call.h"

#include "peer/voice/sound.h"
#include "peer/voice/voice_link.h"

#include <QCoreApplication>

namespace peer {

namespace {

// Links and devices are often released from inside their own signals, so they go once control
// has left them, or with the call at the latest.
template <typename Object> void retire(Object*& object, QObject* owner)
{
    if (!object)
        return;
    object->disconnect(owner);
    object->deleteLater();
    object = nullptr;
}

} // namespace

VoiceCall::VoiceCall(SoundSystem& sound, const QByteArray& peerNick, QObject* parent)
    : QObject(parent)
    , m_sound(sound)
    , m_peerNick(peerNick)
{}

VoiceCall::~VoiceCall()
{
    release();
}

VoiceLink* VoiceCall::add(std::unique_ptr<VoiceLink> owned)
{
    VoiceLink* link = owned.release();
    link->setParent(this);
    m_links.push_back(link);
    connect(link, &VoiceLink::connected, this, [this, link] { connected(link); });
    connect(link, &VoiceLink::codecChosen, this,
            [this, link](VoiceCodec codec) { codecChosen(link, codec); });
    connect(link, &VoiceLink::samplesArrived, this, &VoiceCall::play);
    connect(link, &VoiceLink::closedByPeer, this, [this] {
        emit status(VoiceStatus::PeerClosed);
        end();
    });
    return link;
}

QList<VoiceLeg> VoiceCall::legs() const
{
    QList<VoiceLeg> legs;
    for (const VoiceLink* link : m_links)
        legs << link->leg();
    return legs;
}

void VoiceCall::connected(VoiceLink* link)
{
    if (link->role() == VoiceLink::Role::Capture)
        emit status(VoiceStatus::Established);
    emit linkConnected(link);
}

void VoiceCall::codecChosen(VoiceLink* link, VoiceCodec codec)
{
    // The devices open once the link knows what it carries, in its format. Without a playback
    // device the chat still goes on: the return link is offered anyway.
    const SoundFormat format =
        codec == VoiceCodec::Opus ? SoundFormat::opus() : SoundFormat::voice();
    if (link->role() == VoiceLink::Role::Capture)
        startCapture(format);
    else
        startPlayback(format);
    emit codecKnown(link);
}

void VoiceCall::startCapture(const SoundFormat& format)
{
    if (m_input || m_ended)
        return;
    m_input = m_sound.makeInput(format).release();
    m_input->setParent(this);
    connect(m_input, &SoundInput::captured, this, [this](const QByteArray& samples) {
        for (VoiceLink* link : m_links) {
            if (link->role() == VoiceLink::Role::Capture)
                link->sendCaptured(samples);
        }
    });
    connect(m_input, &SoundInput::failed, this, [this](VoiceStatus failure) {
        stopCapture();
        emit status(failure);
    });
    if (const auto failure = m_input->start()) {
        stopCapture();
        emit status(*failure);
    }
}

void VoiceCall::startPlayback(const SoundFormat& format)
{
    if (m_output || m_ended)
        return;
    m_output = m_sound.makeOutput(format).release();
    m_output->setParent(this);
    connect(m_output, &SoundOutput::ready, this, &VoiceCall::play);
    if (const auto failure = m_output->start()) {
        stopPlayback();
        emit status(*failure);
    }
}

void VoiceCall::play()
{
    if (!m_output)
        return;
    for (VoiceLink* link : m_links) {
        if (link->role() != VoiceLink::Role::Playback)
            continue;
        if (const auto failure = link->playInto(*m_output)) {
            // One line, not one per block: the device is given up.
            stopPlayback();
            emit status(*failure);
            return;
        }
    }
}

void VoiceCall::stopCapture()
{
    if (m_input)
        m_input->stop();
    retire(m_input, this);
}

void VoiceCall::stopPlayback()
{
    if (m_output)
        m_output->stop();
    retire(m_output, this);
}

void VoiceCall::end()
{
    if (m_ended)
        return;
    release();
    emit ended();
}

QString voiceCodecText(const VoiceCall& call)
{
    bool opus = false;
    bool plain = false;
    QString sending;
    QString delay;
    for (int i = 0; i < call.linkCount(); ++i) {
        const VoiceLink* link = call.link(i);
        if (link->codec() == VoiceCodec::Plain)
            plain = true;
        if (link->codec() != VoiceCodec::Opus)
            continue;
        opus = true;
        if (link->role() == VoiceLink::Role::Capture)
            sending = QCoreApplication::translate("peer", ", sending %1 kbit/s")
                          .arg((link->bitrate() + 500) / 1000);
        else
            delay = QCoreApplication::translate("peer", ", delay %1 ms").arg(link->delayMs());
    }
    if (opus)
        return QCoreApplication::translate("peer", "Opus 48 kHz") + sending + delay;
    if (plain)
        return QCoreApplication::translate("peer", "8 kHz samples, 64 kbit/s");
    return {};
}

void VoiceCall::release()
{
    m_ended = true;
    stopCapture();
    stopPlayback();
    for (VoiceLink*& link : m_links) {
        link->close();
        retire(link, this);
    }
    m_links.clear();
}

} // namespace peer
