#pragma once

// The configuration dialogs' and the store's user-visible texts, in one place. They are the
// program's own wording and are kept exactly, blanks included; the dialogs pass them through
// tr() as before.
namespace config::text {

inline constexpr char kConnectToServer[] = "Connect to Server";
inline constexpr char kConnect[] = "Connect";
inline constexpr char kConnectTlsTip[] = "Connects over an encrypted (TLS) link";
inline constexpr char kServerOnNetwork[] = "%1:%2 on %3";
inline constexpr char kTlsMark[] = " (TLS)";
inline constexpr char kEditContacts[] = "Edit Contacts";
inline constexpr char kAddEllipsis[] = "Add...";
inline constexpr char kRenameEllipsis[] = "Rename...";
inline constexpr char kRemoveEllipsis[] = "Remove...";
inline constexpr char kOk[] = "OK";
inline constexpr char kError[] = "Error";
inline constexpr char kNoContactSelected[] = "You didn't select a contact from the list";
inline constexpr char kAddContactPrompt[] =
    "Please type the name of the contact you wish to add below:";
inline constexpr char kAddNewContact[] = "Add New Contact";
inline constexpr char kRenameContactPrompt[] =
    "Please type the new name of the contact you wish to edit below:";
inline constexpr char kEditContact[] = "Edit Contact";
inline constexpr char kStoreOpenFailed[] =
    "Could not open the configuration store %1. Settings, servers and contacts are not available.";
inline constexpr char kStoreReadOnly[] =
    "The configuration store %1 cannot be written (it is read-only or the disk is full). Your "
    "settings, servers and contacts are in use, but changes to them cannot be saved.";
inline constexpr char kStoreSaveFailed[] =
    "The change could not be saved because the configuration store %1 cannot be written. It may be "
    "read-only, or the disk may be full. Nothing stored has been changed.";
inline constexpr char kContactListFull[] =
    "The contact list is full: it can hold %1 contacts. Remove a contact before adding another.";
inline constexpr char kCancel[] = "Cancel";
inline constexpr char kBrowseEllipsis[] = "Browse...";
inline constexpr char kNothingEntered[] = "You didn't enter anything";
inline constexpr char kYes[] = "Yes";
inline constexpr char kAllFilesFilter[] = "All Files (*.*) (*)";
inline constexpr char kSendAFile[] = "Send a File";
inline constexpr char kNicknameToSendTo[] = "Nickname to send to:";
inline constexpr char kFileToSend[] = "File to send:";
inline constexpr char kFillEachField[] = "You must fill in each field.";
// The path is given on a line of its own, so that a typo in it shows.
inline constexpr char kCannotOpenPath[] = "Cannot open the file you specified:\n%1";
inline constexpr char kAddNewServer[] = "Add New Server";
inline constexpr char kUseTls[] = "Use TLS";
inline constexpr char kUseTlsTip[] = "Connect to this server over an encrypted (TLS) link";
inline constexpr char kServerAddress[] = "Server Address:";
inline constexpr char kNetworkOptional[] = "Network (optional):";
inline constexpr char kPort[] = "Port:";
inline constexpr char kBlankField[] = "Blank Field";
inline constexpr char kAddressBlank[] = "You must fill in the server address field.";
inline constexpr char kPortBlank[] = "You must fill in the server port field.";
inline constexpr char kPortZero[] =
    "The port field cannot be zero.  Enter an interger greater than 0.  The default value is 6667.";
inline constexpr char kEditServers[] = "Edit Servers";
inline constexpr char kServerName[] = "Server Name";
inline constexpr char kNetworkColumn[] = "Network";
inline constexpr char kPortColumn[] = "Port";
inline constexpr char kNoServerSelected[] = "You didn't select a server from the list";
inline constexpr char kPortTls[] = "%1 (TLS)";
inline constexpr char kOptions[] = "Options";
inline constexpr char kServers[] = "Servers";
inline constexpr char kServerPassword[] = "Server Password:";
inline constexpr char kAwayMessage[] = "Away Message";
inline constexpr char kSetAwayStatus[] = "Set Away Status";
inline constexpr char kAwayMessageLabel[] = "Message:";
inline constexpr char kPersonalSettings[] = "Personal Settings";
inline constexpr char kYourNick[] = "Your Nick:";
inline constexpr char kAlternateNick[] = "Alternate Nick:";
inline constexpr char kRealName[] = "Real Name:";
inline constexpr char kEmailAddress[] = "E-Mail Address:";
inline constexpr char kGeneralSettings[] = "General Settings";
inline constexpr char kConnectOnStartup[] = "Connect on startup";
inline constexpr char kQueryIp[] = "Query IRC server for IP (usually for networks)";
inline constexpr char kEnableLogging[] = "Enable logging";
inline constexpr char kFastFileSending[] = "Fast file sending";
inline constexpr char kReconnectAutomatically[] = "Reconnect automatically";
inline constexpr char kShowDesktopNotifications[] = "Show desktop notifications";
inline constexpr char kPassiveDcc[] = "Passive direct connections (behind NAT)";
inline constexpr char kPassiveDccTip[] =
    "Your chat and file offers ask the other side to listen, so that they work when nobody can "
    "connect to you.";
inline constexpr char kPrivateDcc[] = "Private direct connections (TLS)";
inline constexpr char kPrivateDccTip[] =
    "Your chat and file offers run encrypted (SCHAT / SSEND); each contact's certificate is pinned "
    "the first time.";
inline constexpr char kUseIrcv3[] = "Use the server's IRCv3 extensions";
inline constexpr char kUseIrcv3Tip[] =
    "Away contacts, the server's own times, delivery marks, typing and missed messages, where the "
    "server offers them. Your away message is then given to the server too, where anyone can "
    "read it, also those whose replies are encrypted.";
inline constexpr char kAwayPublicTip[] =
    "With the IRCv3 extensions on, this text is given to the server when you set away, where "
    "anyone can read it; the automatic reply to an encrypted chat stays encrypted.";
inline constexpr char kShareTyping[] = "Let others see when I am typing";
inline constexpr char kNickBlank[] =
    "You left your nickname blank.  Please fill it in and press OK again.";
inline constexpr char kNickField[] = "Nick Field";
inline constexpr char kRealNameField[] = "Real Name Field";
inline constexpr char kRealNameBlank[] =
    "You left your real name blank.  Please fill it in and press OK again.";
inline constexpr char kEmailField[] = "E-Mail Field";
inline constexpr char kEmailBlank[] =
    "You left your e-mail blank.  Please fill it in and press OK again.";
inline constexpr char kNoAwayMessage[] = "No Away Message";
inline constexpr char kAwayMessageBlank[] =
    "You cannot set the away message option without actually entering an away message.  Please "
    "type a message and press OK again.";

// The debug log.
inline constexpr char kSecretServiceFailed[] =
    "The desktop's secret service failed for %1 (%2); Kivvo's own store keeps the passwords and "
    "chat keys it holds.";

} // namespace config::text
