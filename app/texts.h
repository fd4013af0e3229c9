#pragma once

// The app module's user-visible texts, in one place. They are the program's own wording and are
// kept exactly, blanks included; each place that shows one passes it through tr() (or
// QCoreApplication::translate) with the context it always had.
namespace app::text {

// The main window: its menus, status line and the contacts' popup.
inline constexpr char kMenuIrc[] = "IRC";
inline constexpr char kMenuServer[] = "Server";
inline constexpr char kMenuView[] = "View";
inline constexpr char kMenuContacts[] = "Contacts";
inline constexpr char kMenuHelp[] = "Help";
inline constexpr char kUserPopup[] = "User Popup";
inline constexpr char kCtcpPopup[] = "CTCPPopup";
inline constexpr char kNotConnected[] = "Not Connected.";
inline constexpr char kConnectingWait[] = "Connecting...please wait";

// The commands, as their menu items name them.
inline constexpr char kExit[] = "&Exit";
inline constexpr char kEditContacts[] = "&Edit Contacts (Add/Rename/Remove)";
inline constexpr char kRemoveSelectedContact[] = "&Remove Selected Contact";
inline constexpr char kShowDebugWindow[] = "Show &Debug Window";
inline constexpr char kEditServers[] = "&Edit Servers";
inline constexpr char kAboutKivvo[] = "&About Kivvo";
inline constexpr char kKivvoHelp[] = "&Kivvo Help";
inline constexpr char kSendFile[] = "Send File";
inline constexpr char kChat[] = "Chat";
inline constexpr char kPing[] = "Ping";
inline constexpr char kWhois[] = "Whois";
inline constexpr char kVersion[] = "Version";
inline constexpr char kFinger[] = "Finger";
inline constexpr char kTime[] = "Time";
inline constexpr char kConnect[] = "&Connect";
inline constexpr char kSendRawData[] = "&Send Raw Data to Server";
inline constexpr char kShowServerLog[] = "&Show Server Commands/Replies";
inline constexpr char kSource[] = "Source";
inline constexpr char kDisconnect[] = "&Disconnect";
inline constexpr char kDccChat[] = "DCC Chat";
inline constexpr char kProgramSettings[] = "&Program Settings";
inline constexpr char kEncryptedChat[] = "Encrypted Chat";
inline constexpr char kVoiceChat[] = "Voice Chat";
inline constexpr char kHelpOnline[] = "&View Help Online";
inline constexpr char kSupportOnline[] = "&Visit Customer Support Online";
inline constexpr char kRelayedChat[] = "Relayed Chat";
inline constexpr char kFind[] = "&Find...";

// A chat window's menu bar: its buttons' names beside the commands' own.
inline constexpr char kCtcpQueries[] = "CTCP Queries";

// The title bar.
inline constexpr char kMinimise[] = "Minimise";
inline constexpr char kClose[] = "Close";
inline constexpr char kKivvo[] = "Kivvo";
inline constexpr char kKivvoWithNick[] = "Kivvo - %1";

// The contact list: its single rows, its popup's own items and an away contact's marks.
inline constexpr char kHintText[] = "Click \"Contacts\" (above)";
inline constexpr char kNoneOnline[] = "No Contacts Online";
inline constexpr char kPresenceUnknown[] = "Presence unknown on this server";
inline constexpr char kPresenceLinkDown[] = "Not connected: presence unknown";
inline constexpr char kEncryptChat[] = "Encrypt Relayed Chat (FiSH)...";
inline constexpr char kForgetPrivateLinkKey[] = "Forget Private Link Key";
inline constexpr char kAway[] = "Away";
inline constexpr char kAwayWith[] = "Away: %1";
inline constexpr char kAwayName[] = "%1, away";

// The entry that names the chats held back from opening.
inline constexpr char kOneMoreWrote[] = "1 more person wrote to you";
inline constexpr char kMoreWrote[] = "%1 more people wrote to you";

// Boxes: a missing selection, the replies to queries and the program's own.
inline constexpr char kSelectContact[] = "Select Contact";
inline constexpr char kSelectBeforeDccChat[] =
    "You have to select a contact from the list before you can DCC chat with them";
inline constexpr char kWhoisReply[] = "Whois Reply";
inline constexpr char kAbout[] = "About";

// Desktop notifications.
inline constexpr char kNewChat[] = "New chat";
inline constexpr char kWroteToYou[] = "%1 wrote to you.";
inline constexpr char kKivvoIsAsking[] = "Kivvo is asking";
inline constexpr char kOfferWaiting[] = "An offer is waiting for your answer.";
inline constexpr char kTransferComplete[] = "Transfer complete";
inline constexpr char kTransferDone[] = "%1 (with %2) is done.";
inline constexpr char kTransferStopped[] = "Transfer stopped";
inline constexpr char kStoppedBeforeEnd[] = "%1 (with %2) stopped before the end.";
inline constexpr char kStoppedBeforeEndKept[] =
    "%1 (with %2) stopped before the end; what arrived is kept in \"%3\".";

// Offers from others: where they would connect, and the questions they raise.
inline constexpr char kNoAddressPassive[] =
    "No address to connect to: Kivvo would listen on a port of its own and tell the sender where.";
inline constexpr char kAddressPort[] = "Address: %1, port %2";
inline constexpr char kThisMachine[] =
    " (this machine: the connection would go to a program on your own computer, not to the "
    "sender's)";
inline constexpr char kAskSecureChat[] =
    "User \"%1\" wants to DCC chat (secure chat) with you.  Do you want to accept?";
inline constexpr char kAskChat[] =
    "User \"%1\" wants to DCC chat with you.  Do you want to accept?";
inline constexpr char kOfferPlainChat[] =
    "Plain or Blowfish chat: the link itself is not encrypted. The sender may turn on Blowfish "
    "once connected (an Encrypted Chat), and its key then crosses the same link unprotected.";
inline constexpr char kOfferTlsChat[] =
    "TLS chat: the link is encrypted with TLS, and the sender's certificate is checked before a "
    "line is read.";
inline constexpr char kOfferPlainFile[] =
    "Plain transfer: the file crosses the network unencrypted.";
inline constexpr char kOfferTlsFile[] =
    "TLS transfer: the file crosses the network encrypted with TLS.";
inline constexpr char kOfferPlainVoice[] =
    "Plain voice chat: the sound crosses the network unencrypted.";
inline constexpr char kAcceptDccChat[] = "Accept DCC Chat?";
inline constexpr char kAcceptFile[] = "Accept File?";
inline constexpr char kAskFile[] =
    "User \"%1\" wants to send you a file named \"%2\".  Do you want to accept?";
inline constexpr char kPartFileState[] =
    "The part file \"%1\" holds %2 bytes and was last written %3.";
inline constexpr char kResumeFile[] = "Resume File?";
inline constexpr char kAskResume[] =
    "Part of \"%1\" was received before (%2 of %3 bytes).  Do you want to resume it?";
inline constexpr char kDestinationPrompt[] =
    "Please enter a destination filename for the incoming file:";
inline constexpr char kSaveIncomingFile[] = "Save Incoming File";
inline constexpr char kReplaceFile[] = "Replace File?";
inline constexpr char kAskReplace[] = "The file \"%1\" already exists.  Do you want to replace it?";
inline constexpr char kAcceptVoiceChat[] = "Accept voice chat?";
inline constexpr char kAskVoiceChat[] =
    "User \"%1\" wants to voice chat with you.  Do you want to accept?";

// Help pages that could not be opened.
inline constexpr char kHelpNotInstalled[] = "Kivvo Help is not installed (%1).";
inline constexpr char kNoProgramForHelp[] = "No program could open the help page %1.";
inline constexpr char kNoBrowser[] = "No web browser could open %1.";

// The command line's answers to --help and --version.
inline constexpr char kUsage[] =
    "Usage: kivvo [HIDE | DEBUG]\n"
    "       kivvo --help | -h\n"
    "       kivvo --version\n"
    "\n"
    "Kivvo is a desktop IRC messenger: a list of contacts (IRC nicks), who of them is\n"
    "online, chats, encrypted direct chats, file transfers and voice chats.\n"
    "\n"
    "The command line is compared whole and case-sensitively; anything else is ignored\n"
    "and the program starts normally.\n"
    "  HIDE              start with the main window hidden\n"
    "  DEBUG             append every batch of received lines to out.txt in the\n"
    "                    current folder\n"
    "  -h, --help        print this help and exit\n"
    "  --version         print the version and exit\n"
    "\n"
    "Environment:\n"
    "  XDG_CONFIG_HOME   the configuration is $XDG_CONFIG_HOME/kivvo/registry.db\n"
    "                    (default ~/.config/kivvo/registry.db)\n"
    "  XDG_DATA_HOME     the install folder made on the first run, which holds the\n"
    "                    chat logs, is $XDG_DATA_HOME/kivvo (default ~/.local/share/kivvo)\n"
    "  KIVVO_IDENT_PORT  the port the ident responder listens on (1 to 65535,\n"
    "                    default 113)\n"
    "  KIVVO_NO_KEYCHAIN 1 keeps the server passwords in the configuration instead\n"
    "                    of the desktop's secret service\n"
    "  KIVVO_WINDOW_POSITION  X,Y puts the main window's top-left corner there instead\n"
    "                    of the middle of the screen\n";
inline constexpr char kVersionLine[] = "Kivvo v2.0\n";

// The tray icon: its menu, and its tip naming the nick and the link's state.
inline constexpr char kTrayShow[] = "&Show";
inline constexpr char kTraySetAway[] = "Set &Away";
inline constexpr char kTrayTip[] = "%1 - %2 (%3)";
inline constexpr char kTrayConnected[] = "connected";
inline constexpr char kTrayAway[] = "away";
inline constexpr char kTrayConnecting[] = "connecting";
inline constexpr char kTrayNotConnected[] = "not connected";

// Asked before Exit ends what is running.
inline constexpr char kQuitTitle[] = "Exit Kivvo?";
inline constexpr char kQuitQuestion[] = "Exiting now ends:\n%1\n\nExit anyway?";
inline constexpr char kQuitTransfer[] = "- the transfer of \"%1\" with %2 (%3%)";
inline constexpr char kQuitVoice[] = "- the voice chat with %1";
inline constexpr char kQuitDirectChat[] = "- the direct chat with %1";

// The debug log.
inline constexpr char kLogNoTray[] =
    "No system tray on this desktop: the window stays on the screen, and minimising it only "
    "minimises it";
inline constexpr char kLogNoSessionBus[] =
    "No D-Bus session bus can be reached here: libdbus was told so, rather than made to look for "
    "one";
inline constexpr char kLogNewConfiguration[] = "Created a new configuration in %1";
inline constexpr char kLogReplyBoxOpen[] = "%1 (another is still open): %2";
inline constexpr char kLogUnknownToken[] =
    "DCC offer from %1 refused: its token matches no offer of ours";
inline constexpr char kLogTooManyOffers[] =
    "Too many DCC offers waiting for an answer; more are refused until they are answered";
inline constexpr char kLogNoFileName[] = "DCC file offer from %1 refused: no usable file name";
inline constexpr char kLogLinkKeyForgotten[] =
    "The private link key of %1 was forgotten; the next private link with them starts afresh.";
inline constexpr char kLogPrivateLinkCertificate[] = "Certificate for private links: %1";

} // namespace app::text
