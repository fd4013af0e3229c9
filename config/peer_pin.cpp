#include "config/peer_pin.h"

namespace config {

namespace {

constexpr char kPinAccepted[] = "accepted";
constexpr char kPinCompared[] = "compared";

} // namespace

bool isFingerprint(QByteArrayView text)
{
    constexpr int kHexDigits = 64;
    if (text.size() != kHexDigits)
        return false;
    for (char c : text) {
        if (!((c >= '0' && c <= '9') || (c >= 'a' && c <= 'f')))
            return false;
    }
    return true;
}

std::optional<PeerPin> decodePeerPin(QByteArrayView value)
{
    const qsizetype space = value.indexOf(' ');
    PeerPin pin{(space < 0 ? value : value.first(space)).toByteArray()};
    if (!isFingerprint(pin.fingerprint))
        return std::nullopt;
    if (space >= 0) {
        const QByteArrayView kind = value.sliced(space + 1);
        if (kind == kPinAccepted)
            pin.kind = PeerPinKind::Accepted;
        else if (kind == kPinCompared)
            pin.kind = PeerPinKind::Compared;
        else
            return std::nullopt;
    }
    return pin;
}

std::optional<QByteArray> encodePeerPin(const PeerPin& pin)
{
    if (!isFingerprint(pin.fingerprint))
        return std::nullopt;
    switch (pin.kind) {
    case PeerPinKind::FirstSeen:
        return pin.fingerprint;
    case PeerPinKind::Accepted:
        return pin.fingerprint + ' ' + kPinAccepted;
    case PeerPinKind::Compared:
        return pin.fingerprint + ' ' + kPinCompared;
    }
    return std::nullopt;
}

} // namespace config
