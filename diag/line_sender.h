#pragma once

#include <QByteArray>

#include <functional>

namespace diag {

// How the diagnostic windows reach the server: hands the bytes to the server connection as they
// are and returns false when there is no connection to take them.
using LineSender = std::function<bool(const QByteArray& bytes)>;

} // namespace diag
