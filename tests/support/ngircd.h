#pragma once

#include "tests/support/ngircd_server.h"

#include <QByteArray>
#include <QList>
#include <gtest/gtest.h>

namespace test {

// The fixture of the suites against a real ngircd: the server, and a watcher on it. Skipped
// when ngircd is not installed.
class NgircdTest : public ::testing::Test
{
protected:
    void SetUp() override;
    virtual ConfigEdits configEdits() const { return {}; }
    // Whether the server lists every one of `nicks` online within `timeoutMs`.
    bool online(const QList<QByteArray>& nicks, int timeoutMs = 15000);

    Ngircd server;
    Watcher watcher;
};

} // namespace test
