// What the logs may show of a line that carries a password.
#include "diag/secret_mask.h"

#include <gtest/gtest.h>

using diag::maskSecrets;

TEST(SecretMask, HidesPassParametersAndLoginPayloads)
{
    EXPECT_EQ(maskSecrets("PASS alice:s3cret"), "PASS ****");
    EXPECT_EQ(maskSecrets("pass :two words"), "pass ****");
    EXPECT_EQ(maskSecrets("PASS s3cret\r\n"), "PASS ****\r\n");
    EXPECT_EQ(maskSecrets(":irc PASS s3cret"), ":irc PASS ****");
    EXPECT_EQ(maskSecrets("@a=b :irc PASS s3cret"), "@a=b :irc PASS ****");
    EXPECT_EQ(maskSecrets("AUTHENTICATE YWxpY2UAYWxpY2UAczNjcmV0"), "AUTHENTICATE ****");
    EXPECT_EQ(maskSecrets("AUTHENTICATE :YWxpY2UA"), "AUTHENTICATE ****");
    EXPECT_EQ(maskSecrets("AUTHENTICATE  QUJD"), "AUTHENTICATE  ****");
}

TEST(SecretMask, LeavesEverythingElse)
{
    for (const QByteArray& line :
         {QByteArray("AUTHENTICATE +"), QByteArray("AUTHENTICATE PLAIN"),
          QByteArray("AUTHENTICATE *"), QByteArray("AUTHENTICATE +\r\n"), QByteArray("PASS"),
          QByteArray(":irc 904 alice :SASL authentication failed"),
          QByteArray(":bob!b@h PRIVMSG alice :PASS s3cret"), QByteArray("PASSWORD x"),
          QByteArray("NICK alice"), QByteArray(""), QByteArray(":only-a-prefix")}) {
        EXPECT_EQ(maskSecrets(line), line) << line.constData();
    }
}
