// Skin files are read from a folder the user may fill with anything: whatever the bytes, the
// decoder reads nothing outside them (ASan watches) and gives a picture of the size its header
// names, or none.
#include "app/skin.h"
#include "fuzz_check.h"

#include <cstdlib>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    // A copy of exactly the input's size, so that a read past it is a read past the block.
    const QByteArray file(reinterpret_cast<const char*>(data), qsizetype(size));
    const QImage image = app::decodeSkin(file);
    if (image.isNull())
        return 0;
    const std::optional<app::SkinBitmapInfo> info = app::GetSkinBitmapInfo(file);
    FUZZ_CHECK(info.has_value());
    FUZZ_CHECK(image.width() == info->header.width);
    FUZZ_CHECK(image.height() == std::llabs(qint64(info->header.height)));
    const QImage composed = app::composeSkin(image, QSize(150, 20));
    FUZZ_CHECK(composed.size() == QSize(150, 20));
    // Composing only darkens the background.
    for (int x = 0; x < composed.width(); ++x)
        FUZZ_CHECK((composed.pixel(x, 0) & 0xffffffu & ~app::kSkinBackground) == 0);
    return 0;
}
