// The real boxes of the widget prompter, read while they are open.
#include "config/prompter.h"

#include <QApplication>
#include <QMessageBox>
#include <QTimer>
#include <gtest/gtest.h>

namespace {

struct Seen
{
    bool open = false;
    QMessageBox::Icon icon = QMessageBox::Warning;
    Qt::TextFormat format = Qt::AutoText;
    QString title;
    QString text;
    int buttons = 0;
};

TEST(NoticeBox, IsAPlainOkBoxWhoseTextIsNeverMarkup)
{
    config::WidgetPrompter prompter;
    Seen seen;
    QTimer::singleShot(0, [&seen] {
        auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
        ASSERT_NE(box, nullptr);
        seen = {true,
                box->icon(),
                box->textFormat(),
                box->windowTitle(),
                box->text(),
                int(box->buttons().size())};
        box->done(QMessageBox::Ok);
    });
    prompter.showNotice(nullptr, "Voice Chat Already Open", "<b>only one</b>");
    ASSERT_TRUE(seen.open);
    EXPECT_EQ(seen.icon, QMessageBox::NoIcon);
    EXPECT_EQ(seen.format, Qt::PlainText);
    EXPECT_EQ(seen.title, "Voice Chat Already Open");
    EXPECT_EQ(seen.text, "<b>only one</b>");
    EXPECT_EQ(seen.buttons, 1);
}

} // namespace
