#pragma once

#include <QObject>
#include <QString>

namespace diag {

enum class Pane { Status = 1, Info = 2 };

// One pane of the debug window: the newest lines, at most kLimit characters counted with their
// CR LF. When a line does not fit, the oldest lines go, so the latest errors always show.
class BoundedPane
{
public:
    static constexpr int kLimit = 4095;

    void append(const QString& text); // text followed by CR LF
    const QString& text() const { return m_text; }

private:
    QString m_text;
};

// The process's debug log: both panes, kept from start-up on whether or not the debug window is
// open. Every module writes through DebugLog(); the debug window shows the panes.
class DebugPanes : public QObject
{
    Q_OBJECT

public:
    static DebugPanes& instance();

    void append(Pane pane, const QString& text);
    const QString& text(Pane pane) const;
    void clear(); // tests only

signals:
    void appended(diag::Pane pane, const QString& text);

private:
    BoundedPane m_status;
    BoundedPane m_info;
};

// Appends `text` to pane 1 (status) or 2 (info) of the debug window; other panes do nothing.
void DebugLog(const QString& text, int pane = 1);

} // namespace diag
