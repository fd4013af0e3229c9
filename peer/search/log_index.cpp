#include "peer/search/log_index.h"

#include "diag/private_files.h"
#include "peer/chat/chat_log.h"
#include "peer/search/log_reader.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <sqlite3.h>

namespace peer {

namespace {

constexpr int kVersion = 1;
// A line's rowid is its time in seconds above this many bits, so the newest come first by rowid
// alone; the bits below tell apart the lines of one second (a busier second takes the next one's).
// Few bits keep the steps between rowids, and so the index, small.
constexpr int kSecondShift = 10;
// A search stops after looking at this many lines that the index offered, found or not.
constexpr int kMaxLooked = 200000;

class Query
{
public:
    Query(sqlite3* db, const char* sql)
    {
        if (db && sqlite3_prepare_v2(db, sql, -1, &m_stmt, nullptr) != SQLITE_OK) {
            sqlite3_finalize(m_stmt);
            m_stmt = nullptr;
        }
    }
    ~Query() { sqlite3_finalize(m_stmt); }
    Query(const Query&) = delete;
    Query& operator=(const Query&) = delete;

    bool ok() const { return m_stmt != nullptr; }
    Query& bind(int index, qint64 value)
    {
        sqlite3_bind_int64(m_stmt, index, value);
        return *this;
    }
    Query& bind(int index, const QByteArray& text)
    {
        sqlite3_bind_text(m_stmt, index, text.constData(), int(text.size()), SQLITE_TRANSIENT);
        return *this;
    }
    int step() { return m_stmt ? sqlite3_step(m_stmt) : SQLITE_MISUSE; }
    bool run() { return step() == SQLITE_DONE && reset(); }
    bool reset() { return sqlite3_reset(m_stmt) == SQLITE_OK; }
    qint64 integer(int column) const { return sqlite3_column_int64(m_stmt, column); }
    QString text(int column) const
    {
        return QString::fromUtf8(reinterpret_cast<const char*>(sqlite3_column_text(m_stmt, column)),
                                 sqlite3_column_bytes(m_stmt, column));
    }

private:
    sqlite3_stmt* m_stmt = nullptr;
};

QString sqliteError(sqlite3* db)
{
    return db ? QString::fromUtf8(sqlite3_errmsg(db)) : QStringLiteral("out of memory");
}

void removeIndexFiles(const QString& path)
{
    for (const char* suffix : {"", "-wal", "-shm"})
        QFile::remove(path + QLatin1String(suffix));
}

} // namespace

LogIndex::LogIndex(QString path)
    : m_path(std::move(path))
{}

LogIndex::~LogIndex()
{
    close();
}

void LogIndex::close()
{
    sqlite3_close(m_db);
    m_db = nullptr;
    m_checked.clear();
    m_names.clear();
}

bool LogIndex::exec(const char* sql) const
{
    return sqlite3_exec(m_db, sql, nullptr, nullptr, nullptr) == SQLITE_OK;
}

quint64 LogIndex::digest(quint64 state, QByteArrayView bytes)
{
    // FNV-1a: it continues from any point, so the digest of a growing log is kept up as it grows
    // without reading it again. It tells edits apart, not adversaries: the logs are the user's.
    for (const char byte : bytes)
        state = (state ^ static_cast<unsigned char>(byte)) * 1099511628211ULL;
    return state;
}

bool LogIndex::open(const QString& folder)
{
    close();
    m_folder = folder;
    // Anything wrong with the file (damaged, of another version or another folder) costs only
    // the time to index the logs again.
    for (int attempt = 0; attempt < 2; ++attempt) {
        if (!QFileInfo::exists(m_path) && !diag::createPrivateFile(m_path)) {
            m_error = QStringLiteral("cannot make %1").arg(m_path);
            return false;
        }
        for (const char* suffix : {"", "-wal", "-shm"})
            diag::keepPrivate(m_path + QLatin1String(suffix));
        if (sqlite3_open_v2(QFile::encodeName(m_path).constData(), &m_db,
                            SQLITE_OPEN_READWRITE | SQLITE_OPEN_NOMUTEX, nullptr)
                == SQLITE_OK
            && makeSchema())
            return true;
        m_error = sqliteError(m_db);
        close();
        removeIndexFiles(m_path);
    }
    return false;
}

bool LogIndex::makeSchema()
{
    sqlite3_busy_timeout(m_db, 5000);
    if (!exec("PRAGMA journal_mode=WAL") || !exec("PRAGMA synchronous=NORMAL"))
        return false;
    Query version(m_db, "PRAGMA user_version");
    if (!version.ok() || version.step() != SQLITE_ROW)
        return false;
    const qint64 found = version.integer(0);
    version.reset();
    if (found == 0) {
        if (!exec("BEGIN IMMEDIATE"))
            return false;
        const bool made =
            exec("CREATE TABLE IF NOT EXISTS meta(key TEXT PRIMARY KEY, value TEXT)")
            && exec("CREATE TABLE IF NOT EXISTS logs(id INTEGER PRIMARY KEY, name TEXT UNIQUE "
                    "NOT NULL, indexed INTEGER NOT NULL, digest INTEGER NOT NULL)")
            // The words only: the lines themselves are in the logs, and the index points there.
            && exec("CREATE TABLE IF NOT EXISTS place(rowid INTEGER PRIMARY KEY, log INTEGER "
                    "NOT NULL, offset INTEGER NOT NULL)")
            && exec("CREATE VIRTUAL TABLE IF NOT EXISTS lines USING fts5(text, content='', "
                    "detail=none, columnsize=0, prefix='3', tokenize='unicode61')")
            && Query(m_db, "INSERT OR IGNORE INTO meta VALUES('folder', ?1)")
                   .bind(1, m_folder.toUtf8())
                   .run()
            && exec("PRAGMA user_version=1") && exec("COMMIT");
        if (!made) {
            exec("ROLLBACK");
            return false;
        }
    } else if (found != kVersion) {
        return false;
    }
    Query folder(m_db, "SELECT value FROM meta WHERE key='folder'");
    if (!folder.ok() || folder.step() != SQLITE_ROW || folder.text(0) != m_folder)
        return false;
    folder.reset();
    // A damaged file is found now rather than by a search that fails later.
    Query check(m_db, "PRAGMA quick_check");
    return check.ok() && check.step() == SQLITE_ROW && check.text(0) == QLatin1String("ok");
}

std::vector<QString> LogIndex::logNames() const
{
    QStringList names =
        QDir(m_folder).entryList({QStringLiteral("*.txt")}, QDir::Files | QDir::NoSymLinks);
    Query known(m_db, "SELECT name FROM logs");
    while (known.step() == SQLITE_ROW)
        names << known.text(0);
    names.removeDuplicates();
    return {names.begin(), names.end()};
}

std::pair<qint64, qint64> LogIndex::extent() const
{
    qint64 total = 0;
    for (const QString& name : logNames())
        total += QFileInfo(m_folder + QLatin1Char('/') + name).size();
    Query indexed(m_db, "SELECT total(indexed) FROM logs");
    return {total, indexed.step() == SQLITE_ROW ? indexed.integer(0) : 0};
}

bool LogIndex::digestMatches(const QString& path, qint64 indexed, quint64 expected) const
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly) || file.size() < indexed)
        return false;
    quint64 state = kDigestStart;
    for (qint64 left = indexed; left > 0;) {
        const QByteArray bytes = file.read(std::min<qint64>(left, 1 << 20));
        if (bytes.isEmpty())
            return false;
        state = digest(state, bytes);
        left -= bytes.size();
    }
    return state == expected;
}

