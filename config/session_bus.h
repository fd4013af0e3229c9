#pragma once

#include <QByteArray>

// Whether this process can have a D-Bus session bus at all. Without one, Qt still asks for it
// while the first window is built (the tray's StatusNotifier check, the accessibility bridge's
// search for the AT-SPI bus), and libdbus, finding no address, forks the whole process to run
// dbus-launch: a few milliseconds of every start-up on a display without a desktop session,
// even where dbus-launch is not installed.
namespace config {

// The address that tells libdbus there is no session bus: it names no transport, so every
// connection fails at once, without a process started.
inline constexpr char kNoSessionBusAddress[] = "disabled:";

// What a session bus would be found by, in the order libdbus tries them.
struct SessionBusClues
{
    QByteArray address;         // DBUS_SESSION_BUS_ADDRESS
    bool runtimeSocket = false; // $XDG_RUNTIME_DIR/bus exists
    bool launcher = false;      // dbus-launch is installed, to start one through the X display
};

// Whether a session bus may be reached by any of them.
bool sessionBusPossible(const SessionBusClues& clues);

// The clues of this process: its environment and the files they name.
SessionBusClues sessionBusClues();

// Before QApplication, and before any other thread reads the environment: when no session bus
// can be had, gives libdbus the address of none (kNoSessionBusAddress), for the rest of the
// process and the programs it starts, which could have found none either. True when it did.
// Where a bus may exist nothing changes, so accessibility and notifications work as ever.
bool ruleOutSessionBus();

// Whether the process was given a real session bus address (not the one of none).
bool hasSessionBusAddress();

} // namespace config
