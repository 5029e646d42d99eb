#pragma once
// The program icon, drawn in code in the 16 colours of a classic palette: a
// floppy disk, for a backup. The window shows it at 16 and 32 pixels; the
// build renders it for the desktop's icon theme.

#include <QByteArray>
#include <QIcon>

class QPainter;

// Paints the icon on a square of `side` pixels whose corner is the origin.
void paintProgramIcon(QPainter& painter, int side);

// The icon with its 16 x 16 and 32 x 32 images.
QIcon programIcon();

// The same picture as an SVG document.
QByteArray programIconSvg();
