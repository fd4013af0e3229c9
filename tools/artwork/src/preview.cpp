#include "preview.h"

#include "palette.h"

#include <QFont>
#include <QImage>
#include <QImageReader>
#include <QPainter>

#include <cstdio>

namespace artwork {

namespace {

constexpr int kZoom = 4;

QImage load(const QString& resDir, const QString& name, bool& ok)
{
    QImageReader reader(resDir + QLatin1Char('/') + name);
    QImage image = reader.read();
    if (image.isNull()) {
        std::fprintf(stderr, "preview: cannot read %s: %s\n", name.toUtf8().constData(),
                     reader.errorString().toUtf8().constData());
        ok = false;
        return QImage(1, 1, QImage::Format_ARGB32);
    }
    return image.convertToFormat(QImage::Format_ARGB32);
}

// What the program shows of a composed skin: its near-white ground ANDed with the skin.
QImage composed(const QImage& skin)
{
    QImage out = skin.convertToFormat(QImage::Format_RGB32);
    const int base = palette::kComposedBase;
    for (int y = 0; y < out.height(); ++y) {
        auto* line = reinterpret_cast<QRgb*>(out.scanLine(y));
        for (int x = 0; x < out.width(); ++x)
            line[x] = qRgb(qRed(line[x]) & base, qGreen(line[x]) & base, qBlue(line[x]) & base);
    }
    return out;
}

QImage zoomed(const QImage& image, int zoom)
{
    return image.scaled(image.size() * zoom, Qt::IgnoreAspectRatio, Qt::FastTransformation);
}

class Sheet
{
public:
    explicit Sheet(QPainter& painter)
        : m_painter(painter)
    {
        QFont font(QStringLiteral("DejaVu Sans"));
        font.setPixelSize(13);
        m_painter.setFont(font);
    }

    void caption(int x, int y, const QString& text)
    {
        m_painter.setPen(QColor(0x55, 0x60, 0x6E));
        m_painter.drawText(x, y, text);
    }

    // Draws `image` at `zoom` with a caption above; returns the bottom edge.
    int show(int x, int y, const QImage& image, const QString& text, int zoom = kZoom)
    {
        caption(x, y + 13, text);
        const QImage big = zoomed(image, zoom);
        m_painter.drawImage(x, y + 18, big);
        return y + 18 + big.height();
    }

