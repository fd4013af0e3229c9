#include "pixel_art.h"

#include "palette.h"

#include <QPainter>

#include <cstdio>
#include <cstdlib>

namespace artwork {

QRgb artColour(char code)
{
    using namespace palette;
    switch (code) {
    case '.':
        return 0;
    case 'W':
        return kWhite;
    case 'b':
        return kBlueDeep;
    case 'B':
        return kBlue;
    case 'T':
        return kBlueTop;
    case 'D':
        return kBlueBottom;
    case 'l':
        return kBlueSoft;
    case 'L':
        return kBluePale;
    case 'M':
        return kBlueMist;
    case 'n':
        return kInk;
    case 'm':
        return kSlate;
    case 'h':
        return kGrey;
    case 'H':
        return kGreyPale;
    case 'g':
        return kGreen;
    case 'G':
        return kGreenDeep;
    case 'y':
        return kAmber;
    case 'Y':
        return kAmberDeep;
    case 'u':
        return kAmberLight;
    case 'c':
        return kCoral;
    case 'C':
        return kCoralDeep;
    case 'r':
        return kRed;
    default:
        std::fprintf(stderr, "pixel art: unknown colour code '%c'\n", code);
        std::exit(1);
    }
}

QImage pixelArt(const Rows& rows)
{
    const int height = int(rows.size());
    const int width = height ? int(rows.front().size()) : 0;
    QImage image(width, height, QImage::Format_ARGB32);
    image.fill(Qt::transparent);
    for (int y = 0; y < height; ++y) {
        const std::string& row = rows[size_t(y)];
        if (int(row.size()) != width) {
            std::fprintf(stderr, "pixel art: row %d is %zu wide, not %d: \"%s\"\n", y, row.size(),
                         width, row.c_str());
            std::exit(1);
        }
        for (int x = 0; x < width; ++x)
            image.setPixel(x, y, artColour(row[size_t(x)]));
    }
    return image;
}

Rows recolour(Rows rows, const std::vector<std::pair<char, char>>& swaps)
{
    for (std::string& row : rows) {
        for (char& code : row) {
            for (const auto& [from, to] : swaps) {
                if (code == from) {
                    code = to;
                    break;
                }
            }
        }
    }
    return rows;
}

void stamp(QImage& target, const QImage& art, int x, int y)
{
    QPainter painter(&target);
    painter.drawImage(x, y, art);
}

void stampApart(QImage& target, const QImage& art, int x, int y, QRgb gap)
{
    const auto opaqueAt = [&art](int ax, int ay) {
        return ax >= 0 && ay >= 0 && ax < art.width() && ay < art.height()
               && qAlpha(art.pixel(ax, ay)) > 0;
    };
    for (int ay = -1; ay <= art.height(); ++ay) {
        for (int ax = -1; ax <= art.width(); ++ax) {
            if (opaqueAt(ax, ay))
                continue;
            bool nearArt = false;
            for (int dy = -1; dy <= 1 && !nearArt; ++dy)
                for (int dx = -1; dx <= 1 && !nearArt; ++dx)
                    nearArt = opaqueAt(ax + dx, ay + dy);
            const int tx = x + ax;
            const int ty = y + ay;
            if (nearArt && target.rect().contains(tx, ty))
                target.setPixel(tx, ty, gap);
        }
    }
    stamp(target, art, x, y);
}

} // namespace artwork
