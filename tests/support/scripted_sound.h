#pragma once

#include "peer/voice/sound.h"

#include <QByteArray>
#include <QList>
#include <QPointer>
#include <QString>

#include <algorithm>
#include <optional>
#include <utility>

namespace test {

using peer::VoiceStatus;

// Sound devices that capture and play on command. What they did is shared by all that one
// sound system made.
struct ScriptedDevices
{
    std::optional<VoiceStatus> inputFails;
    std::optional<VoiceStatus> outputFails;
    std::optional<VoiceStatus> writeFails;
    qint64 room = 0; // what the playback device takes before it is given more room
    QByteArray played;
    int openInputs = 0;
    int openOutputs = 0;
    int inputsMade = 0;
    int outputsMade = 0;
    // The format each device was made with, in the order they were made.
    QList<peer::SoundFormat> inputFormats;
    QList<peer::SoundFormat> outputFormats;
};

class ScriptedInput : public peer::SoundInput
{
public:
    explicit ScriptedInput(ScriptedDevices& devices,
                           peer::SoundFormat format = peer::SoundFormat::voice())
        : m_devices(devices)
        , m_format(format)
    {}
    peer::SoundFormat format() const { return m_format; }
    ~ScriptedInput() override { stop(); }
    std::optional<VoiceStatus> start() override
    {
        if (m_devices.inputFails)
            return m_devices.inputFails;
        m_open = true;
        ++m_devices.openInputs;
        return std::nullopt;
    }
    void stop() override
    {
        if (std::exchange(m_open, false))
            --m_devices.openInputs;
    }
    void speak(const QByteArray& data) { emit captured(data); }
    void breakDown(VoiceStatus status)
    {
        stop();
        emit failed(status);
    }

private:
    ScriptedDevices& m_devices;
    peer::SoundFormat m_format;
    bool m_open = false;
};

class ScriptedOutput : public peer::SoundOutput
{
public:
    explicit ScriptedOutput(ScriptedDevices& devices,
                            peer::SoundFormat format = peer::SoundFormat::voice())
        : m_devices(devices)
        , m_format(format)
    {}
    peer::SoundFormat format() const { return m_format; }
    ~ScriptedOutput() override { stop(); }
    std::optional<VoiceStatus> start() override
    {
        if (m_devices.outputFails)
            return m_devices.outputFails;
        m_open = true;
        ++m_devices.openOutputs;
        return std::nullopt;
    }
    Written write(QByteArrayView data) override
    {
        if (m_devices.writeFails)
            return {0, m_devices.writeFails};
        const qint64 taken = std::min<qint64>(m_devices.room, data.size());
        m_devices.room -= taken;
        m_devices.played += data.first(taken);
        return {taken, std::nullopt};
    }
    void stop() override
    {
        if (std::exchange(m_open, false))
            --m_devices.openOutputs;
    }
    // The device played `bytes` and has room for them again.
    void drain(qint64 bytes)
    {
        m_devices.room += bytes;
        emit ready();
    }

private:
    ScriptedDevices& m_devices;
    peer::SoundFormat m_format;
    bool m_open = false;
};

class ScriptedSound : public peer::SoundSystem
{
public:
    // What prepare() answers: a reason makes the devices unavailable, as a sound module that
    // could not be loaded does.
    std::optional<QString> prepare() override
    {
        ++prepared;
        return unavailable;
    }
    std::unique_ptr<peer::SoundInput>
    makeInput(peer::SoundFormat format = peer::SoundFormat::voice()) override
    {
        ++devices.inputsMade;
        devices.inputFormats << format;
        auto input = std::make_unique<ScriptedInput>(devices, format);
        lastInput = input.get();
        return input;
    }
    std::unique_ptr<peer::SoundOutput>
    makeOutput(peer::SoundFormat format = peer::SoundFormat::voice()) override
    {
        ++devices.outputsMade;
        devices.outputFormats << format;
        auto output = std::make_unique<ScriptedOutput>(devices, format);
        lastOutput = output.get();
        return output;
    }
    ScriptedDevices devices;
    std::optional<QString> unavailable;
    int prepared = 0;
    QPointer<ScriptedInput> lastInput;
    QPointer<ScriptedOutput> lastOutput;
};

} // namespace test
