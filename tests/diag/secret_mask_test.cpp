// What the logs may show of a line that carries a password.
#include "diag/secret_mask.h"

#include <gtest/gtest.h>

using diag::maskSecrets;

// PASS and the login payloads, the other ways a password goes out by hand, and the numerics
// that repeat such a line.
TEST(SecretMask, HidesPasswordsAndLoginPayloads)
{
    const struct
    {
        QByteArray line;
        QByteArray shown;
    } cases[] = {
        {"PASS alice:s3cret", "PASS ****"},
        {"pass :two words", "pass ****"},
        {"PASS s3cret\r\n", "PASS ****\r\n"},
        {":irc PASS s3cret", ":irc PASS ****"},
        {"@a=b :irc PASS s3cret", "@a=b :irc PASS ****"},
        {"AUTHENTICATE YWxpY2UAYWxpY2UAczNjcmV0", "AUTHENTICATE ****"},
        {"AUTHENTICATE :YWxpY2UA", "AUTHENTICATE ****"},
        {"AUTHENTICATE  QUJD", "AUTHENTICATE  ****"},
        {"PRIVMSG NickServ :IDENTIFY secret", "PRIVMSG NickServ :IDENTIFY ****"},
        {"PRIVMSG NickServ :IDENTIFY acct secret", "PRIVMSG NickServ :IDENTIFY ****"},
        {"privmsg nickserv :identify secret\r\n", "privmsg nickserv :identify ****\r\n"},
        {"PRIVMSG NickServ@services.example.net :IDENTIFY secret",
         "PRIVMSG NickServ@services.example.net :IDENTIFY ****"},
        {"PRIVMSG NickServ IDENTIFY secret", "PRIVMSG NickServ IDENTIFY ****"},
        {"NOTICE NickServ :IDENTIFY secret", "NOTICE NickServ :IDENTIFY ****"},
        {"NS IDENTIFY acct secret", "NS IDENTIFY ****"},
        {"ns identify secret", "ns identify ****"},
        {"NICKSERV IDENTIFY secret", "NICKSERV IDENTIFY ****"},
        {"NS :IDENTIFY secret", "NS :IDENTIFY ****"},
        {"OPER name secret", "OPER name ****"},
        {"OPER name :two words", "OPER name ****"},
        {":irc 421 alice PASS secret :Unknown command", ":irc 421 alice PASS ****"},
        {":irc 421 alice NS IDENTIFY acct secret :Unknown command",
         ":irc 421 alice NS IDENTIFY ****"},
        {":irc 461 alice OPER name secret :Not enough parameters", ":irc 461 alice OPER name ****"},
        {":irc 421 alice :Unknown command: OPER name secret",
         ":irc 421 alice :Unknown command: OPER name ****"},
        {":irc 417 alice :Line too long: PRIVMSG NickServ :IDENTIFY secret",
         ":irc 417 alice :Line too long: PRIVMSG NickServ :IDENTIFY ****"},
        {":irc 501 alice AUTHENTICATE QUJD :Unknown", ":irc 501 alice AUTHENTICATE ****"},
    };
    for (const auto& c : cases)
        EXPECT_EQ(maskSecrets(c.line), c.shown) << c.line.constData();
}

TEST(SecretMask, LeavesEverythingElse)
{
    for (const QByteArray& line :
         {QByteArray("AUTHENTICATE +"), QByteArray("AUTHENTICATE PLAIN"),
          QByteArray("AUTHENTICATE *"), QByteArray("AUTHENTICATE +\r\n"), QByteArray("PASS"),
          QByteArray(":irc 904 alice :SASL authentication failed"),
          QByteArray(":bob!b@h PRIVMSG alice :PASS s3cret"), QByteArray("PASSWORD x"),
          QByteArray("NICK alice"), QByteArray(""), QByteArray(":only-a-prefix"),
          QByteArray("PRIVMSG bob :IDENTIFY secret"), QByteArray("PRIVMSG NickServ :HELP"),
          QByteArray("PRIVMSG NickServ :IDENTIFY"), QByteArray("NS HELP IDENTIFY"),
          QByteArray("OPER"), QByteArray("OPER name"),
          // Numerics that name a command but repeat none of its parameters stay readable.
          QByteArray(":irc 461 alice PASS :Not enough parameters"),
          QByteArray(":irc 461 alice OPER :Not enough parameters"),
          QByteArray(":irc 464 alice :Password incorrect"),
          QByteArray(":irc 491 alice :No O-lines for your host"),
          QByteArray(":irc 372 alice :- PASS the salt"),
          QByteArray(":NickServ!s@services NOTICE alice :IDENTIFY with your password")}) {
        EXPECT_EQ(maskSecrets(line), line) << line.constData();
    }
}
