#pragma once

#include "peer/blowfish.h"

#include <QByteArray>
#include <QByteArrayView>
#include <QList>
#include <QObject>
#include <QPointer>
#include <QString>

#include <functional>
#include <memory>
#include <vector>

namespace peer {

// The kinds of conversation record; the numbers are those AllocRecord takes.
enum RecordKind : int { KIND_CHAT = 0, KIND_TRANSFER = 1, KIND_AUDIOBUF = 2 };
enum TransferType : int { TRANSFER_FILE = 2, TRANSFER_VOICE = 3 };

// One open conversation. A record is found again by its socket (when a socket event arrives)
// or by its window (when a window handles a message); both are weak, since either may go first.
struct SessionRecord
{
    explicit SessionRecord(RecordKind recordKind)
        : kind(recordKind)
    {}
    virtual ~SessionRecord() = default;
    SessionRecord(const SessionRecord&) = delete;
    SessionRecord& operator=(const SessionRecord&) = delete;

    const RecordKind kind;
    QPointer<QObject> socket;
    QPointer<QObject> window;
};

// A chat window's conversation, relayed by the server or over a direct link.
// What keeps a direct link private, as the chat window says it.
enum class LinkProtection {
    None,
    BlowfishKeyOverLink, // encrypted, but the key crossed the link it protects
    TlsPinned,           // TLS with the certificate this contact had before
    TlsNotYetVerified,   // TLS with a certificate first seen now, pinned but not compared
};

struct ChatSession : SessionRecord
{
    ChatSession()
        : SessionRecord(KIND_CHAT)
    {}

    // Kept whole: servers allow nicks far longer than nine characters, and a cut nick would
    // route two people to one window.
    QByteArray nick;
    bool serverRouted = false; // server text from `nick` goes to this record's window
    bool isDcc = false;
    bool encrypted = false;
    bool keyInstalled = false;
    BlowfishState cipher; // all zero unless a key is installed
    quint16 listenPort = 0;
    // A private link (SCHAT): TLS, and the peer's certificate once the handshake is done.
    bool secure = false;
    LinkProtection tls = LinkProtection::None;
    QByteArray peerFingerprint; // lower-case hex SHA-256
    // A passive offer of ours waits for the answer that carries this token.
    QByteArray token;
    // The lines shown, with formatting codes: a direct chat's window that closed and opens
    // again for its link shows them again. The window bounds them.
    QByteArray transcript;
    int transcriptLines = 0;
};

// A file transfer in either direction, or one leg of a voice chat.
struct TransferSession : SessionRecord
{
    TransferSession()
        : SessionRecord(KIND_TRANSFER)
    {}

    TransferType type = TRANSFER_FILE;
    quint64 count = 0;
    QString path;
    QString baseName;
    QByteArray peerNick;
    qint64 startTime = 0;
    quint16 port = 0;
    quint64 size = 0;
};

// One received block of audio waiting to be played.
struct AudioBuffer : SessionRecord
{
    AudioBuffer()
        : SessionRecord(KIND_AUDIOBUF)
    {}

    QByteArray data;
};

// A new record of the given kind, or null for an unknown kind.
std::unique_ptr<SessionRecord> AllocRecord(int kind);

// An ordered collection of records that owns them. The operations keep their old names and
// results: AppendRecord puts a record at the tail, FindChat/FindTransfer give the first match
// from the head, and a key given as null is not compared.
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

    Record* find(const QObject* socket, const QObject* window) const
    {
        for (const auto& record : m_records) {
            if (socket && record->socket == socket)
                return record.get();
            if (window && record->window == window)
                return record.get();
        }
        return nullptr;
    }

    Record* at(int index) const { return m_records.at(static_cast<size_t>(index)).get(); }
    auto begin() const { return m_records.begin(); }
    auto end() const { return m_records.end(); }

private:
    std::vector<std::unique_ptr<Record>> m_records;
};

using ChatList = SessionList<ChatSession>;
using DccList = SessionList<TransferSession>;

inline ChatSession* FindChat(const ChatList& list, const QObject* socket, const QObject* window)
{
    return list.find(socket, window);
}

inline TransferSession* FindTransfer(const DccList& list, const QObject* socket,
                                     const QObject* window)
{
    return list.find(socket, window);
}

// The first chat whose server text goes to it from `nick` (exact comparison, as the server's
// nick spelling is what routes).
ChatSession* FindRoutedChat(const ChatList& list, const QByteArray& nick);

// Whether two nicks name the same user, as the server compares them.
using NickComparison = std::function<bool(QByteArrayView a, QByteArrayView b)>;

// The same, comparing nicks by `same` (the server's case mapping, once it has told us).
ChatSession* FindRoutedChat(const ChatList& list, const QByteArray& nick,
                            const NickComparison& same);

} // namespace peer
