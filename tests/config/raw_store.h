#pragma once

// Looks at a store file behind the registry's back, to check what actually lands on disk.
#include "config/registry.h"

#include <QFile>

#include <sqlite3.h>
#include <string>
#include <vector>

namespace test {

using Rows = std::vector<std::vector<std::string>>;

inline Rows rawQuery(const QString& path, const char* sql)
{
    Rows rows;
    sqlite3* db = nullptr;
    if (sqlite3_open_v2(QFile::encodeName(path).constData(), &db, SQLITE_OPEN_READONLY, nullptr)
        == SQLITE_OK) {
        sqlite3_stmt* st = nullptr;
        if (sqlite3_prepare_v2(db, sql, -1, &st, nullptr) == SQLITE_OK) {
            while (sqlite3_step(st) == SQLITE_ROW) {
                std::vector<std::string> row;
                for (int i = 0; i < sqlite3_column_count(st); ++i) {
                    const auto* text = sqlite3_column_text(st, i);
                    row.emplace_back(text ? reinterpret_cast<const char*>(text) : "<null>");
                }
                rows.push_back(row);
            }
        }
        sqlite3_finalize(st);
    }
    sqlite3_close(db);
    return rows;
}

// The value names under `key`, in the registry's order.
inline std::vector<QByteArray> names(const config::Registry& registry, const QByteArray& key)
{
    std::vector<QByteArray> result;
    for (const auto& value : registry.values(key))
        result.push_back(value.name);
    return result;
}

} // namespace test
