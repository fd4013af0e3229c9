// The chat logs read back and searched: lines read from any place of a log, the search text that
// is never a query language, and the full-text index kept in step with real log files in a real
// SQLite file, made anew when it is lost, damaged or stale.
#include "peer/chat/chat_log.h"
#include "peer/search/log_index.h"
#include "peer/search/search_text.h"
#include "tests/support/files.h"

#include <QDir>
#include <QTemporaryDir>
#include <gtest/gtest.h>

#include <rapidcheck/gtest.h>
#include <sys/stat.h>

namespace {

using peer::ChatLog;
using peer::LogIndex;
using peer::SearchText;

const QDateTime kStart(QDate(2026, 3, 1), QTime(9, 0, 0), Qt::UTC);

// A log as the chats write it: a start note, then one stamped line a minute.
QByteArray logOf(const QStringList& lines, const QDateTime& from = kStart)
{
    QByteArray log = ChatLog::startedText("bob");
    for (int i = 0; i < lines.size(); ++i)
        log += ChatLog::stampedLine(from.addSecs(60 * i), "<bob> " + lines[i].toUtf8());
    return log;
}

QStringList texts(const std::vector<peer::LoggedLine>& lines)
{
    QStringList out;
    for (const peer::LoggedLine& line : lines)
        out << QString::fromUtf8(line.text);
    return out;
}

QStringList texts(const std::vector<peer::LogHit>& hits)
{
    QStringList out;
    for (const peer::LogHit& hit : hits)
        out << hit.text;
    return out;
}

// Reading back from any place gives exactly the lines written there, whole, in order; a line
// of any length, a log of any size.
RC_GTEST_PROP(ChatLogLines, ReadBackFromAnyPlaceAreTheLinesWritten, ())
{
    const auto words = *rc::gen::container<std::vector<std::string>>(
        rc::gen::nonEmpty(rc::gen::container<std::string>(rc::gen::inRange('!', '~'))));
    const int count = *rc::gen::inRange(1, 40);
    const bool huge = *rc::gen::arbitrary<bool>();
    QStringList lines;
    for (const std::string& word : words)
        lines << QString::fromStdString(word).repeated(huge ? 300 : 1);
    QTemporaryDir dir;
    const QString path = test::writeFile(dir, QStringLiteral("bob.txt"), logOf(lines));
    const auto all = ChatLog::linesFrom(path, 0, 100000);
    QStringList said;
    for (const QString& line : lines)
        said << QStringLiteral("<bob> ") + line;
    RC_ASSERT(texts(all) == said);
    const std::size_t at = *rc::gen::inRange<std::size_t>(0, all.size() + 1);
    const qint64 place = at < all.size() ? all[at].offset : QFileInfo(path).size();
    const auto before = ChatLog::linesBefore(path, place, count);
    const auto from = ChatLog::linesFrom(path, place, count);
    RC_ASSERT(texts(before)
              == said.mid(std::max<qsizetype>(0, qsizetype(at) - count),
                          std::min<qsizetype>(count, qsizetype(at))));
    RC_ASSERT(texts(from) == said.mid(qsizetype(at), count));
    for (const auto& line : from)
        RC_ASSERT(ChatLog::linesFrom(path, line.offset, 1).front().text == line.text);
}

TEST(ChatLogLines, NotesAndDamageAreNoLines)
{
    for (const char* broken :
         {"*Started chat with bob*", "[31/2/2026 1:2:3] no such day", "[1/2/2026 1:2] short",
          "[1/2/2026 1:2:3]no blank", "plain text", "[1/2/2026 25:0:0] no such hour", ""})
        EXPECT_FALSE(ChatLog::parseLine(broken, 0)) << broken;
    const auto line = ChatLog::parseLine("[7/12/2026 5:3:9] <bob> \x02hi\x02 \\x0a", 42);
    ASSERT_TRUE(line);
    EXPECT_EQ(line->offset, 42);
    EXPECT_EQ(line->at, QDateTime(QDate(2026, 12, 7), QTime(5, 3, 9), Qt::UTC));
    EXPECT_EQ(line->text, "<bob> \x02hi\x02 \\x0a");
}

// Whatever the user types, the index is asked for quoted words only, the last a beginning when it
// ends the text, and the line must hold the text as typed: the index's syntax is only text.
RC_GTEST_PROP(SearchTextProperty, TheExpressionIsOnlyQuotedWords, (const std::string& raw))
{
    const SearchText search = SearchText::from(QString::fromUtf8(raw.data(), int(raw.size())));
    const QString match = QString::fromUtf8(search.match);
    RC_ASSERT(search.needle.size() <= SearchText::kMaxLength);
    if (match.isEmpty())
        return;
    const QStringList terms = match.split(QStringLiteral(" AND "));
    RC_ASSERT(terms.size() <= SearchText::kMaxWords);
    for (const QString& term : terms) {
        const bool prefix = term.endsWith(QLatin1Char('*'));
        RC_ASSERT(!prefix || &term == &terms.last());
        RC_ASSERT(term.startsWith(QLatin1Char('"')) && term.endsWith(prefix ? "\"*" : "\""));
        const QString word = term.mid(1, term.size() - (prefix ? 3 : 2));
        RC_ASSERT(!prefix || word.size() >= SearchText::kPrefixFrom);
        RC_ASSERT(!word.isEmpty());
        for (const QChar ch : word)
            RC_ASSERT(ch.isLetterOrNumber() || ch.category() == QChar::Other_PrivateUse);
    }
}

TEST(SearchTextRanges, MarksEachPlaceWithoutCase)
{
    using Ranges = QList<std::pair<int, int>>;
    EXPECT_EQ(peer::matchRanges(QStringLiteral("Hi hi HI"), QStringLiteral("hi")),
              (Ranges{{0, 2}, {3, 2}, {6, 2}}));
    EXPECT_EQ(peer::matchRanges(QStringLiteral("aaaa"), QStringLiteral("aa")),
              (Ranges{{0, 2}, {2, 2}}));
    EXPECT_TRUE(peer::matchRanges(QStringLiteral("abc"), QString()).isEmpty());
}

class LogIndexTest : public ::testing::Test
{
protected:
    QString logs() const { return dir.filePath(QStringLiteral("logs")); }
    QString indexPath() const { return dir.filePath(QStringLiteral("log-index.db")); }
    QString logPath(const QString& nick) const { return logs() + '/' + nick + ".txt"; }
    void writeLog(const QString& nick, const QByteArray& bytes) const
    {
        QDir().mkpath(logs());
        ASSERT_TRUE(test::writeTo(logPath(nick), bytes));
    }
    void append(const QString& nick, const QByteArray& bytes) const
    {
        QFile file(logPath(nick));
        ASSERT_TRUE(file.open(QIODevice::Append));
        file.write(bytes);
    }
    // Brings every log up to date, a small step at a time as the program does.
    void catchUp(LogIndex& index) const
    {
        for (const QString& name : index.logNames()) {
            for (int steps = 0; steps < 10000; ++steps) {
                const auto left = index.catchUp(name, 4096);
                ASSERT_TRUE(left) << index.error().toStdString();
                if (*left == 0)
                    break;
            }
        }
    }
    std::vector<peer::LogHit> find(LogIndex& index, const QString& typed,
                                   const std::optional<QString>& log = std::nullopt) const
    {
        return index.find(SearchText::from(typed), log, 200);
    }
    QTemporaryDir dir;
};

TEST_F(LogIndexTest, KeptInStepWithTheLogsAndNewestFirst)
{
    writeLog("bob", logOf({"the quick brown fox", "jumps over", "the lazy dog"}));
    writeLog("carol", logOf({"a quick word"}, kStart.addDays(1)));
    LogIndex index(indexPath());
    ASSERT_TRUE(index.open(logs())) << index.error().toStdString();
    catchUp(index);
    // Newest first across the logs; prefixes as the user types; a phrase as typed.
    EXPECT_EQ(texts(find(index, "quick")),
              (QStringList{"<bob> a quick word", "<bob> the quick brown fox"}));
    EXPECT_EQ(find(index, "quick").front().log, "carol.txt");
    EXPECT_EQ(texts(find(index, "QUI")).size(), 2);
    EXPECT_EQ(texts(find(index, "quick brown")), QStringList{"<bob> the quick brown fox"});
    EXPECT_TRUE(find(index, "brown quick").empty());
    EXPECT_EQ(texts(find(index, "the", QStringLiteral("bob.txt"))),
              (QStringList{"<bob> the lazy dog", "<bob> the quick brown fox"}));
    // The offset leads back to the very line of the log.
    const peer::LogHit fox = find(index, "fox").front();
    EXPECT_EQ(fox.at, kStart);
    EXPECT_EQ(ChatLog::linesFrom(logPath("bob"), fox.offset, 1).front().text,
              "<bob> the quick brown fox");

    // Lines logged later are found once the log is caught up with; a line being written is not
    // taken before its end.
    append("bob", ChatLog::stampedLine(kStart.addDays(2), "<alice_> \x02quick\x02 reply"));
    append("bob", "[1/1/2027 1:1:1] <bob> half a li");
    catchUp(index);
    EXPECT_EQ(texts(find(index, "reply")), QStringList{"<alice_> quick reply"});
    EXPECT_TRUE(find(index, "half").empty());
    append("bob", "ne\r\n");
    catchUp(index);
    EXPECT_EQ(texts(find(index, "half")), QStringList{"<bob> half a line"});
    EXPECT_EQ(texts(find(index, "quick")).size(), 3);

    // The file is private.
    struct stat info
    {};
    ASSERT_EQ(::stat(QFile::encodeName(indexPath()).constData(), &info), 0);
    EXPECT_EQ(info.st_mode & 0077, 0u);
}

// What the user types is found as typed, never read as the index's syntax; nothing typed and
// nothing in a log breaks a search or widens it.
TEST_F(LogIndexTest, HostileSearchTextsAndLogLines)
{
    const QStringList said = {R"(she said "hi" to me)",
                              "price * 2",
                              "NEAR the end",
                              "well - maybe",
                              "a OR b AND NOT c",
                              "col:umn ^start (paren)",
                              "émigré café",
                              "tab\there",
                              QString::fromUtf8("\xff\xfe broken"),
                              "plain words only"};
    QByteArray log = logOf(said);
    const char nul[] = "[1/4/2026 1:1:1] <bob> nul\0inside\r\n";
    log += QByteArray(nul, sizeof nul - 1);
    log += QByteArray(70000, 'x') + "\r\n"; // no line of a chat
    writeLog("bob", log);
    LogIndex index(indexPath());
    ASSERT_TRUE(index.open(logs()));
    catchUp(index);
    const struct
    {
        QString typed;
        QStringList found;
    } cases[] = {
        {R"("hi")", {R"(<bob> she said "hi" to me)"}},
        {"\"", {R"(<bob> she said "hi" to me)"}},
        {"*", {"<bob> price * 2"}},
        {"* 2", {"<bob> price * 2"}},
        {"NEAR", {"<bob> NEAR the end"}},
        {"NEAR(the end)", {}},
        {"- maybe", {"<bob> well - maybe"}},
        {"-maybe", {}},
        {"OR b AND NOT", {"<bob> a OR b AND NOT c"}},
        {"col:umn", {"<bob> col:umn ^start (paren)"}},
        {"^start", {"<bob> col:umn ^start (paren)"}},
        {"(paren)", {"<bob> col:umn ^start (paren)"}},
        {"CAFÉ", {"<bob> émigré café"}},
        {"cafe", {}},
        {"nul", {QStringLiteral("<bob> nul") + QChar(0) + QStringLiteral("inside")}},
        {QString(QChar(0)), {QStringLiteral("<bob> nul") + QChar(0) + QStringLiteral("inside")}},
        {"\x01\x02", {}},
        {QString(5000, 'a'), {}},
        {QStringLiteral("w ").repeated(100), {}},
        {"\xef\xbf\xbd", {QString::fromUtf8("<bob> \xef\xbf\xbd\xef\xbf\xbd broken")}},
    };
    for (const auto& c : cases)
        EXPECT_EQ(texts(find(index, c.typed)), c.found) << c.typed.left(40).toStdString();
    EXPECT_EQ(find(index, "words").size(), 1u);
}

// The logs are the record: the index follows them when it is lost, damaged, or a log is edited,
// cut or removed behind its back.
TEST_F(LogIndexTest, MadeAnewWhenLostDamagedOrStaleAndSaysWhyWhenNoneCanBeHad)
{
    writeLog("bob", logOf({"first secret", "second line"}));
    writeLog("carol", logOf({"carol says"}));
    const auto fresh = [&] {
        auto index = std::make_unique<LogIndex>(indexPath());
        EXPECT_TRUE(index->open(logs())) << index->error().toStdString();
        catchUp(*index);
        return index;
    };
    EXPECT_EQ(find(*fresh(), "secret").size(), 1u);

    // Lost.
    for (const char* suffix : {"", "-wal", "-shm"})
        QFile::remove(indexPath() + suffix);
    EXPECT_EQ(find(*fresh(), "secret").size(), 1u);

    // Edited in place, the same size: the old words are gone, the new ones found.
    QByteArray bytes = test::readFile(logPath("bob"));
    bytes.replace("secret", "public");
    writeLog("bob", bytes);
    EXPECT_TRUE(find(*fresh(), "secret").empty());
    EXPECT_EQ(find(*fresh(), "public").size(), 1u);

    // Cut short.
    writeLog("bob", logOf({"first only"}));
    auto index = fresh();
    EXPECT_TRUE(find(*index, "second").empty());
    EXPECT_EQ(find(*index, "first").size(), 1u);

    // Removed.
    QFile::remove(logPath("carol"));
    catchUp(*index);
    EXPECT_TRUE(find(*index, "carol").empty());
    index.reset();

    // Damaged, or of another logs folder.
    QFile file(indexPath());
    ASSERT_TRUE(file.open(QIODevice::ReadWrite));
    file.seek(100);
    file.write(QByteArray(4000, '\x5a'));
    file.close();
    EXPECT_EQ(find(*fresh(), "first").size(), 1u);
    LogIndex elsewhere(indexPath());
    ASSERT_TRUE(elsewhere.open(dir.filePath("other")));
    EXPECT_TRUE(find(elsewhere, "first").empty());

    // None can be had: it says why, and finds nothing.
    LogIndex none(test::writeFile(dir, "a-file", "x") + "/log-index.db");
    EXPECT_FALSE(none.open(logs()));
    EXPECT_FALSE(none.error().isEmpty());
    EXPECT_FALSE(none.catchUp("bob.txt", 4096));
    EXPECT_TRUE(find(none, "first").empty());
}

// Two programs on one store share the index file: each catches up with what the other wrote,
// and no line is indexed twice.
TEST_F(LogIndexTest, TwoProgramsShareOneIndex)
{
    writeLog("bob", logOf({"one"}));
    LogIndex first(indexPath());
    LogIndex second(indexPath());
    ASSERT_TRUE(first.open(logs()));
    ASSERT_TRUE(second.open(logs()));
    for (int i = 0; i < 20; ++i) {
        append("bob",
               ChatLog::stampedLine(kStart.addSecs(i), "<bob> shared " + QByteArray::number(i)));
        catchUp(i % 2 ? first : second);
    }
    catchUp(first);
    catchUp(second);
    EXPECT_EQ(find(first, "shared").size(), 20u);
    EXPECT_EQ(find(second, "shared").size(), 20u);
    // Lines of one second keep their order.
    EXPECT_EQ(find(first, "shared").front().text, "<bob> shared 19");
}

} // namespace
