#pragma once

#include "peer/transfer/transfer.h"
#include "peer/transfer/transfer_window.h"
#include "tests/support/files.h"
#include "tests/support/program_core.h"
#include "tests/support/wait_for.h"

#include <QLabel>
#include <QPushButton>
#include <gtest/gtest.h>

#include <optional>
#include <string>

// What the suites that move whole files between peers check: the bytes that landed, and how the
// program's own transfer ended.
namespace test {

// A few MiB take well under a second here; the margin is for a loaded or sanitized build.
constexpr int kTransferMs = 15000;

inline std::string describe(const peer::Transfer& transfer)
{
    static const char* const names[] = {"Awaiting", "Connecting", "Running", "Complete", "Stopped"};
    std::string text = std::string(names[int(transfer.status())]) + " at "
                       + std::to_string(transfer.count()) + " of " + std::to_string(transfer.size())
                       + " bytes";
    if (transfer.error())
        text +=
            " (" + peer::errorText(*transfer.error(), transfer.errorDetail()).toStdString() + ")";
    return text;
}

// Transfer `index` of `core` ends complete. With `size`, at that many bytes, and its window says
// so as the user sees it.
inline ::testing::AssertionResult endsComplete(const ProgramCore& core, int index,
                                               std::optional<quint64> size = std::nullopt)
{
    using peer::Transfer;
    const peer::Transfers& transfers = core.program->transfers();
    const auto finished = [&] {
        return transfers.count() > index && transfers.at(index)->isFinished();
    };
    if (!waitFor(finished, kTransferMs)) {
        if (transfers.count() <= index)
            return ::testing::AssertionFailure() << "transfer " << index << " never started";
        return ::testing::AssertionFailure()
               << "transfer " << index << " did not end: " << describe(*transfers.at(index));
    }
    const Transfer& transfer = *transfers.at(index);
    if (transfer.status() != Transfer::Status::Complete
        || (size && (transfer.count() != *size || transfer.size() != *size)))
        return ::testing::AssertionFailure()
               << "transfer " << index << " ended " << describe(transfer) << ", expected "
               << (size ? std::to_string(*size) : std::string("Complete"));
    if (!size)
        return ::testing::AssertionSuccess();
    const peer::TransferWindow* window = transfers.windowOf(&transfer);
    if (!window)
        return ::testing::AssertionFailure() << "transfer " << index << " has no window";
    // An empty file's refresh stops before the count, so its label keeps its first text.
    const QString transferred = *size == 0 ? QStringLiteral("Transferred:")
                                           : QStringLiteral("Transferred: %1 bytes").arg(*size);
    if (window->button()->text() != "Close" || window->transferredLabel()->text() != transferred)
        return ::testing::AssertionFailure()
               << "the window of transfer " << index << " shows \""
               << window->button()->text().toStdString() << "\" and \""
               << window->transferredLabel()->text().toStdString() << "\"";
    return ::testing::AssertionSuccess();
}

} // namespace test
