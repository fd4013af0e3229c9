// The reference the start-up and idle-memory figures are held to: the least a Qt Widgets
// program can do to put a window on the screen. One QApplication, one window of the main
// window's size with a title the timing programs look for, then the event loop.
//   minimal_qt [TITLE]        default title "minimal Qt"
#include <QApplication>
#include <QString>
#include <QWidget>

int main(int argc, char** argv)
{
    QApplication application(argc, argv);
    const QString title = argc > 1 ? QString::fromLocal8Bit(argv[1]) : QStringLiteral("minimal Qt");
    QWidget window;
    window.setWindowTitle(title);
    window.resize(225, 360);
    window.show();
    return QApplication::exec();
}
