#include "tests/support/temp_store.h"

namespace test {

TempStore::TempStore(bool createKeys)
    : m_registry(std::make_unique<config::Registry>(m_dir.filePath("registry.db")))
    , m_store(*m_registry)
{
    if (createKeys) {
        m_registry->createKey(config::kKeyRoot);
        m_registry->createKey(config::kKeyServers);
        m_registry->createKey(config::kKeyContacts);
    }
}

} // namespace test
