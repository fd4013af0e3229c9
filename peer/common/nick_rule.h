#pragma once

#include "irc/isupport.h"

#include <QByteArrayView>

#include <functional>
#include <optional>

namespace peer {

// Whether two nicks name the same user, as the server compares them.
using NickComparison = std::function<bool(QByteArrayView a, QByteArrayView b)>;

// The one way the program tells whether two nicks are the same user: the server's CASEMAPPING,
// once it has said on this connection. Until then each kind of match keeps the rule it always
// had, as `Unsaid` names it.
class NickRule
{
public:
    enum class Unsaid {
        // Server text is routed by the spelling the server used.
        Exact,
        // A peer's answer or resume may spell our nick for it in another case.
        IgnoreAsciiCase,
    };

    // The server's rule; none forgets it (a new connection has said nothing yet).
    void setCaseMapping(std::optional<irc::CaseMapping> mapping) { m_mapping = mapping; }
    const std::optional<irc::CaseMapping>& caseMapping() const { return m_mapping; }

    bool same(QByteArrayView a, QByteArrayView b, Unsaid unsaid = Unsaid::Exact) const;

private:
    std::optional<irc::CaseMapping> m_mapping;
};

} // namespace peer
