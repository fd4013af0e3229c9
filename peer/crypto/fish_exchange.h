#pragma once

#include "peer/crypto/fish_chats.h"

#include <QTimer>

#include <memory>

namespace peer {

// What FishChats keeps of an exchange while it waits: ours for the contact's answer, the
// contact's for the user's.
struct FishChats::Exchange
{
    QByteArray nick;
    dh1080::KeyPair pair;
    std::unique_ptr<QTimer> timer;
};

struct FishChats::Offer
{
    QByteArray nick;
    dh1080::KeyExchange init;
    bool contact = false; // not held to the bound on strangers' offers
    std::unique_ptr<QTimer> timer;
};

} // namespace peer
