#pragma once
// The engraved double frame around the main window's client area.

#include <cstdint>

namespace TRAVO1 {

// A drawing surface as the painting routine needs it.
class Surface {
public:
    virtual ~Surface() = default;
    virtual void setScaleMode(int mode) = 0; // 3: pixels
    virtual void setAutoRedraw(bool persistent) = 0;
    virtual int scaleWidth() const = 0;
    virtual int scaleHeight() const = 0;
    // A line between two points, or with `box` the outline of the rectangle
    // that has them as opposite corners; colour is r + 256 g + 65536 b.
    virtual void line(int x1, int y1, int x2, int y2, int32_t colour, bool box) = 0;
};

constexpr int ScalePixels = 3;

// Draws a raised outer edge two pixels in and a sunken inner edge five pixels
// in, light and dark lying `offset` above and below the base colour. A
// channel outside the 16-bit range raises the overflow error before drawing.
void PaintBackground(Surface& surface, int16_t red, int16_t green, int16_t blue, int16_t offset);

} // namespace TRAVO1
