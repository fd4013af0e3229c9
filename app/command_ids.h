#pragma once

// Command ids of the menus; the numbers are kept stable because other windows and the tray
// send them to the main window.
namespace app::cmd {

enum : int {
    ConnectCurrent = 1,
    Exit = 2,
    EditContacts = 3,
    RemoveSelectedContact = 4,
    ShowDebugWindow = 1021,
    EditServers = 1026,
    About = 40002,
    Help = 40004,
    SendFileTo = 40005,
    Chat = 40013,
    SendFile = 40014,
    Ping = 40017,
    Whois = 40018,
    Version = 40019,
    Finger = 40020,
    Time = 40021,
    Connect = 40022,
    SendRawData = 40024,
    ShowServerLog = 40025,
    Source = 40032,
    Disconnect = 40033,
    DccChat = 40034,
    ProgramSettings = 40061,
    EncryptedChat = 40062,
    VoiceChat = 40063,
    HelpOnline = 40064,
    SupportOnline = 40065,
};

} // namespace app::cmd
