#include "irc/message.h"

#include <QHash>

#include <utility>

namespace irc {
namespace {

// Only the space separates parts; a tab belongs to the word it is in.
constexpr char kBlank = ' ';

qsizetype skipBlanks(QByteArrayView line, qsizetype pos)
{
    while (pos < line.size() && line[pos] == kBlank)
        ++pos;
    return pos;
}

qsizetype wordEnd(QByteArrayView line, qsizetype pos)
{
    const qsizetype blank = line.indexOf(kBlank, pos);
    return blank < 0 ? line.size() : blank;
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
// quadratic time. The hashed keys view bytes that outlive the index: the line, or the keys
// already copied into `tags`, which are never modified.
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
        m_tags.append(Tag{key.toByteArray(), std::move(value)});
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
    Message message;
    qsizetype pos = skipBlanks(line, 0);
    if (pos < line.size() && line[pos] == '@') {
        const qsizetype end = wordEnd(line, pos);
        parseTags(line.sliced(pos + 1, end - pos - 1), message.tags);
        pos = skipBlanks(line, end);
    }
    if (pos < line.size() && line[pos] == ':') {
        const qsizetype end = wordEnd(line, pos);
        message.source = line.sliced(pos + 1, end - pos - 1).toByteArray();
        pos = skipBlanks(line, end);
    }
    if (pos == line.size())
        return std::nullopt;
    qsizetype end = wordEnd(line, pos);
    message.command = line.sliced(pos, end - pos).toByteArray();
    for (pos = skipBlanks(line, end); pos < line.size(); pos = skipBlanks(line, end)) {
        if (line[pos] == ':') {
            message.params.append(line.sliced(pos + 1).toByteArray());
            break;
        }
        end = wordEnd(line, pos);
        message.params.append(line.sliced(pos, end - pos).toByteArray());
    }
    return message;
}

UserHost splitUserHost(QByteArrayView source)
{
    UserHost parts;
    const qsizetype at = source.indexOf('@');
    const QByteArrayView nickUser = at < 0 ? source : source.first(at);
    if (at >= 0)
        parts.host = source.sliced(at + 1).toByteArray();
    const qsizetype bang = nickUser.indexOf('!');
    parts.nick = (bang < 0 ? nickUser : nickUser.first(bang)).toByteArray();
    if (bang >= 0)
        parts.user = nickUser.sliced(bang + 1).toByteArray();
    return parts;
}

} // namespace irc
