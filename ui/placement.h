#pragma once
// Where a fixed-size window goes on a screen, and how it shrinks to fit a
// screen smaller than itself (a small screen, or a large scale factor).

#include <QMargins>
#include <QPoint>
#include <QRect>
#include <QSize>

class QWidget;

namespace ui {

// The factor, at most 1, by which a window whose client area is `client`
// must shrink so that, with its `frame` around it, it fits within `area`.
double fittingScale(QSize client, QMargins frame, const QRect& area);

// The top-left corner of a framed window of `outer` size centred in `area`;
// one larger than the area keeps its top-left corner inside it, where the
// title bar and the first controls are.
QPoint centredIn(QSize outer, const QRect& area);

// Shows a window built at scale 1 at `factor` of that size: its client area,
// the place and size of every control made by place(), and every font set on
// the window or a control. Any factor may follow any other: each is taken
// from the sizes at scale 1.
void scaleControls(QWidget& window, double factor);

} // namespace ui
