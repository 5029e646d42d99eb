#pragma once
// How the main window reads, to the eye and to a screen reader: the colours
// of its lines on its face, paths shortened in their middle, and a name for
// every control that has no caption of its own.

#include "ui/frm_copy.h"

#include <QColor>

// Sets the colours, the shortening and the accessible names of the window's
// controls, whose face is `face`.
void dressControls(Frm_CopyControls& c, const QColor& face);
