#include "engine/paintbackground.h"
#include "platform/errors.h"

#include <algorithm>

namespace TRAVO1 {

namespace {

// 16-bit signed arithmetic, as the colour channels are kept.
int16_t checked(int value) {
    if (value < INT16_MIN || value > INT16_MAX)
        platform::raiseError(platform::ErrOverflow);
    return int16_t(value);
}

int32_t rgb(int red, int green, int blue) {
    return red + 256 * green + 65536 * blue;
}

} // namespace

void PaintBackground(Surface& s, int16_t red, int16_t green, int16_t blue, int16_t offset) {
    s.setScaleMode(ScalePixels);
    s.setAutoRedraw(true);

    const auto lighter = [&](int16_t c) { return std::min<int>(checked(c + offset), 255); };
    const auto darker = [&](int16_t c) { return std::max<int>(checked(c - offset), 0); };
    const int lr = lighter(red), lg = lighter(green), lb = lighter(blue);
    const int dr = darker(red), dg = darker(green), db = darker(blue);
    const int32_t light = rgb(lr, lg, lb);
    const int32_t dark = rgb(dr, dg, db);

    // Width and height are read again for every figure: the surface is
    // free to change between them.
    const auto W = [&] { return s.scaleWidth(); };
    const auto H = [&] { return s.scaleHeight(); };
    s.line(2, 2, W() - 2, H() - 2, light, true);
    s.line(W() - 2, 2, W() - 2, H() - 1, dark, false);
    s.line(1, H() - 2, W() - 2, H() - 2, dark, false);
    s.line(5, 5, W() - 5, H() - 5, dark, true);
    s.line(W() - 5, 6, W() - 5, H() - 4, light, false);
    s.line(5, H() - 5, W() - 5, H() - 5, light, false);
}

} // namespace TRAVO1
