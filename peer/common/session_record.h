#pragma once

#include "peer/common/nick_rule.h"
#include "peer/crypto/blowfish.h"
#include "peer/crypto/fish_keys.h"

#include <QByteArray>
#include <QByteArrayView>
#include <QPointer>
#include <QString>

#include <memory>
#include <vector>

namespace peer {

class ChatWindow;
class DirectChatLink;

enum TransferType : int { TRANSFER_FILE = 2, TRANSFER_VOICE = 3 };

// How a chat runs: through the server, or over a direct link, plain, with our Blowfish
// encryption, or private (TLS).
enum class ChatMode { Relayed, Direct, Encrypted, Private };

// What keeps a direct link private, as the chat window says it.
enum class LinkProtection {
    None,
    BlowfishKeyOverLink, // encrypted, but the key crossed the link it protects
    TlsPinned,           // TLS with the certificate this contact had before, never compared
    TlsNotYetVerified,   // TLS with a certificate first seen now, pinned but not compared
    TlsCompared,         // TLS with the certificate the two users compared: it may vouch
};

// A chat window's conversation, relayed by the server or over a direct link. Its link and its
// window are weak: either may go first, and the record stays.
struct ChatSession
{
    ChatSession() = default;
    ChatSession(const ChatSession&) = delete;
    ChatSession& operator=(const ChatSession&) = delete;

    bool isDirect() const { return mode != ChatMode::Relayed; }
    bool isPrivate() const { return mode == ChatMode::Private; }
    // Our Blowfish encryption was asked for, or a key has come over the link since.
    bool isEncrypted() const { return mode == ChatMode::Encrypted; }
    // What protects a direct chat's link: its TLS, else a Blowfish key sent over it.
    LinkProtection linkProtection() const
    {
        return tls != LinkProtection::None ? tls
               : keyInstalled              ? LinkProtection::BlowfishKeyOverLink
                                           : LinkProtection::None;
    }

    // Kept whole: servers allow nicks far longer than nine characters, and a cut nick would
    // route two people to one window.
    QByteArray nick;
    ChatMode mode = ChatMode::Relayed;
    bool serverRouted = false; // server text from `nick` goes to this record's window
    QPointer<DirectChatLink> link;
    QPointer<ChatWindow> window;
    bool keyInstalled = false;
    BlowfishState cipher; // all zero unless a key is installed
    LinkProtection tls = LinkProtection::None;
    QByteArray peerFingerprint; // lower-case hex SHA-256
    // A relayed chat's encryption with its contact, as the window shows it.
    FishStatus fish;
    // The lines shown, with formatting codes: a direct chat's window that closed and opens
    // again for its link shows them again. The window bounds them.
    QByteArray transcript;
    int transcriptLines = 0;
    // The transcript takes a shown line (ending in CR LF); past `keep` + `slack` lines it is cut
    // back to the newest `keep` in one step.
    void keepShown(const QByteArray& line, int keep, int slack);
};

// A file transfer in either direction, or one leg of a voice chat.
struct TransferSession
{
    TransferType type = TRANSFER_FILE;
    quint64 count = 0;
    QString path;
    QString baseName;
    QByteArray peerNick;
    qint64 startTime = 0;
    quint16 port = 0;
    quint64 size = 0;
};

// An ordered collection of records that owns them. The operations keep their old names and
// results: AppendRecord puts a record at the tail.
template <typename Record> class SessionList
{
public:
    Record* AppendRecord(std::unique_ptr<Record> record)
    {
        if (!record)
            return nullptr;
        m_records.push_back(std::move(record));
        return m_records.back().get();
    }

    // True when the record was in the list and is now freed.
    bool RemoveRecord(const Record* record)
    {
        for (auto it = m_records.begin(); it != m_records.end(); ++it) {
            if (it->get() == record) {
                m_records.erase(it);
                return true;
            }
        }
        return false;
    }

    void FreeAllRecords() { m_records.clear(); }
    int CountRecords() const { return static_cast<int>(m_records.size()); }

    Record* at(int index) const { return m_records.at(static_cast<size_t>(index)).get(); }
    auto begin() const { return m_records.begin(); }
    auto end() const { return m_records.end(); }

private:
    std::vector<std::unique_ptr<Record>> m_records;
};

using ChatList = SessionList<ChatSession>;

// The first chat whose server text goes to it from `nick`, by `nicks` (until the server has
// said how it compares nicks, the exact spelling: the server's spelling is what routes).
ChatSession* FindRoutedChat(const ChatList& list, const QByteArray& nick,
                            const NickRule& nicks = {});

} // namespace peer
