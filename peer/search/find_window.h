#pragma once

#include "peer/search/log_index.h"

#include <QDialog>
#include <QList>

#include <optional>

class QLabel;
class QLineEdit;
class QTimer;
class QTreeWidget;

namespace peer {

// "Find": what the user types is looked for in the chat logs as they type, in one contact's log
// or in all; each line found shows its contact, its time and the line, the found text marked,
// all as plain text. Choosing a line asks for its chat. Shows and forwards only.
class FindWindow : public QDialog
{
    Q_OBJECT

public:
    // How long typing must pause before the text is looked for.
    static constexpr int kPauseMs = 120;

    explicit FindWindow(QWidget* parent = nullptr);

    // Looks in the log of `nick` alone, or in all of them.
    void setScope(const std::optional<QByteArray>& nick);
    const std::optional<QByteArray>& scope() const { return m_scope; }

    // The lines found for what the user typed last.
    void showHits(const QList<LogHit>& hits);
    void showProgress(qint64 done, qint64 total);
    void showUnavailable(const QString& why);

    QLineEdit* input() const { return m_input; }
    QTreeWidget* results() const { return m_results; }
    QLabel* status() const { return m_status; }

signals:
    // The user typed `text` (and paused), to be looked for within the scope.
    void searchAsked(const QString& text);
    // The user chose the line of the log with `nick` that starts at `offset`.
    void lineChosen(const QByteArray& nick, qint64 offset);

private:
    void choose();

    QLineEdit* m_input = nullptr;
    QLabel* m_status = nullptr;
    QLabel* m_progress = nullptr;
    QTreeWidget* m_results = nullptr;
    QTimer* m_pause = nullptr;
    std::optional<QByteArray> m_scope;
    QString m_asked;
};

} // namespace peer