std::optional<qint64> LogIndex::logId(const QString& name, qint64& indexed, quint64& state)
{
    Query row(m_db, "SELECT id, indexed, digest FROM logs WHERE name=?1");
    row.bind(1, name.toUtf8());
    if (row.step() == SQLITE_ROW) {
        const qint64 id = row.integer(0);
        indexed = row.integer(1);
        state = quint64(row.integer(2));
        return id;
    }
    indexed = 0;
    state = kDigestStart;
    Query add(m_db, "INSERT INTO logs(name, indexed, digest) VALUES(?1, 0, ?2)");
    if (!add.bind(1, name.toUtf8()).bind(2, qint64(kDigestStart)).run())
        return std::nullopt;
    return sqlite3_last_insert_rowid(m_db);
}

bool LogIndex::forget(qint64 id)
{
    m_names.remove(id);
    // The words of its lines stay in the index, pointing nowhere, and are passed over.
    return Query(m_db, "DELETE FROM place WHERE log=?1").bind(1, id).run()
           && Query(m_db, "DELETE FROM logs WHERE id=?1").bind(1, id).run();
}

bool LogIndex::insertLines(qint64 id, QByteArrayView bytes, qint64 base, qint64& end)
{
    Query place(m_db, "INSERT INTO place(rowid, log, offset) VALUES(?1, ?2, ?3)");
    Query words(m_db, "INSERT INTO lines(rowid, text) VALUES(?1, ?2)");
    qint64 last = -1;
    bool ok = place.ok() && words.ok();
    end = ChatLog::forEachLine(bytes, base, [&](LoggedLine&& line) {
        if (!ok)
            return;
        const qint64 second = std::max<qint64>(0, line.at.toSecsSinceEpoch()) << kSecondShift;
        qint64 rowid = std::max(last + 1, second);
        // Lines of one second in several logs share the second's rowids: the next free one.
        for (;; ++rowid) {
            place.bind(1, rowid).bind(2, id).bind(3, line.offset);
            const int rc = place.step();
            place.reset();
            if (rc == SQLITE_DONE)
                break;
            if (rc != SQLITE_CONSTRAINT) {
                ok = false;
                return;
            }
        }
        last = rowid;
        ok = words.bind(1, rowid).bind(2, LogReader::shownText(line.text).toUtf8()).run();
    });
    return ok;
}

