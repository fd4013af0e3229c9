#include "icons.h"

#include "palette.h"
#include "pixel_art.h"

#include <QLinearGradient>
#include <QPainter>
#include <QPainterPath>

namespace artwork {

namespace {

// The pictures are drawn one row a line, and stay so.
// clang-format off
// The mark: a blue speech bubble with its tail at the lower left and a bold white K. Colour
// codes: b outline, T/B/D the gradient from top to bottom, W the letter.
const Rows kMark = {
    "................",
    "...bbbbbbbbbb...",
    "..bTTTTTTTTTTb..",
    ".bTTTWWTTTTWWTb.",
    ".bTTTWWTTTWWTTb.",
    ".bBBBWWBBWWBBBb.",
    ".bBBBWWWWBBBBBb.",
    ".bBBBWWBBWWBBBb.",
    ".bDDDWWDDDWWDDb.",
    ".bDDDWWDDDDWWDb.",
    ".bDDDDDDDDDDDDb.",
    "..bDDDDDDDDDDb..",
    "..bDDDbbbbbbb...",
    "..bDDb..........",
    "..bDb...........",
    "..bb............",
};

// The chat window: the same bubble, light, with the three dots of someone typing.
const Rows kChat = {
    "................",
    "...bbbbbbbbbb...",
    "..bWWWWWWWWWWb..",
    ".bWWWWWWWWWWWWb.",
    ".bLLLLLLLLLLLLb.",
    ".bLLLLLLLLLLLLb.",
    ".bLBBLLBBLLBBLb.",
    ".bLBBLLBBLLBBLb.",
    ".bLLLLLLLLLLLLb.",
    ".bLLLLLLLLLLLLb.",
    ".bLLLLLLLLLLLLb.",
    "..bLLLLLLLLLLb..",
    "..bLLLbbbbbbb...",
    "..bLLb..........",
    "..bLb...........",
    "..bb............",
};

// A person: head and shoulders. b outline, T the lit top, B the body.
const Rows kPerson = {
    ".....bbbb.......",
    "....bTTTTb......",
    "...bTTTTTTb.....",
    "...bBBBBBBb.....",
    "...bBBBBBBb.....",
    "....bBBBBb......",
    ".....bbbb.......",
    "................",
    ".....bbbb.......",
    "...bbTTTTbb.....",
    "..bTTTTTTTTb....",
    ".bBBBBBBBBBBb...",
    ".bBBBBBBBBBBb...",
    ".bBBBBBBBBBBb...",
    ".bBBBBBBBBBBb...",
    ".bbbbbbbbbbbb...",
};

const Rows kOnlineDot = {
    ".GGGG.",
    "GggggG",
    "GggggG",
    "GggggG",
    "GggggG",
    ".GGGG.",
};

const Rows kPadlock = {
    ".....mmmmm......",
    "....mhhhhhm.....",
    "...mhmmmmmhm....",
    "...mhm...mhm....",
    "...mhm...mhm....",
    "...mhm...mhm....",
    "..YYYYYYYYYYY...",
    "..YuuuuuuuuuY...",
    "..YyyyyyyyyyY...",
    "..YyyynnnyyyY...",
    "..YyyynnnyyyY...",
    "..YyyyynyyyyY...",
    "..YyyyynyyyyY...",
    "..YyyyyyyyyyY...",
    "..YYyyyyyyyYY...",
    "...YYYYYYYYY....",
};

const Rows kFontStyle = {
    "................",
    "....nnnnnnn.....",
    "....nn...nnn....",
    "....nn....nn....",
    "....nn...nnn....",
    "....nnnnnnn.....",
    "....nn....nn....",
    "....nn.....nn...",
    "....nn.....nn...",
    "....nn....nnn...",
    "....nnnnnnnn....",
    "................",
    "..bbbbbbbbbbbb..",
    "..bBBBBBBBBBBb..",
    "..bbbbbbbbbbbb..",
    "................",
};

const Rows kFontColour = {
    "................",
    "......nnnn......",
    "......nnnn......",
    ".....nn..nn.....",
    ".....nn..nn.....",
    "....nn....nn....",
    "....nnnnnnnn....",
    "...nn......nn...",
    "...nn......nn...",
    "..nn........nn..",
    "................",
    ".mmmmmmmmmmmmmm.",
    ".mrrryyyggggBBm.",
    ".mrrryyyggggBBm.",
    ".mmmmmmmmmmmmmm.",
    "................",
};

// The end of the menu bar: a hairline and a grip of embossed dots.
const Rows kMenuSize = {
    "................",
    "................",
    "................",
    "................",
    "................",
    ".HW.............",
    ".HW.............",
    ".HW......lL.lL..",
    ".HW......LW.LW..",
    ".HW.............",
    ".HW......lL.lL..",
    ".HW......LW.LW..",
    ".HW.............",
    ".HW......lL.lL..",
    ".HW......LW.LW..",
    ".HW.............",
    ".HW......lL.lL..",
    ".HW......LW.LW..",
    ".HW.............",
    ".HW.............",
    "................",
    "................",
    "................",
    "................",
};

const Rows kDocument = {
    ".mmmmmmmm.......",
    ".mWWWWWWmm......",
    ".mWWWWWWmLm.....",
    ".mWWWWWWmmmm....",
    ".mWhhhhhWWWm....",
    ".mWWWWWWWWWm....",
    ".mWhhhhhhhWm....",
    ".mWWWWWWWWWm....",
    ".mWhhhhhWWWm....",
    ".mWWWWWWWWWm....",
    ".mWhhhhhhWWm....",
    ".mWWWWWWWWWm....",
    ".mWWWWWWWWWm....",
    ".mWWWWWWWWWm....",
    ".mWWWWWWWWWm....",
    ".mmmmmmmmmmm....",
};

const Rows kSendArrow = {
    "....b....",
    "....bb...",
    "bbbbbTb..",
    "bTTTTTTb.",
    "bBBBBBBBb",
    "bDDDDDDb.",
    "bbbbbDb..",
    "....bb...",
    "....b....",
};

const Rows kMicrophone = {
    "................",
    "......bbbb......",
    ".....bTTTTb.....",
    ".....bTWTTb.....",
    ".....bBlBBb.....",
    ".....bBlBBb.....",
    "...m.bBBBBb.m...",
    "...m.bDDDDb.m...",
    "...m.bDDDDb.m...",
    "...mm.bbbb.mm...",
    "....mm....mm....",
    ".....mmmmmm.....",
    ".......mm.......",
    ".......mm.......",
    ".....mmmmmm.....",
    "................",
};

const Rows kInfo = {
    "....bbbbbb....",
    "..bbTTTTTTbb..",
    ".bTTTTWWTTTTb.",
    ".bTTTTWWTTTTb.",
    "bTTTTTTTTTTTTb",
    "bBBBBWWWBBBBBb",
    "bBBBBBWWBBBBBb",
    "bBBBBBWWBBBBBb",
    "bDDDDDWWDDDDDb",
    "bDDDDDWWDDDDDb",
    ".bDDDWWWWDDDb.",
    ".bDDDDDDDDDDb.",
    "..bbDDDDDDbb..",
    "....bbbbbb....",
};

const Rows kMenuArrow = {
    "mmmmm",
    ".mmm.",
    "..m..",
};
// clang-format on

QImage canvas(int width, int height)
{
    QImage image(width, height, QImage::Format_ARGB32);
    image.fill(Qt::transparent);
    return image;
}

// The voice chat window's 32 x 32 microphone: drawn with curves, which at this size come out
// smooth rather than soft. Coordinates sit on pixel edges or centres so strokes stay crisp.
QImage largeMicrophone()
{
    QImage image = canvas(32, 32);
    QPainter painter(&image);
    painter.setRenderHint(QPainter::Antialiasing);

    // The holder: a U around the lower half of the capsule, a stem and a foot.
    QPen holder(QColor(palette::kSlate), 2.0, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin);
    painter.setPen(holder);
    painter.setBrush(Qt::NoBrush);
    QPainterPath cradle;
    cradle.moveTo(7, 13);
    cradle.lineTo(7, 15);
    cradle.cubicTo(7, 20.5, 11, 24, 16, 24);
    cradle.cubicTo(21, 24, 25, 20.5, 25, 15);
    cradle.lineTo(25, 13);
    painter.drawPath(cradle);
    painter.drawLine(QPointF(16, 24), QPointF(16, 28));
    painter.setPen(Qt::NoPen);
    painter.setBrush(QColor(palette::kSlate));
    painter.drawRoundedRect(QRectF(10, 27, 12, 3), 1.5, 1.5);

    // The capsule: the mark's blue, with a lit edge and a grille.
    const QRectF capsule(10.5, 1.5, 11, 19);
    QLinearGradient body(capsule.topLeft(), capsule.topRight());
    body.setColorAt(0.0, QColor(palette::kBlueTop));
    body.setColorAt(1.0, QColor(palette::kBlueBottom));
    painter.setPen(QPen(QColor(palette::kBlueDeep), 1.0));
    painter.setBrush(body);
    painter.drawRoundedRect(capsule, 5.5, 5.5);
    painter.setPen(QPen(QColor(255, 255, 255, 110), 1.0, Qt::SolidLine, Qt::RoundCap));
    for (double y : {7.5, 10.5, 13.5})
        painter.drawLine(QPointF(14, y), QPointF(19, y));
    painter.setPen(QPen(QColor(255, 255, 255, 170), 1.5, Qt::SolidLine, Qt::RoundCap));
    painter.drawLine(QPointF(13, 5.5), QPointF(13, 15.5));
    return image;
}

} // namespace

QImage smallMark()
{
    return pixelArt(kMark);
}

QImage smallMarkOnBlue()
{
    // White bubble, blue letter; the soft outline blends the bubble into the bar.
    return pixelArt(recolour(kMark, {{'b', 'l'}, {'T', 'W'}, {'B', 'W'}, {'D', 'W'}, {'W', 'B'}}));
}

QImage chatGlyph()
{
    return pixelArt(kChat);
}

QImage fileGlyph()
{
    QImage image = pixelArt(kDocument);
    stampApart(image, pixelArt(kSendArrow), 7, 7);
    return image;
}

QImage microphoneGlyph()
{
    return pixelArt(kMicrophone);
}

QImage encryptedChatGlyph()
{
    QImage image = canvas(24, 16);
    stamp(image, pixelArt(kChat), 0, 0);
    stampApart(image, pixelArt(kPadlock), 8, 0);
    return image;
}

QImage queryGlyph()
{
    QImage image = canvas(21, 16);
    stamp(image, pixelArt(kInfo), 0, 1);
    stamp(image, pixelArt(kMenuArrow), 16, 9);
    return image;
}

std::vector<Output> makeIcons(const QImage& mark32)
{
    std::vector<Output> icons;
    icons.push_back({QStringLiteral("icons/smallicon.png"), smallMark()});
    icons.push_back({QStringLiteral("icons/kivvoicon.png"), mark32});
    icons.push_back({QStringLiteral("icons/chat.png"), chatGlyph()});

    QImage contact = pixelArt(kPerson);
    stampApart(contact, pixelArt(kOnlineDot), 10, 10);
    icons.push_back({QStringLiteral("icons/contact.png"), contact});
    icons.push_back({QStringLiteral("icons/nocontacts.png"),
                     pixelArt(recolour(kPerson, {{'b', 'h'}, {'T', 'H'}, {'B', 'H'}}))});

    icons.push_back({QStringLiteral("icons/crypto.png"), pixelArt(kPadlock)});
    icons.push_back({QStringLiteral("icons/microphone.png"), largeMicrophone()});
    icons.push_back({QStringLiteral("icons/fontstyle.png"), pixelArt(kFontStyle)});
    icons.push_back({QStringLiteral("icons/fontcolor.png"), pixelArt(kFontColour)});
    icons.push_back({QStringLiteral("icons/menusize.png"), pixelArt(kMenuSize)});
    return icons;
}

} // namespace artwork
