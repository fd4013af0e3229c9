#include "peer/link/offer_match.h"

namespace peer {

namespace {

// A peer may spell our nick for it in another case than we offered to.
bool samePeer(const NickRule& nicks, const QByteArray& a, const QByteArray& b)
{
    return nicks.same(a, b, NickRule::Unsaid::IgnoreAsciiCase);
}

} // namespace

bool answersOffer(const OurOffer& ours, const irc::DccOffer& answer, const NickRule& nicks)
{
    return ours.open && answer.kind == ours.kind && !answer.token.isEmpty() && answer.port != 0
           && answer.token == ours.token && samePeer(nicks, ours.nick, answer.sender);
}

bool rejectDeclinesOffer(const OurOffer& ours, const irc::DccReject& reject, const NickRule& nicks)
{
    return ours.open && reject.kind == ours.kind && samePeer(nicks, ours.nick, reject.sender);
}

bool resumeNamesOffer(const OurOffer& ours, const irc::DccResume& resume, const NickRule& nicks)
{
    if (!ours.open || ours.kind != irc::DccKind::Send || !samePeer(nicks, ours.nick, resume.sender))
        return false;
    return ours.token.isEmpty() ? resume.port != 0 && resume.port == ours.port
                                : resume.port == 0 && resume.token == ours.token;
}

bool acceptAnswersResume(const irc::DccOffer& theirs, const irc::DccResume& accept,
                         const NickRule& nicks)
{
    if (!samePeer(nicks, theirs.sender, accept.sender))
        return false;
    return theirs.passive() ? accept.port == 0 && accept.token == theirs.token
                            : accept.port == theirs.port;
}

} // namespace peer
