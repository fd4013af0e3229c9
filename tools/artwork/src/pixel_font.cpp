#include "pixel_font.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

namespace artwork::pixel_font {

namespace {

// Rows top to bottom separated by '/'; row 0 is the top of the capitals, rows 7 and 8 hold the
// descenders. Every row of a glyph has the glyph's width.
struct Glyph
{
    char letter;
    const char* rows;
};

constexpr Glyph kGlyphs[] = {
    {'C', ".##./#..#/#.../#.../#.../#..#/.##."},
    {'H', "#...#/#...#/#...#/#####/#...#/#...#/#...#"},
    {'I', "###/.#./.#./.#./.#./.#./###"},
    {'K', "#..#/#.#./##../#.../##../#.#./#..#"},
    {'R', "####./#...#/#...#/####./#.#../#..#./#...#"},
    {'S', ".##./#..#/#.../.##./...#/#..#/.##."},
    {'V', "#...#/#...#/#...#/.#.#./.#.#./..#../..#.."},
    {'a', "..../..../.##./...#/.###/#..#/.###"},
    {'c', ".../.../.##/#../#../#../.##"},
    {'e', "..../..../.##./#..#/####/#.../.##."},
    {'i', "#/./#/#/#/#/#"},
    {'l', "#/#/#/#/#/#/#"},
    {'n', "..../..../###./#..#/#..#/#..#/#..#"},
    {'o', "..../..../.##./#..#/#..#/#..#/.##."},
    {'p', "..../..../###./#..#/#..#/#..#/###./#.../#..."},
    {'r', ".../.../#.#/##./#../#../#.."},
    {'s', "..../..../.###/#.../.##./...#/###."},
    {'t', ".../.#./###/.#./.#./.#./..#"},
    {'v', "...../...../#...#/#...#/.#.#./.#.#./..#.."},
    {'w', "...../...../#...#/#...#/#.#.#/#.#.#/.#.#."},
};

struct Bitmap
{
    int width = 0;
    std::vector<std::string> rows;
};

Bitmap glyph(QChar letter)
{
    for (const Glyph& entry : kGlyphs) {
        if (QChar(QLatin1Char(entry.letter)) != letter)
            continue;
        Bitmap bitmap;
        std::string all(entry.rows);
        size_t start = 0;
        while (true) {
            const size_t end = all.find('/', start);
            bitmap.rows.push_back(all.substr(start, end - start));
            if (end == std::string::npos)
                break;
            start = end + 1;
        }
        bitmap.width = int(bitmap.rows.front().size());
        for (const std::string& row : bitmap.rows) {
            if (int(row.size()) != bitmap.width) {
                std::fprintf(stderr, "pixel font: ragged glyph '%c'\n", entry.letter);
                std::exit(1);
            }
        }
        return bitmap;
    }
    if (letter == QLatin1Char(' '))
        return Bitmap{2, {}};
    std::fprintf(stderr, "pixel font: no glyph for '%s'\n", QString(letter).toUtf8().constData());
    std::exit(1);
}

} // namespace

int textWidth(const QString& text)
{
    int width = 0;
    for (int i = 0; i < text.size(); ++i)
        width += glyph(text.at(i)).width + (i + 1 < text.size() ? 1 : 0);
    return width;
}

void drawText(QImage& target, int left, int top, const QString& text, QRgb colour)
{
    int x = left;
    for (const QChar letter : text) {
        const Bitmap bitmap = glyph(letter);
        for (int row = 0; row < int(bitmap.rows.size()); ++row) {
            for (int column = 0; column < bitmap.width; ++column) {
                if (bitmap.rows[size_t(row)][size_t(column)] == '#')
                    target.setPixel(x + column, top + row, colour);
            }
        }
        x += bitmap.width + 1;
    }
}

} // namespace artwork::pixel_font
