#include "ui/programicon.h"

#include <QPainter>
#include <QPixmap>

namespace {

// The picture on a 32 x 32 grid: outlined shapes get a one-pixel black edge.
struct Shape {
    QRect rect;
    Qt::GlobalColor fill;
    bool outlined;
};

constexpr Shape Shapes[] = {
    {{2, 2, 27, 27}, Qt::darkBlue, true},   // the disk
    {{7, 2, 17, 11}, Qt::white, true},      // its label
    {{9, 19, 13, 10}, Qt::lightGray, true}, // the shutter
    {{17, 21, 3, 6}, Qt::darkBlue, false},  // the shutter's window
};

constexpr int Grid = 32;

} // namespace

void paintProgramIcon(QPainter& painter, int side) {
    painter.save();
    painter.scale(side / double(Grid), side / double(Grid));
    painter.setPen(Qt::black);
    for (const Shape& shape : Shapes) {
        if (shape.outlined) {
            painter.setBrush(shape.fill);
            painter.drawRect(shape.rect);
        } else {
            painter.fillRect(shape.rect, shape.fill);
        }
    }
    painter.restore();
}

QIcon programIcon() {
    QIcon icon;
    for (const int side : {16, 32}) {
        QPixmap pixmap(side, side);
        pixmap.fill(Qt::transparent);
        QPainter painter(&pixmap);
        paintProgramIcon(painter, side);
        painter.end();
        icon.addPixmap(pixmap);
    }
    return icon;
}

QByteArray programIconSvg() {
    QString svg = QStringLiteral("<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
                                 "<svg xmlns=\"http://www.w3.org/2000/svg\" width=\"32\" "
                                 "height=\"32\" viewBox=\"0 0 32 32\" "
                                 "shape-rendering=\"crispEdges\">\n");
    for (const Shape& shape : Shapes) {
        // A painter's one-pixel edge covers the rectangle's pixels and one
        // more to the right and below; a stroke is centred on its line.
        const double edge = shape.outlined ? 0.5 : 0.0;
        const QRect& r = shape.rect;
        svg += QStringLiteral("  <rect x=\"%1\" y=\"%2\" width=\"%3\" height=\"%4\" fill=\"%5\"")
                   .arg(r.x() + edge)
                   .arg(r.y() + edge)
                   .arg(r.width())
                   .arg(r.height())
                   .arg(QColor(shape.fill).name());
        if (shape.outlined)
            svg += QStringLiteral(" stroke=\"#000000\" stroke-width=\"1\"");
        svg += QStringLiteral("/>\n");
    }
    svg += QStringLiteral("</svg>\n");
    return svg.toUtf8();
}
