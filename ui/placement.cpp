#include "ui/placement.h"

#include <QFont>
#include <QVariant>
#include <QWidget>
#include <algorithm>

namespace ui {

namespace {

const char* const BaseGeometry = "pelivorBaseGeometry";
const char* const BaseFont = "pelivorBaseFont";

QRect scaled(const QRect& r, double factor) {
    return QRect(qRound(r.x() * factor), qRound(r.y() * factor), qRound(r.width() * factor),
                 qRound(r.height() * factor));
}

// A font set on the widget itself, at `factor` of its size at scale 1. The
// size is rounded down, so a text that fitted its control still does.
void scaleFont(QWidget& widget, double factor) {
    if (!widget.testAttribute(Qt::WA_SetFont))
        return;
    if (!widget.property(BaseFont).isValid())
        widget.setProperty(BaseFont, widget.font());
    QFont font = widget.property(BaseFont).value<QFont>();
    if (font.pixelSize() > 0)
        font.setPixelSize(std::max(1, int(font.pixelSize() * factor)));
    else
        font.setPointSizeF(font.pointSizeF() * factor);
    widget.setFont(font);
}

} // namespace

double fittingScale(QSize client, QMargins frame, const QRect& area) {
    const double across = double(area.width() - frame.left() - frame.right()) / client.width();
    const double down = double(area.height() - frame.top() - frame.bottom()) / client.height();
    return std::clamp(std::min(across, down), 0.1, 1.0);
}

QPoint centredIn(QSize outer, const QRect& area) {
    // In single precision, as the classic centring computes it.
    int x = area.x() + int((float(area.width()) - float(outer.width())) / 2.0f);
    int y = area.y() + int((float(area.height()) - float(outer.height())) / 2.0f);
    x = std::max(area.x(), std::min(x, area.x() + area.width() - outer.width()));
    y = std::max(area.y(), std::min(y, area.y() + area.height() - outer.height()));
    return QPoint(x, y);
}

void scaleControls(QWidget& window, double factor) {
    if (!window.property(BaseGeometry).isValid())
        window.setProperty(BaseGeometry, QRect(QPoint(), window.size()));
    scaleFont(window, factor);
    for (QWidget* control : window.findChildren<QWidget*>()) {
        if (!control->property("pelivorPlaced").toBool())
            continue;
        if (!control->property(BaseGeometry).isValid())
            control->setProperty(BaseGeometry, control->geometry());
        const QRect r = scaled(control->property(BaseGeometry).toRect(), factor);
        control->setFixedSize(r.size());
        control->move(r.topLeft());
        scaleFont(*control, factor);
    }
    window.setFixedSize(scaled(window.property(BaseGeometry).toRect(), factor).size());
}

} // namespace ui
