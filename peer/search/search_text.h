#pragma once

#include <QByteArray>
#include <QList>
#include <QString>

#include <utility>

namespace peer {

// What the user typed into a search, made safe for the full-text index: never a query language.
// Each word becomes a quoted term, so that quotes, stars, minus signs and the index's own
// keywords (NEAR, AND, OR, NOT) are only text; the last word, which may be still being typed,
// also finds longer words from kPrefixFrom characters on. The whole of what was typed must then
// stand in the line, without regard to case.
struct SearchText
{
    // Characters of the typed text that are looked at; the rest is not part of the search.
    static constexpr int kMaxLength = 200;
    static constexpr int kMaxWords = 16;
    // The index keeps the words' first three characters apart, which makes such a beginning as
    // quick to find as a whole word; a shorter one would merge most of the index.
    static constexpr int kPrefixFrom = 3;

    QString needle;   // the typed text without the blanks around it, at most kMaxLength
    QByteArray match; // the index's expression, empty when the text holds no word

    static SearchText from(const QString& typed);
    bool isEmpty() const { return needle.isEmpty(); }
    // Whether `line` holds the needle.
    bool foundIn(const QString& line) const;
};

// Where `needle` stands in `text`, without regard to case: start and length of each, in order,
// never overlapping.
QList<std::pair<int, int>> matchRanges(const QString& text, const QString& needle);

} // namespace peer
