#pragma once

#include "config/registry.h"
#include "config/store.h"

#include <QTemporaryDir>

#include <memory>

namespace test {

// A registry file in a fresh temporary folder, with the three keys created.
class TempStore
{
public:
    explicit TempStore(bool createKeys = true);

    QString path() const { return m_dir.filePath("registry.db"); }
    QString dirPath() const { return m_dir.path(); }
    config::Registry& registry() { return *m_registry; }
    config::Store& store() { return m_store; }

private:
    QTemporaryDir m_dir;
    std::unique_ptr<config::Registry> m_registry;
    config::Store m_store;
};

} // namespace test
