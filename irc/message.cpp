#include "irc/message.h"

#include <QHash>
#include <QtAlgorithms>
#include <QtEndian>

#include <algorithm>
#include <cstring>
#include <utility>

namespace irc {
namespace {

// Only the space separates parts; a tab belongs to the word it is in.
constexpr char kBlank = ' ';

const char* skipBlanks(const char* at, const char* end)
{
    while (at < end && *at == kBlank)
        ++at;
    return at;
}

// The first blank at or after `at`, or `end`. Eight bytes at a time: words are mostly a few
// bytes to a few dozen, where a call to memchr costs more than the search.
inline const char* wordEnd(const char* at, const char* end)
{
    constexpr quint64 kOnes = 0x0101010101010101ull;
    constexpr quint64 kHighs = 0x8080808080808080ull;
    constexpr quint64 kBlanks = kOnes * quint64(kBlank);
    for (; end - at >= 8; at += 8) {
        quint64 word;
        std::memcpy(&word, at, sizeof word);
        const quint64 x = qFromLittleEndian(word) ^ kBlanks; // a zero byte where a blank was
        // The lowest marked byte is always a blank; a borrow can only mark bytes above it.
        if (const quint64 marks = (x - kOnes) & ~x & kHighs)
            return at + qCountTrailingZeroBits(marks) / 8;
    }
    while (at < end && *at != kBlank)
        ++at;
    return at;
}

// IRCv3 escapes: \: ; \s space, \\ \, \r CR, \n LF. Any other escaped character stands for
// itself and a lone backslash at the end is dropped, so a value never fails to decode.
QByteArray unescapeTagValue(QByteArrayView raw)
{
    if (!raw.contains('\\'))
        return raw.toByteArray();
    QByteArray out(raw.size(), Qt::Uninitialized);
    char* to = out.data();
    for (qsizetype i = 0; i < raw.size(); ++i) {
        char c = raw[i];
        if (c == '\\') {
            if (++i == raw.size())
                break;
            switch (raw[i]) {
            case ':':
                c = ';';
                break;
            case 's':
                c = ' ';
                break;
            case 'r':
                c = '\r';
                break;
            case 'n':
                c = '\n';
                break;
            default:
                c = raw[i];
                break;
            }
        }
        *to++ = c;
    }
    out.truncate(to - out.data());
    return out;
}

// Finds an earlier tag of the same key so that a repeat can overwrite it. A linear scan suits
// the usual handful of tags; past that a hash keeps a hostile line of many tags from costing
// quadratic time. Keys view the line, which outlives the index.
class TagIndex
{
public:
    explicit TagIndex(QList<Tag>& tags)
        : m_tags(tags)
    {}

    void set(QByteArrayView key, QByteArray value)
    {
        const qsizetype at = find(key);
        if (at >= 0) {
            m_tags[at].value = std::move(value);
            return;
        }
        if (!m_byKey.isEmpty() || m_tags.size() >= kLinearLimit) {
            if (m_byKey.isEmpty())
                indexExisting();
            m_byKey.insert(key, m_tags.size());
        }
        m_tags.append(Tag{key, std::move(value)});
    }

private:
    static constexpr qsizetype kLinearLimit = 16;

    qsizetype find(QByteArrayView key) const
    {
        if (!m_byKey.isEmpty())
            return m_byKey.value(key, -1);
        for (qsizetype i = 0; i < m_tags.size(); ++i) {
            if (m_tags.at(i).key == key)
                return i;
        }
        return -1;
    }

    void indexExisting()
    {
        m_byKey.reserve(2 * kLinearLimit);
        for (qsizetype i = 0; i < m_tags.size(); ++i)
            m_byKey.insert(m_tags.at(i).key, i);
    }

    QList<Tag>& m_tags;
    QHash<QByteArrayView, qsizetype> m_byKey;
};

// key[=value](;key[=value])* ; empty items and items without a key are skipped.
void parseTags(QByteArrayView section, QList<Tag>& tags)
{
    TagIndex index(tags);
    qsizetype pos = 0;
    while (pos < section.size()) {
        qsizetype end = section.indexOf(';', pos);
        if (end < 0)
            end = section.size();
        const QByteArrayView item = section.sliced(pos, end - pos);
        pos = end + 1;
        const qsizetype equals = item.indexOf('=');
        const QByteArrayView key = equals < 0 ? item : item.first(equals);
        if (key.isEmpty())
            continue;
        index.set(key, equals < 0 ? QByteArray() : unescapeTagValue(item.sliced(equals + 1)));
    }
}

} // namespace

std::optional<Message> parseMessage(QByteArrayView line)
{
    // Built in place and returned by name: a message is a few hundred bytes, and moving it out
    // of a local would cost a copy of its parameters on every line.
    std::optional<Message> result(std::in_place);
    Message& message = *result;
    message.line = line;
    const char* const end = line.data() + line.size();
    const char* at = skipBlanks(line.data(), end);
    if (at < end && *at == '@') {
        const char* const wordStop = wordEnd(at, end);
        parseTags(QByteArrayView(at + 1, wordStop), message.tags);
        at = skipBlanks(wordStop, end);
    }
    if (at < end && *at == ':') {
        const char* const wordStop = wordEnd(at, end);
        message.source = QByteArrayView(at + 1, wordStop);
        at = skipBlanks(wordStop, end);
    }
    if (at == end) {
        result.reset();
        return result;
    }
    const char* wordStop = wordEnd(at, end);
    message.command = QByteArrayView(at, wordStop);
    for (at = skipBlanks(wordStop, end); at < end; at = skipBlanks(wordStop, end)) {
        if (*at == ':') {
            message.params.append(QByteArrayView(at + 1, end));
            message.hasTrailing = true;
            break;
        }
        wordStop = wordEnd(at, end);
        message.params.append(QByteArrayView(at, wordStop));
    }
    return result;
}

UserHost splitUserHost(QByteArrayView source)
{
    UserHost parts;
    const qsizetype at = source.indexOf('@');
    const QByteArrayView nickUser = at < 0 ? source : source.first(at);
    if (at >= 0)
        parts.host = source.sliced(at + 1);
    const qsizetype bang = nickUser.indexOf('!');
    parts.nick = bang < 0 ? nickUser : nickUser.first(bang);
    if (bang >= 0)
        parts.user = nickUser.sliced(bang + 1);
    return parts;
}

} // namespace irc