std::optional<qint64> LogIndex::catchUp(const QString& name, qint64 budget)
{
    if (!m_db || !exec("BEGIN IMMEDIATE"))
        return std::nullopt;
    const QString path = m_folder + QLatin1Char('/') + name;
    qint64 indexed = 0;
    quint64 state = kDigestStart;
    std::optional<qint64> id = logId(name, indexed, state);
    QFile file(path);
    bool ok = id.has_value();
    qint64 left = 0;
    if (ok && !file.open(QIODevice::ReadOnly)) {
        ok = forget(*id);
        m_checked.remove(name);
    } else if (ok) {
        // What the entry holds must still be the file's first bytes, else it starts again.
        const bool checked = m_checked.value(name) == std::pair(indexed, state);
        if (!checked && (indexed > 0 || state != kDigestStart)
            && !digestMatches(path, indexed, state)) {
            ok = Query(m_db, "DELETE FROM place WHERE log=?1").bind(1, *id).run();
            indexed = 0;
            state = kDigestStart;
        }
        const qint64 start = indexed;
        const qint64 chunk = std::max<qint64>(budget, 1 << 16);
        file.seek(start);
        const QByteArray bytes = file.read(chunk);
        qint64 end = start;
        ok = ok && insertLines(*id, bytes, start, end);
        // A "line" longer than what is read at once is no line of a chat: it is passed over.
        if (end == start && bytes.size() >= chunk)
            end = start + bytes.size();
        state = digest(state, QByteArrayView(bytes).first(end - start));
        indexed = end;
        ok = ok
             && Query(m_db, "UPDATE logs SET indexed=?1, digest=?2 WHERE id=?3")
                    .bind(1, indexed)
                    .bind(2, qint64(state))
                    .bind(3, *id)
                    .run();
        // The bytes after the last line break wait for the rest of their line.
        left = start + bytes.size() >= file.size() ? 0 : file.size() - indexed;
    }
    if (!ok || !exec("COMMIT")) {
        m_error = sqliteError(m_db);
        exec("ROLLBACK");
        m_checked.remove(name);
        return std::nullopt;
    }
    m_checked.insert(name, {indexed, state});
    return left;
}

QString LogIndex::nameOf(qint64 id) const
{
    if (const auto it = m_names.constFind(id); it != m_names.constEnd())
        return *it;
    Query name(m_db, "SELECT name FROM logs WHERE id=?1");
    const QString found = name.bind(1, id).step() == SQLITE_ROW ? name.text(0) : QString();
    m_names.insert(id, found);
    return found;
}

std::vector<LogHit> LogIndex::find(const SearchText& search, const std::optional<QString>& log,
                                   int limit) const
{
    std::vector<LogHit> hits;
    if (!m_db || search.isEmpty())
        return hits;
    std::optional<qint64> only;
    if (log) {
        Query id(m_db, "SELECT id FROM logs WHERE name=?1");
        if (id.bind(1, log->toUtf8()).step() != SQLITE_ROW)
            return hits;
        only = id.integer(0);
    }
    // Without a word to look up (only signs), or where the index cannot take the words, every
    // line is looked at, newest first, as far as the bound.
    const bool words = !search.match.isEmpty();
    Query rows(m_db, words ? "SELECT rowid FROM lines WHERE lines MATCH ?1 ORDER BY rowid DESC"
                           : "SELECT rowid FROM place ORDER BY rowid DESC");
    if (words)
        rows.bind(1, search.match);
    Query place(m_db, "SELECT log, offset FROM place WHERE rowid=?1");
    LogReader reader(m_folder);
    int looked = 0;
    int rc = SQLITE_ROW;
    while (int(hits.size()) < limit && looked++ < kMaxLooked && (rc = rows.step()) == SQLITE_ROW) {
        const qint64 rowid = rows.integer(0);
        place.bind(1, rowid);
        const bool placed = place.step() == SQLITE_ROW;
        const qint64 id = placed ? place.integer(0) : 0;
        const qint64 offset = placed ? place.integer(1) : 0;
        place.reset();
        if (!placed || (only && id != *only))
            continue;
        const QString name = nameOf(id);
        const std::optional<LoggedLine> line = reader.lineAt(name, offset);
        if (!line)
            continue;
        QString text = LogReader::shownText(line->text);
        if (search.foundIn(text))
            hits.push_back({name, offset, line->at, std::move(text)});
    }
    if (rc != SQLITE_ROW && rc != SQLITE_DONE && words && hits.empty()) {
        SearchText signsOnly = search;
        signsOnly.match.clear();
        return find(signsOnly, log, limit);
    }
    return hits;
}

} // namespace peer
