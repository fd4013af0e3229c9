#include "tests/support/ngircd.h"

#include "tests/support/wait_for.h"

namespace test {

void NgircdTest::SetUp()
{
    if (!haveNgircd())
        GTEST_SKIP() << "ngircd is not installed (tools/test installs it)";
    ASSERT_TRUE(server.start(0, configEdits()));
    ASSERT_TRUE(watcher.connectTo(server.port()));
}

bool NgircdTest::online(const QList<QByteArray>& nicks, int timeoutMs)
{
    return waitFor(
        [&] {
            for (const QByteArray& nick : nicks) {
                if (!watcher.isOnline(nick))
                    return false;
            }
            return true;
        },
        timeoutMs);
}

} // namespace test
