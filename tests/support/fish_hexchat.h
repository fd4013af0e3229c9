#pragma once

#include <QByteArray>
#include <QProcess>
#include <QTemporaryDir>

namespace test {

// Whether HexChat can run here with fishlim and its python plugin (hexchat, hexchat-plugins,
// hexchat-python3; tools/test installs them), under an Xvfb of its own.
bool haveFishHexchat();

// HexChat 2.16 with its fishlim plugin as a FiSH peer on loopback, headless on a private Xvfb
// (and as nobody when the tests run as root). fishlim keeps a mode with each key and both writes
// and reads every line in it: an ECB line under a CBC key shows as garbage, not as an error. The
// text it shows starts with that mode ("[CBC] ", "[ECB] "). Only /msg+ encrypts; a plain /msg
// goes out in clear whatever key it holds. Its /keyx sends "DH1080_INIT <key> CBC"; it answers
// an INIT with a FINISH that repeats a " CBC" tail and keeps the key in the INIT's mode, and
// keeps the key of its own exchange in the mode the FINISH names. Driven by a python addon that
// runs the commands this class leaves in a folder and notes what HexChat shows and receives.
class FishHexchat
{
public:
    FishHexchat() = default;
    FishHexchat(const FishHexchat&) = delete;
    FishHexchat& operator=(const FishHexchat&) = delete;
    ~FishHexchat();

    // Connects to 127.0.0.1:`port` as `nick`; true once the server has welcomed it.
    bool start(quint16 port, const QByteArray& nick);
    // Ends HexChat and the Xvfb, each with its process group, and waits until they are gone.
    void stop();

    // `/setkey`: messages to and from `nick` use `key` ("cbc:" before it for CBC) from now on.
    bool setKey(const QByteArray& nick, const QByteArray& key);
    // `/keyx`: sends `nick` a NOTICE "DH1080_INIT <public key> CBC".
    bool startKeyExchange(const QByteArray& nick);
    // `/msg+`: a private message to `nick`, encrypted when fishlim holds a key for `nick`.
    bool say(const QByteArray& nick, const QByteArray& text);
    // Waits until HexChat shows `text` as a private message from `from`, mode mark included.
    bool waitForText(const QByteArray& from, const QByteArray& text, int timeoutMs = 10000);
    // The key fishlim keeps for `nick` in its addon_fishlim.conf, empty when none.
    QByteArray key(const QByteArray& nick) const;

    // "HexChat 2.16.1, fishlim of hexchat-plugins 2.16.1-1+b3", for the test log.
    static QByteArray versions();
    // What HexChat printed, what the addon noted and fishlim's key file, for failure messages.
    QByteArray log() const;

private:
    bool startDisplay();
    bool startHexchat(quint16 port);
    bool writeConfig();
    // Leaves `command` for the addon and waits until it has run it.
    bool run(const QByteArray& command);
    QByteArray events() const;

    QTemporaryDir m_folder;
    QProcess m_xvfb;
    QProcess m_hexchat;
    QByteArray m_display;
    QByteArray m_nick;
    int m_commands = 0;
};

} // namespace test
