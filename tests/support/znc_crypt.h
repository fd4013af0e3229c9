#pragma once

#include <QByteArray>
#include <QProcess>
#include <QTcpSocket>
#include <QTemporaryDir>

namespace test {

// Whether Debian's znc is installed with its crypt module (tools/test installs it).
bool haveZnc();

// ZNC 1.8 with its crypt module as a FiSH peer: a bouncer on a free loopback port in front of
// the test's server, with one user whose client is a raw socket of this class. crypt encrypts
// what that client sends to a nick it holds a key for in CBC ("+OK *"), decrypts only CBC
// (ECB "+OK " lines reach the client as sent), and hands the client a decrypted line with the
// sender's nick behind a mark (kDecryptedMark). Its key exchange sends "DH1080_INIT <key>"
// with no " CBC", and answers a DH1080_INIT with a DH1080_FINISH that repeats the INIT's tail.
class ZncCrypt
{
public:
    // What ZNC 1.8 puts before the nick of a sender whose line it decrypted: "*" unless the
    // status prefix starts with "*", as it does by default.
    static constexpr char kDecryptedMark[] = ".";

    ZncCrypt() = default;
    ZncCrypt(const ZncCrypt&) = delete;
    ZncCrypt& operator=(const ZncCrypt&) = delete;
    ~ZncCrypt();

    // Starts ZNC for the server on 127.0.0.1:`port`, with `nick` as its user and nick, and
    // connects the client; true once the server answers the client through ZNC.
    bool start(quint16 port, const QByteArray& nick);
    // Ends ZNC by its PID (SIGTERM, then SIGKILL) and waits until it is gone.
    void stop();

    // `SetKey`: messages to and from `nick` are encrypted with `key` from now on; true once
    // crypt confirms.
    bool setKey(const QByteArray& nick, const QByteArray& key);
    // `KeyX`: crypt sends `nick` a NOTICE "DH1080_INIT <public key>".
    bool startKeyExchange(const QByteArray& nick);
    // A private message from the client to `nick`, which crypt encrypts when it holds a key.
    bool say(const QByteArray& nick, const QByteArray& text);
    // Waits until the client is handed a private message `text` from `from` ("alice" as sent,
    // kDecryptedMark + "alice" once decrypted).
    bool waitForMessage(const QByteArray& from, const QByteArray& text, int timeoutMs = 10000);
    // The key crypt holds for `nick` (`ListKeys`), empty when none.
    QByteArray key(const QByteArray& nick, int timeoutMs = 10000);

    // Everything ZNC has handed the client so far.
    const QByteArray& received();
    // "ZNC 1.8.2+deb3.1+deb12u2 - https://znc.in", for the test log.
    static QByteArray version();
    // What ZNC printed and what the client received, for failure messages.
    QByteArray log();

private:
    bool writeConfig(quint16 ircPort, quint16 listenPort);
    bool connectClient(quint16 listenPort);
    void send(const QByteArray& line) { m_socket.write(line + "\r\n"); }
    // The lines handed to the client after byte `from`, once one holds `marker`.
    bool waitForLine(qsizetype from, const QByteArray& marker, int timeoutMs);

    QTemporaryDir m_folder;
    QProcess m_process;
    QTcpSocket m_socket;
    QByteArray m_nick;
    QByteArray m_received;
    int m_listings = 0;
};

} // namespace test
