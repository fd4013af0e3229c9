#pragma once

#include <QObject>

class QEvent;
class QLineEdit;

namespace peer {

// The formatting keys of a chat input as mIRC and HexChat users know them: Ctrl+B bold, Ctrl+U
// underline, Ctrl+K the colour menu. They go before the line edit's own bindings, which would
// delete what was typed (Ctrl+K to the end, Ctrl+U the whole line).
class FormatKeys : public QObject
{
    Q_OBJECT

public:
    explicit FormatKeys(QLineEdit* input);

signals:
    // A style code to insert, as its menu item's id (`InsertFormatCode`).
    void codeAsked(int id);
    void colourMenuAsked();

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;
};

} // namespace peer
