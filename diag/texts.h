#pragma once

// The diagnostic windows' and the received-data dump's user-visible texts, in one place. They
// are the program's own wording and are kept exactly, blanks included.
namespace diag::text {

// The debug window.
inline constexpr char kDebugTitle[] = "Debug Window";
inline constexpr char kDebugSendLabel[] = "Send data to server:";
inline constexpr char kDebugInfo[] = "Info";
inline constexpr char kDebugStatus[] = "Status";
inline constexpr char kSendError[] = "send() error (custom cmd) - SOCKET_ERROR";

// The raw data window.
inline constexpr char kRawTitle[] = "Send Raw Data To Server";
inline constexpr char kRawAppendNewline[] = "Append newline to end of data";

// The server log window.
inline constexpr char kServerLogTitle[] = "Server";
inline constexpr char kClearWindow[] = "Clear Window";

// Buttons the windows share.
inline constexpr char kSend[] = "Send";
inline constexpr char kOk[] = "OK";
inline constexpr char kClose[] = "Close";

// The received-data dump (out.txt): each batch, then each line with its command word.
inline constexpr char kDumpBatch[] = "Messages Received:";
inline constexpr char kDumpLine[] = "Message ";
inline constexpr char kDumpLineEnd[] = "\r\n EOL\n";
inline constexpr char kDumpCommand[] = "Command: ";

} // namespace diag::text
