#pragma once

#include "diag/line_sender.h"

#include <QDialog>

#include <utility>

class QCheckBox;
class QPlainTextEdit;

namespace diag {

// "Send Raw Data To Server": sends the typed text as it is, with CR LF appended when asked.
class RawDataWindow : public QDialog
{
    Q_OBJECT

public:
    static constexpr int kMaxChars = 4093;

    explicit RawDataWindow(QWidget* parent = nullptr);

    void setSender(LineSender sender) { m_sender = std::move(sender); }

    QPlainTextEdit* dataEdit() const { return m_data; }
    QCheckBox* appendNewline() const { return m_appendNewline; }

public slots:
    void sendData();

private:
    LineSender m_sender;
    QPlainTextEdit* m_data = nullptr;
    QCheckBox* m_appendNewline = nullptr;
    bool m_trimming = false;
};

} // namespace diag
