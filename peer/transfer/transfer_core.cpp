#include "peer/transfer/transfer_core.h"

#include <QCoreApplication>

#include <algorithm>
#include <limits>

namespace peer {

namespace {

constexpr quint64 kWrap = quint64(1) << 32;

QString hoursMinutesSeconds(const char* format, quint64 seconds)
{
    return QCoreApplication::translate("peer::TransferWindow", format)
        .arg(seconds / 3600)
        .arg((seconds % 3600) / 60)
        .arg(seconds % 60);
}

// count × 100 ÷ size without overflow, for counts up to the size.
int percentOf(quint64 count, quint64 size)
{
    if (count >= size)
        return 100;
    if (size <= std::numeric_limits<quint64>::max() / 100)
        return int(count * 100 / size);
    // count × 100 would overflow: the largest p whose share p × size ÷ 100 (rounded up) the
    // count reaches, with size = 100a + b so that nothing overflows.
    const quint64 a = size / 100;
    const quint64 b = size % 100;
    int percent = 99;
    while (percent > 0 && count < quint64(percent) * a + (quint64(percent) * b + 99) / 100)
        --percent;
    return percent;
}

} // namespace

std::array<char, 4> encodeAck(quint64 count)
{
    const auto wire = quint32(count % kWrap);
    return {char(wire >> 24), char(wire >> 16), char(wire >> 8), char(wire)};
}

std::optional<AckReader::Count> AckReader::feed(QByteArrayView bytes, const SendWindow& window)
{
    std::optional<Count> newest;
    const auto word = [this](size_t from) {
        return quint32(m_partial[from]) << 24 | quint32(m_partial[from + 1]) << 16
               | quint32(m_partial[from + 2]) << 8 | quint32(m_partial[from + 3]);
    };
    qsizetype at = 0;
    while (at < bytes.size()) {
        const int width = m_width == Width::Eight ? 8 : 4;
        // Whole acknowledgements that a newer one follows are skipped unread.
        if (m_have == 0 && m_width != Width::Unknown) {
            const qsizetype whole = (bytes.size() - at) / width;
            if (whole > 1)
                at += (whole - 1) * width;
        }
        m_partial[size_t(m_have++)] = static_cast<unsigned char>(bytes[at++]);
        if (m_have < width)
            continue;
        if (m_width == Width::Unknown) {
            m_width = window.looksWide(word(0)) ? Width::Eight : Width::Four;
            if (m_width == Width::Eight)
                continue;
        }
        newest = m_width == Width::Eight ? Count{quint64(word(0)) << 32 | word(4), true}
                                         : Count{word(0), false};
        m_have = 0;
    }
    return newest;
}

std::optional<quint32> AckReader::feed(QByteArrayView bytes)
{
    m_width = Width::Four;
    const auto count = feed(bytes, SendWindow(0));
    return count ? std::optional<quint32>(quint32(count->value)) : std::nullopt;
}

SendWindow::SendWindow(quint64 size, qint64 windowBytes, quint64 start)
    : m_size(size)
    , m_window(std::max<qint64>(windowBytes, kTransferBlockBytes))
    , m_sent(std::min(start, size))
    , m_acked(m_sent)
{}

std::optional<SendWindow::Chunk> SendWindow::next(qint64 maxBytes) const
{
    if (m_sent >= m_size)
        return std::nullopt;
    const quint64 inFlight = m_sent - m_acked;
    // One block at a time means: the next only once the whole previous one is acknowledged.
    if (inFlight > 0 && m_window <= kTransferBlockBytes)
        return std::nullopt;
    if (inFlight >= quint64(m_window))
        return std::nullopt;
    const quint64 room = quint64(m_window) - inFlight;
    const quint64 length =
        std::min({quint64(std::max<qint64>(maxBytes, 1)), room, m_size - m_sent});
    return Chunk{m_sent, qint64(length)};
}

void SendWindow::sent(qint64 bytes)
{
    m_sent = std::min(m_size, m_sent + quint64(std::max<qint64>(bytes, 0)));
}

SendWindow::Ack SendWindow::acknowledge(quint32 wireCount)
{
    // The count that `wireCount` stands for: at or below what was sent, at most one wrap back.
    // Only a count between what was acknowledged and what was sent means anything.
    const auto sentLow = quint32(m_sent % kWrap);
    const auto back = quint32(sentLow - wireCount);
    if (back <= m_sent - m_acked) {
        const quint64 count = m_sent - back;
        if (count == m_acked)
            return Ack::Stale;
        m_acked = count;
        return m_acked == m_size ? Ack::Complete : Ack::Progress;
    }
    if (m_sent < kWrap)
        return wireCount > m_sent ? Ack::BeyondSent : Ack::Stale;
    // Past 2^32 only the distance tells: a little ahead of what was sent is beyond it.
    return quint32(wireCount - sentLow) < (quint32(1) << 31) ? Ack::BeyondSent : Ack::Stale;
}

SendWindow::Ack SendWindow::acknowledgeWide(quint64 count)
{
    if (count > m_sent)
        return Ack::BeyondSent;
    if (count <= m_acked)
        return Ack::Stale;
    m_acked = count;
    return m_acked == m_size ? Ack::Complete : Ack::Progress;
}

bool SendWindow::looksWide(quint32 firstWord) const
{
    if (firstWord != quint32(m_acked >> 32))
        return false;
    SendWindow probe = *this;
    const Ack asFour = probe.acknowledge(firstWord);
    return asFour != Ack::Progress && asFour != Ack::Complete;
}

qint64 ReceiveCount::take(qint64 bytes)
{
    const quint64 room = m_size - m_count;
    const auto kept = qint64(std::min(room, quint64(std::max<qint64>(bytes, 0))));
    m_count += quint64(kept);
    return kept;
}

TransferView describeTransfer(quint64 count, quint64 size, qint64 elapsedSeconds,
                              const QString& path)
{
    const auto tr = [](const char* text) {
        return QCoreApplication::translate("peer::TransferWindow", text);
    };
    TransferView view;
    view.complete = count == size;
    if (size == 0)
        return view;
    const int percent = percentOf(count, size);
    view.percent = percent;
    view.transferred = tr("Transferred: %1 bytes").arg(count);
    const quint64 elapsed = quint64(std::max<qint64>(elapsedSeconds, 0));
    view.elapsed = hoursMinutesSeconds("Time Elapsed: %1 hrs %2 mins %3 secs", elapsed);
    if (elapsed == 0)
        return view;
    const quint64 rate = count / elapsed;
    view.rate = tr("Transfer Rate: %1 KB/sec").arg(rate / 1024);
    if (rate == 0)
        return view;
    const quint64 remaining = (size - std::min(count, size)) / rate;
    view.remaining = hoursMinutesSeconds("Time Remaining: %1 hrs %2 mins %3 secs", remaining);
    view.title = tr("File Transfer - %1 (%2%)").arg(path).arg(percent);
    return view;
}

QString awaitingTitle(const QString& baseName)
{
    return QCoreApplication::translate("peer::TransferWindow",
                                       "File Transfer - %1 (Awaiting Connection...)")
        .arg(baseName);
}

QString expiredTitle(const QString& baseName)
{
    return QCoreApplication::translate("peer::TransferWindow", "File Transfer - %1 (Offer Expired)")
        .arg(baseName);
}

QString declinedTitle(const QString& baseName)
{
    return QCoreApplication::translate("peer::TransferWindow", "File Transfer - %1 (Declined)")
        .arg(baseName);
}

QString completeTitle(const QString& baseName)
{
    return QCoreApplication::translate("peer::TransferWindow", "File Transfer - %1 (Complete)")
        .arg(baseName);
}

QString sizeText(quint64 bytes, const QLocale& locale)
{
    const auto tr = [](const char* text) {
        return QCoreApplication::translate("peer::TransferWindow", text);
    };
    if (bytes == 1)
        return tr("1 byte");
    const QString exact = tr("%1 bytes").arg(locale.toString(bytes));
    if (bytes < 1000)
        return exact;
    const auto clamped =
        qint64(std::min<quint64>(bytes, quint64(std::numeric_limits<qint64>::max())));
    return locale.formattedDataSize(clamped, 1, QLocale::DataSizeSIFormat) + QStringLiteral(" (")
           + exact + QLatin1Char(')');
}

bool RefreshGate::due(quint64 count, quint64 size, qint64 nowMs)
{
    if (count != size && count % 5 != 0)
        return false;
    if (count != size && m_last && nowMs - *m_last < kMinIntervalMs)
        return false;
    m_last = nowMs;
    return true;
}

} // namespace peer
