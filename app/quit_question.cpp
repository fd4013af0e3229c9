#include "app/quit_question.h"

#include "app/texts.h"
#include "diag/control_escape.h"
#include "diag/server_text.h"
#include "peer/chat/chat_sessions.h"
#include "peer/chat/direct_chat_link.h"
#include "peer/transfer/transfer.h"
#include "peer/transfer/transfers.h"
#include "peer/voice/voice_call.h"
#include "peer/voice/voice_chats.h"

#include <QCoreApplication>

#include <algorithm>

namespace app {

namespace {

QString tr(const char* text)
{
    return QCoreApplication::translate("app", text);
}

// Nicks and file names come from the network: each stays on its one line.
QString shown(const QByteArray& fromNetwork)
{
    return diag::escapeControls(diag::decodeServerText(fromNetwork));
}

QString shown(const QString& text)
{
    return diag::escapeControls(text);
}

} // namespace

QStringList runningWork(const peer::Transfers& transfers, const peer::VoiceChats& voice,
                        const peer::ChatSessions& chats)
{
    QStringList running;
    for (int i = 0; i < transfers.count(); ++i) {
        const peer::Transfer* transfer = transfers.at(i);
        if (transfer->isFinished())
            continue;
        const quint64 size = transfer->size();
        const int percent = size == 0 ? 100 : int(double(transfer->count()) * 100 / double(size));
        running << tr(text::kQuitTransfer)
                       .arg(shown(transfer->record().baseName), shown(transfer->record().peerNick))
                       .arg(std::min(percent, 100));
    }
    for (int i = 0; i < voice.count(); ++i) {
        if (!voice.at(i)->hasEnded())
            running << tr(text::kQuitVoice).arg(shown(voice.at(i)->peerNick()));
    }
    for (const auto& chat : chats.records()) {
        if (chat->isDirect() && chat->link && chat->link->isConnected())
            running << tr(text::kQuitDirectChat).arg(shown(chat->nick));
    }
    return running;
}

std::optional<config::Question> quitQuestion(const QStringList& running)
{
    if (running.isEmpty())
        return std::nullopt;
    return config::Question{tr(text::kQuitTitle),
                            tr(text::kQuitQuestion).arg(running.join(QLatin1Char('\n')))};
}

} // namespace app
