#pragma once

#include "config/prompter.h"

#include <QStringList>

#include <optional>

namespace peer {
class ChatSessions;
class Transfers;
class VoiceChats;
} // namespace peer

namespace app {

// What Exit would end: each transfer not yet finished (with how far it got), each voice chat
// and each connected direct chat, one line each.
QStringList runningWork(const peer::Transfers& transfers, const peer::VoiceChats& voice,
                        const peer::ChatSessions& chats);

// The question asked before Exit ends `running`; nothing when nothing would end.
std::optional<config::Question> quitQuestion(const QStringList& running);

} // namespace app
