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
        // The other commands to the nick services that carry a password, in every form.
        {"PRIVMSG NickServ :REGISTER s3cret alice@example.org", "PRIVMSG NickServ :REGISTER ****"},
        {"PRIVMSG NickServ :SET PASSWORD n3w", "PRIVMSG NickServ :SET PASSWORD ****"},
        {"PRIVMSG NickServ :set password n3w\r\n", "PRIVMSG NickServ :set password ****\r\n"},
        {"PRIVMSG NickServ :GHOST alice s3cret", "PRIVMSG NickServ :GHOST alice ****"},
        {"PRIVMSG NickServ :RECOVER alice s3cret", "PRIVMSG NickServ :RECOVER alice ****"},
        {"PRIVMSG NickServ@services.example.net :REGISTER s3cret",
         "PRIVMSG NickServ@services.example.net :REGISTER ****"},
        {":alice!a@h PRIVMSG NickServ :REGISTER s3cret a@b.c",
         ":alice!a@h PRIVMSG NickServ :REGISTER ****"},
        {"NS REGISTER s3cret alice@example.org", "NS REGISTER ****"},
        {"NICKSERV SET PASSWORD n3w", "NICKSERV SET PASSWORD ****"},
        {"ns ghost alice s3cret", "ns ghost alice ****"},
        {"NS :RECOVER alice s3cret", "NS :RECOVER alice ****"},
        {":irc 417 alice :Line too long: PRIVMSG NickServ :SET PASSWORD n3w",
         ":irc 417 alice :Line too long: PRIVMSG NickServ :SET PASSWORD ****"},
        {":irc 421 alice NS GHOST alice s3cret :Unknown command",
         ":irc 421 alice NS GHOST alice ****"},
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
          QByteArray(":NickServ!s@services NOTICE alice :IDENTIFY with your password"),
          // Without a password, or not to the services, nothing is hidden.
          QByteArray("PRIVMSG NickServ :GHOST alice"), QByteArray("PRIVMSG NickServ :RECOVER"),
          QByteArray("PRIVMSG NickServ :SET EMAIL a@b.c"), QByteArray("NS SET PASSWORD"),
          QByteArray("PRIVMSG bob :REGISTER s3cret"), QByteArray("NS REGISTER"),
          QByteArray("PRIVMSG bob :SET PASSWORD n3w")}) {
        EXPECT_EQ(maskSecrets(line), line) << line.constData();
    }
}

// What the user typed in a chat with NickServ, as the chat's view and log keep it.
TEST(SecretMask, HidesThePasswordsTypedInAChatWithTheServices)
{
    const struct
    {
        QByteArray target;
        QByteArray text;
        QByteArray kept;
    } cases[] = {
        {"NickServ", "IDENTIFY s3cret", "IDENTIFY ****"},
        {"nickserv", "REGISTER s3cret a@b.c", "REGISTER ****"},
        {"NickServ", "SET PASSWORD n3w", "SET PASSWORD ****"},
        {"NickServ", "GHOST alice s3cret", "GHOST alice ****"},
        {"NickServ", "RECOVER alice s3cret", "RECOVER alice ****"},
        {"NickServ", "HELP REGISTER", "HELP REGISTER"},
        {"bob", "REGISTER s3cret", "REGISTER s3cret"},
    };
    for (const auto& c : cases)
        EXPECT_EQ(diag::maskSentText(c.target, c.text), c.kept) << c.text.constData();
}
