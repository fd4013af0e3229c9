#include "peer/search/search_text.h"

namespace peer {

namespace {

// The index cuts text into words at whatever is not a letter or a digit.
bool isWordChar(QChar ch)
{
    return ch.isLetterOrNumber() || ch.category() == QChar::Other_PrivateUse;
}

} // namespace

SearchText SearchText::from(const QString& typed)
{
    SearchText search;
    search.needle = typed.left(kMaxLength).trimmed();
    QStringList words;
    QString word;
    for (const QChar ch : std::as_const(search.needle)) {
        if (isWordChar(ch)) {
            word += ch;
        } else if (!word.isEmpty()) {
            words << std::exchange(word, QString());
        }
    }
    const bool typing = !word.isEmpty();
    if (typing)
        words << word;
    words = words.mid(0, kMaxWords);
    QStringList terms;
    for (const QString& each : std::as_const(words))
        terms << QLatin1Char('"') + each + QLatin1Char('"');
    // Only a word the text ends in may be unfinished.
    if (typing && words.size() <= kMaxWords && !terms.isEmpty() && words.last() == word
        && word.size() >= kPrefixFrom)
        terms.last() += QLatin1Char('*');
    search.match = terms.join(QStringLiteral(" AND ")).toUtf8();
    return search;
}

bool SearchText::foundIn(const QString& line) const
{
    return !needle.isEmpty() && line.contains(needle, Qt::CaseInsensitive);
}

QList<std::pair<int, int>> matchRanges(const QString& text, const QString& needle)
{
    QList<std::pair<int, int>> ranges;
    if (needle.isEmpty())
        return ranges;
    for (qsizetype at = text.indexOf(needle, 0, Qt::CaseInsensitive); at >= 0;
         at = text.indexOf(needle, at + needle.size(), Qt::CaseInsensitive))
        ranges.append({int(at), int(needle.size())});
    return ranges;
}

} // namespace peer
