#pragma once

#include "irc/dcc_offer.h"
#include "peer/common/nick_rule.h"

#include <QByteArray>

namespace peer {

// An offer of ours, as what comes back for it is matched against it.
struct OurOffer
{
    irc::DccKind kind = irc::DccKind::Chat;
    QByteArray nick;  // whom it went to
    quint16 port = 0; // where we listen; 0 for a passive offer
    QByteArray token; // a passive offer's; empty for an active one
    // Nobody has connected to it, nor has it been answered, and it has not ended.
    bool open = false;
};

// Whether `answer` answers our passive offer: its kind, a port to connect to, our token, and
// the nick it went to.
bool answersOffer(const OurOffer& ours, const irc::DccOffer& answer, const NickRule& nicks);

// Whether a DCC REJECT from the peer declines our offer: one still open, of its kind, to that
// nick. A REJECT carries no port or token, so a file offer is told by its name as well.
bool rejectDeclinesOffer(const OurOffer& ours, const irc::DccReject& reject, const NickRule& nicks);

// Whether a DCC RESUME from the peer names our file offer: an active one by its port, a passive
// one (port 0) by its token.
bool resumeNamesOffer(const OurOffer& ours, const irc::DccResume& resume, const NickRule& nicks);

// Whether a DCC ACCEPT from the sender answers the resume we asked of its offer `theirs`: by the
// same rule, from the offer's side.
bool acceptAnswersResume(const irc::DccOffer& theirs, const irc::DccResume& accept,
                         const NickRule& nicks);

} // namespace peer