    QPainter& painter() { return m_painter; }

private:
    QPainter& m_painter;
};

} // namespace

bool writePreview(const QString& resDir, const QString& outPath)
{
    bool ok = true;
    const QImage title = load(resDir, QStringLiteral("skin/kivvo_skin_title.bmp"), ok);
    const QImage user = load(resDir, QStringLiteral("skin/kivvo_skin_usermenu.bmp"), ok);
    const QImage menu = load(resDir, QStringLiteral("skin/kivvo_skin_mainmenu.bmp"), ok);
    const QImage side = load(resDir, QStringLiteral("skin/kivvo_skin_side.bmp"), ok);
    const QStringList iconNames = {QStringLiteral("smallicon"),  QStringLiteral("kivvoicon"),
                                   QStringLiteral("chat"),       QStringLiteral("contact"),
                                   QStringLiteral("nocontacts"), QStringLiteral("crypto"),
                                   QStringLiteral("microphone"), QStringLiteral("fontstyle"),
                                   QStringLiteral("fontcolor"),  QStringLiteral("menusize")};
    std::vector<QImage> icons;
    for (const QString& name : iconNames)
        icons.push_back(load(resDir, QStringLiteral("icons/") + name + QStringLiteral(".png"), ok));
    if (!ok)
        return false;

    QImage sheet(1880, 1560, QImage::Format_RGB32);
    sheet.fill(QColor(0xE9, 0xED, 0xF2));
    QPainter painter(&sheet);
    Sheet s(painter);

    int y = 8;
    y = s.show(16, y, title, QStringLiteral("title bar (shown as is)")) + 12;
    const int userTop = y;
    y = s.show(16, y, user, QStringLiteral("user menu, file")) + 8;
    s.show(16 + 150 * kZoom + 24, userTop, composed(user), QStringLiteral("user menu, composed"));
    const int menuTop = y;
    y = s.show(16, y, menu, QStringLiteral("main menu, file")) + 8;
    y = s.show(16, y, composed(menu), QStringLiteral("main menu, composed")) + 12;
    (void)menuTop;

    // Icons at 4x on light ground, then at 1x on light and dark ground.
    int x = 16;
    const int iconTop = y;
    int iconBottom = y;
    for (size_t i = 0; i < icons.size(); ++i) {
        const int bottom = s.show(x, iconTop, icons[i], iconNames[int(i)]);
        iconBottom = std::max(iconBottom, bottom);
        x += std::max(icons[i].width() * kZoom, 90) + 16;
    }
    y = iconBottom + 10;
    s.caption(16, y + 13, QStringLiteral("1x on light, white and dark ground"));
    y += 20;
    const QColor grounds[] = {QColor(0xE9, 0xED, 0xF2), QColor(Qt::white),
                              QColor(0x2B, 0x30, 0x38)};
    for (int g = 0; g < 3; ++g) {
        painter.fillRect(QRect(16, y + g * 40, 420, 40), grounds[g]);
        int ix = 24;
        for (const QImage& icon : icons) {
            painter.drawImage(ix, y + g * 40 + 4, icon);
            ix += icon.width() + 10;
        }
    }
    y += 130;

    // The side panel at 4x, file and composed, to the right of the icons' 1x strip.
    const int sideLeft = 1880 - 2 * (40 * kZoom + 24);
    s.show(sideLeft, iconTop, side, QStringLiteral("side, file"));
    s.show(sideLeft + 40 * kZoom + 24, iconTop, composed(side), QStringLiteral("side, composed"));

    // A mock-up of the main window at 2x, laid out as the program lays it out: the caption a
    // window of its own on the main window's top edge, the menu bar under the border, the side
    // picture at (15, 75) of the client area with the contact list laid over its right end.
    const QColor border(0x3A, 0x46, 0x52);
    QImage mock(225, 19 + 362, QImage::Format_RGB32);
    mock.fill(QColor(0xE9, 0xED, 0xF2));
    {
        QPainter m(&mock);
        m.fillRect(QRect(0, 19, 225, 362), QColor(250, 250, 250));
        m.setPen(border);
        m.drawRect(0, 19, 224, 361);
        const QPoint client(1, 20 + 24);
        m.drawImage(QPoint(1, 20), composed(menu), QRect(0, 0, 223, 23));
        m.drawImage(client + QPoint(15, 75), composed(side));
        const QRect list(client + QPoint(50, 10), QSize(150, 265));
        m.fillRect(list, Qt::white);
        m.setPen(QColor(0xC9, 0xD1, 0xDB));
        m.drawRect(list.adjusted(0, 0, -1, -1));
        QFont font(QStringLiteral("DejaVu Sans"));
        font.setPixelSize(11);
        m.setFont(font);
        m.setPen(QColor(palette::kInk));
        const char* names[] = {"alice", "bob", "carol"};
        for (int i = 0; i < 3; ++i) {
            m.drawImage(list.topLeft() + QPoint(3, 3 + i * 18), icons[3]);
            m.drawText(list.topLeft() + QPoint(23, 15 + i * 18), QString::fromLatin1(names[i]));
        }
        m.drawImage(client + QPoint(50, 280), composed(user));
        // The caption last: it is a window above the main window's top edge.
        m.fillRect(QRect(0, 0, 225, 20), QColor(250, 250, 250));
        m.drawImage(QPoint(1, 1), title, QRect(0, 0, 223, 18));
        m.setPen(border);
        m.drawRect(0, 0, 224, 19);
    }
    s.show(16, y, mock, QStringLiteral("mock-up of the main window, 2x"), 2);
    // And the same at 1x next to it.
    s.show(16 + 227 * 2 + 24, y, mock, QStringLiteral("1x"), 1);
    painter.end();
    return sheet.save(outPath, "PNG");
}

} // namespace artwork
