#pragma once

#include "irc/ctcp.h"
#include "irc/message_dispatcher.h"

#include <QElapsedTimer>
#include <QObject>

namespace app {

struct AppContext;

// Carries out what the dispatcher decides about server lines, on the program's real parts: the
// server link, the name resolver and, through signals, the main window.
class ServerActions : public QObject, public irc::ServerLineActions
{
    Q_OBJECT

public:
    explicit ServerActions(AppContext& context, QObject* parent = nullptr);

    QByteArray nickInUse() const override;
    void setNickInUse(const QByteArray& nick) override;
    qint64 nowMs() const override;
    QByteArray localHostName() const override;
    bool sendLine(const QByteArray& line) override;
    void setTitleNick(const QByteArray& nick) override;
    void noticeText(const QByteArray& sender, const QByteArray& text) override;
    bool ctcpQuery(const QByteArray& sender, const QByteArray& text) override;
    void dccOffer(irc::DccKind kind, const QByteArray& sender, const QByteArray& line) override;
    void privateText(const QByteArray& sender, const std::optional<QByteArray>& text,
                     const std::optional<QByteArray>& awayEcho) override;
    void presenceReply(const QList<QByteArray>& onlineNames) override;
    void showWhois(const QByteArray& text) override;
    void resolveOwnHost(const QByteArray& host) override;
    void logStatus(const QString& text) override;

signals:
    void titleChanged(const QString& title);
    void privateTextArrived(const QByteArray& sender, const std::optional<QByteArray>& text,
                            const std::optional<QByteArray>& awayEcho);
    void onlineNamesArrived(const QList<QByteArray>& names);
    void whoisArrived(const QString& text);
    // A CTCP reply to show; `code` is its ClassifyCtcp code.
    // A DCC offer line, its closing 0x01 gone.
    void dccOfferArrived(irc::DccKind kind, const QByteArray& line);
    void ctcpReplyArrived(int code, const QString& title, const QString& text);

private:
    AppContext& m_context;
    irc::CtcpAnswerLimit m_answerLimit;
    QElapsedTimer m_clock;
};

} // namespace app
