#pragma once

#include "peer/transfer.h"
#include "peer/transfers.h"
#include "tests/support/files.h"
#include "tests/support/offer_host.h"

#include <QTemporaryDir>
#include <gtest/gtest.h>

namespace test {

// Alice's side of direct links, with a folder for the files they carry: what the link suites
// share.
class LinksTest : public ::testing::Test
{
protected:
    QString write(const QString& name, const QByteArray& data)
    {
        return test::writeFile(dir, name, data);
    }
    static QByteArray read(const QString& path) { return test::readFile(path); }
    static bool finished(const peer::Transfers& transfers, int index)
    {
        return transfers.count() > index && transfers.at(index)->isFinished();
    }

    QTemporaryDir dir;
    OfferHost alice{"alice"};
};

} // namespace test
