#include "skins.h"

#include "palette.h"
#include "pixel_art.h"
#include "pixel_font.h"

#include <QFont>
#include <QFontInfo>
#include <QFontMetrics>
#include <QLinearGradient>
#include <QPainter>

#include <cstdio>
#include <cstdlib>

namespace artwork {

namespace {

constexpr int kMenuMargin = 1; // at least this much room on either side of a menu label

[[noreturn]] void fail(const QString& message)
{
    std::fprintf(stderr, "skins: %s\n", message.toUtf8().constData());
    std::exit(1);
}

QImage whiteCanvas(int width, int height)
{
    QImage image(width, height, QImage::Format_ARGB32);
    image.fill(palette::kWhite);
    return image;
}

// A filled rectangle whose four corner pixels are left out: the roundest a 9-pixel button can
// be without blurring its edge.
void fillButton(QImage& image, const QRect& rect, QRgb fill)
{
    for (int y = rect.top(); y <= rect.bottom(); ++y) {
        for (int x = rect.left(); x <= rect.right(); ++x) {
            const bool cornerX = x == rect.left() || x == rect.right();
            const bool cornerY = y == rect.top() || y == rect.bottom();
            if (!(cornerX && cornerY))
                image.setPixel(x, y, fill);
        }
    }
}

// The same with a one-pixel border of its own colour.
void framedButton(QImage& image, const QRect& rect, QRgb border, QRgb fill)
{
    fillButton(image, rect, border);
    fillButton(image, rect.adjusted(1, 1, -1, -1), fill);
    // Fill the inner corners that the inner shape left out, so the border stays one pixel.
    for (const QPoint corner :
         {rect.topLeft() + QPoint(1, 1), rect.topRight() + QPoint(-1, 1),
          rect.bottomLeft() + QPoint(1, -1), rect.bottomRight() + QPoint(-1, -1)})
        image.setPixel(corner, border);
}

QRgb blend(QRgb under, QRgb over, double amount)
{
    const auto mix = [amount](int a, int b) { return int(a + (b - a) * amount + 0.5); };
    return qRgb(mix(qRed(under), qRed(over)), mix(qGreen(under), qGreen(over)),
                mix(qBlue(under), qBlue(over)));
}

QFont boldFont(int pixelSize)
{
    QFont font(QStringLiteral("DejaVu Sans"));
    font.setPixelSize(pixelSize);
    font.setBold(true);
    font.setHintingPreference(QFont::PreferFullHinting);
    font.setStyleStrategy(QFont::PreferAntialias);
    // Without the font the skins would come out differently on every machine.
    if (QFontInfo(font).family() != QLatin1String("DejaVu Sans"))
        fail(QStringLiteral("DejaVu Sans is not installed (apt-get install fonts-dejavu-core)"));
    return font;
}

void centreGlyph(QImage& image, const QRect& area, const QImage& glyph)
{
    const int x = area.left() + (area.width() - glyph.width()) / 2;
    const int y = area.top() + (area.height() - glyph.height()) / 2;
    stamp(image, glyph, x, y);
}

QImage titleBar()
{
    QImage image = whiteCanvas(225, 20);
    {
        QPainter painter(&image);
        QLinearGradient sky(0, 0, 0, 20);
        sky.setColorAt(0.0, QColor(palette::kBlueTop));
        sky.setColorAt(1.0, QColor(palette::kBlueBottom));
        painter.fillRect(image.rect(), sky);
        painter.fillRect(QRect(0, 0, 225, 1), QColor(0x7F, 0xB0, 0xFC));
        painter.fillRect(QRect(0, 19, 225, 1), QColor(palette::kBlueDeep));
    }
    stamp(image, smallMarkOnBlue(), 4, 2);
    {
        QPainter painter(&image);
        painter.setRenderHint(QPainter::TextAntialiasing);
        painter.setFont(boldFont(13));
        QColor shadow(palette::kBlueDeep);
        shadow.setAlpha(150);
        painter.setPen(shadow);
        painter.drawText(24, 15, QStringLiteral("Kivvo"));
        painter.setPen(QColor(palette::kWhite));
        painter.drawText(24, 14, QStringLiteral("Kivvo"));
    }

    const std::vector<Area> areas = titleButtonAreas();
    const QRect minimise = areas[0].rect;
    const QRect close = areas[1].rect;
    // Minimise: a lighter pill with a dash near its foot.
    for (int y = minimise.top(); y <= minimise.bottom(); ++y) {
        for (int x = minimise.left(); x <= minimise.right(); ++x) {
            const bool cornerX = x == minimise.left() || x == minimise.right();
            const bool cornerY = y == minimise.top() || y == minimise.bottom();
            if (!(cornerX && cornerY))
                image.setPixel(x, y, blend(image.pixel(x, y), palette::kWhite, 0.28));
        }
    }
    for (int x = minimise.left() + 4; x <= minimise.right() - 4; ++x) {
        image.setPixel(x, minimise.bottom() - 3, palette::kWhite);
        image.setPixel(x, minimise.bottom() - 2, palette::kWhite);
    }
    // Close: coral, with a white cross.
    fillButton(image, close, palette::kCoral);
    const QPoint centre = close.center();
    for (int d = -2; d <= 2; ++d) {
        image.setPixel(centre.x() + d, centre.y() + d, palette::kWhite);
        image.setPixel(centre.x() + d, centre.y() - d, palette::kWhite);
    }
    return image;
}

QImage userMenu()
{
    QImage image = whiteCanvas(150, 20);
    const std::vector<Area> areas = userMenuButtonAreas();
    const QImage glyphs[] = {chatGlyph(), fileGlyph(), microphoneGlyph(), encryptedChatGlyph(),
                             queryGlyph()};
    for (size_t i = 0; i < areas.size(); ++i) {
        const QRect button = areas[i].rect.adjusted(0, 1, 0, -1);
        framedButton(image, button, palette::kLine, palette::kBlueMist);
        centreGlyph(image, areas[i].rect, glyphs[i]);
    }
    return image;
}

QImage mainMenu()
{
    QImage image = whiteCanvas(224, 24);
    // The program shows 223 x 23 of the 224 x 24: the hairline under the titles goes on the
    // last row that shows.
    for (int x = 0; x < 223; ++x)
        image.setPixel(x, 22, palette::kLine);
    const int top = (23 - pixel_font::kCapHeight) / 2;
    for (const Area& item : mainMenuItemAreas()) {
        // Each title on a pale key of its own, with two white columns between neighbours: the
        // titles are set close, and without the keys "Server View Contacts" reads as one line.
        fillButton(image, QRect(item.rect.left() + 1, 3, item.rect.width() - 2, 17),
                   palette::kMenuKey);
        const int width = pixel_font::textWidth(item.name);
        const int left = item.rect.left() + (item.rect.width() - width + 1) / 2;
        if (left - item.rect.left() < kMenuMargin
            || item.rect.right() - (left + width - 1) < kMenuMargin)
            fail(QStringLiteral("menu label \"%1\" (%2 px) does not fit its %3 px item")
                     .arg(item.name)
                     .arg(width)
                     .arg(item.rect.width()));
        pixel_font::drawText(image, left, top, item.name, palette::kInk);
    }
    // The free end: three dots in the accent colours, as a quiet signature.
    const Rows dot = {".##.", "####", "####", ".##."};
    const char accents[] = {'g', 'y', 'c'};
    for (int i = 0; i < 3; ++i) {
        const char code = accents[i];
        const QImage art = pixelArt(recolour(dot, {{'#', code}}));
        stamp(image, art, 200 + i * 7, top + 2);
    }
    return image;
}

QImage sidePanel(const QImage& mark24)
{
    // The contact list is laid over the panel's last five columns, so everything that matters
    // keeps to the first 34 and is centred on them.
    constexpr int kShownWidth = 34;
    constexpr int kCentre = kShownWidth / 2;
    QImage image = whiteCanvas(40, 170);
    const QRect panel(0, 0, kShownWidth, 170);
    {
        QPainter painter(&image);
        QLinearGradient wash(0, 0, 0, 170);
        wash.setColorAt(0.0, QColor(palette::kBlueMist));
        wash.setColorAt(1.0, QColor(palette::kWhite));
        painter.fillRect(panel, wash);
    }
    // A one-pixel frame with its corners left out.
    for (int x = panel.left() + 1; x < panel.right(); ++x) {
        image.setPixel(x, panel.top(), palette::kLine);
        image.setPixel(x, panel.bottom(), palette::kLine);
    }
    for (int y = panel.top() + 1; y < panel.bottom(); ++y) {
        image.setPixel(panel.left(), y, palette::kLine);
        image.setPixel(panel.right(), y, palette::kLine);
    }
    stamp(image, mark24, kCentre - mark24.width() / 2, 7);
    {
        QPainter painter(&image);
        painter.setRenderHint(QPainter::TextAntialiasing);
        const QFont font = boldFont(18);
        painter.setFont(font);
        const QFontMetrics metrics(font);
        const QString name = QStringLiteral("Kivvo");
        const int width = metrics.horizontalAdvance(name);
        // Read from the bottom up, as names on book spines and side panels usually run;
        // centred between the mark and the dots. The baseline sits right of the centre by
        // half the capitals' height.
        const int baseline = kCentre + metrics.capHeight() / 2;
        painter.translate(baseline, 88 + width / 2);
        painter.rotate(-90);
        painter.setPen(QColor(palette::kBlue));
        painter.drawText(0, 0, name);
    }
    const char accents[] = {'g', 'y', 'c'};
    const Rows dot = {".##.", "####", "####", ".##."};
    for (int i = 0; i < 3; ++i) {
        const QImage art = pixelArt(recolour(dot, {{'#', accents[i]}}));
        stamp(image, art, kCentre - 2, 142 + i * 7);
    }
    return image;
}

} // namespace

std::vector<Area> titleButtonAreas()
{
    return {{QStringLiteral("minimise"), QRect(QPoint(196, 6), QPoint(209, 14))},
            {QStringLiteral("close"), QRect(QPoint(211, 6), QPoint(221, 14))}};
}

std::vector<Area> userMenuButtonAreas()
{
    return {{QStringLiteral("chat"), QRect(QPoint(6, 0), QPoint(33, 19))},
            {QStringLiteral("send file"), QRect(QPoint(36, 0), QPoint(60, 19))},
            {QStringLiteral("voice chat"), QRect(QPoint(63, 0), QPoint(83, 19))},
            {QStringLiteral("encrypted chat"), QRect(QPoint(86, 0), QPoint(115, 19))},
            {QStringLiteral("queries"), QRect(QPoint(119, 0), QPoint(144, 19))}};
}

std::vector<Area> mainMenuItemAreas()
{
    const struct
    {
        const char* label;
        int width;
    } items[] = {{"IRC", 37}, {"Server", 30}, {"View", 21}, {"Contacts", 39}, {"Help", 28}};
    std::vector<Area> areas;
    int x = 0;
    for (const auto& item : items) {
        areas.push_back({QString::fromLatin1(item.label), QRect(x, 0, item.width, 24)});
        x += item.width;
    }
    return areas;
}

std::vector<Output> makeSkins(const QImage& mark24)
{
    return {{QStringLiteral("skin/kivvo_skin_title.bmp"), titleBar()},
            {QStringLiteral("skin/kivvo_skin_usermenu.bmp"), userMenu()},
            {QStringLiteral("skin/kivvo_skin_mainmenu.bmp"), mainMenu()},
            {QStringLiteral("skin/kivvo_skin_side.bmp"), sidePanel(mark24)}};
}

} // namespace artwork
