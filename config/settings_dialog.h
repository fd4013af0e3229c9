#pragma once

#include "config/settings.h"

#include <QDialog>

#include <optional>

class QCheckBox;
class QGroupBox;
class QLineEdit;
class QPushButton;

namespace config {

class PasswordKeeper;
class Prompter;
class Store;

// "Options": the personal settings, read from the store on opening and saved to it on OK. OK
// first shows a box for every field left blank that has to be filled, and saves nothing while
// any is shown; after exec() returned Accepted the caller reloads its settings. The server
// password field is the password of the current server entry (at `serverIndex`, the first entry
// when the index is past the list), and is disabled while the list is empty; it is kept by
// `passwords`, by the store itself when null.
class SettingsDialog : public QDialog
{
    Q_OBJECT

public:
    SettingsDialog(Store& store, Prompter& prompter, int serverIndex = 0, QWidget* parent = nullptr,
                   PasswordKeeper* passwords = nullptr);

    QLineEdit* nickEdit() const { return m_nick; }
    QLineEdit* altnickEdit() const { return m_altnick; }
    QLineEdit* realnameEdit() const { return m_realname; }
    QLineEdit* emailEdit() const { return m_email; }
    QLineEdit* awayEdit() const { return m_away; }
    QLineEdit* serverpassEdit() const { return m_serverpass; }
    QCheckBox* awaysetBox() const { return m_awayset; }
    QCheckBox* autoconnectBox() const { return m_autoconnect; }
    QCheckBox* queryipBox() const { return m_queryip; }
    QCheckBox* loggingBox() const { return m_logging; }
    QCheckBox* fastsendBox() const { return m_fastsend; }
    QCheckBox* reconnectBox() const { return m_reconnect; }
    QCheckBox* notifyBox() const { return m_notify; }
    QCheckBox* passiveDccBox() const { return m_passivedcc; }
    QCheckBox* privateDccBox() const { return m_privatedcc; }
    QCheckBox* ircv3Box() const { return m_ircv3; }
    QCheckBox* typingBox() const { return m_typing; }
    QPushButton* editServersButton() const { return m_editServers; }
    QPushButton* okButton() const { return m_ok; }
    QPushButton* cancelButton() const { return m_cancel; }

public slots:
    void accept() override;
    // Shows the stored settings, dropping whatever was changed here and not saved.
    void load();

private:
    QGroupBox* makeServersGroup();
    QGroupBox* makeAwayGroup();
    QGroupBox* makePersonalGroup();
    QGroupBox* makeGeneralGroup();
    void editServers();
    Settings fromFields() const;
    std::optional<ServerEntry> currentServer() const;

    Store& m_store;
    PasswordKeeper* m_passwords = nullptr;
    Prompter& m_prompter;
    int m_serverIndex = 0;
    QLineEdit* m_nick = nullptr;
    QLineEdit* m_altnick = nullptr;
    QLineEdit* m_realname = nullptr;
    QLineEdit* m_email = nullptr;
    QLineEdit* m_away = nullptr;
    QLineEdit* m_serverpass = nullptr;
    QCheckBox* m_awayset = nullptr;
    QCheckBox* m_autoconnect = nullptr;
    QCheckBox* m_queryip = nullptr;
    QCheckBox* m_logging = nullptr;
    QCheckBox* m_fastsend = nullptr;
    QCheckBox* m_reconnect = nullptr;
    QCheckBox* m_notify = nullptr;
    QCheckBox* m_passivedcc = nullptr;
    QCheckBox* m_privatedcc = nullptr;
    QCheckBox* m_ircv3 = nullptr;
    QCheckBox* m_typing = nullptr;
    QPushButton* m_editServers = nullptr;
    QPushButton* m_ok = nullptr;
    QPushButton* m_cancel = nullptr;
};

} // namespace config
