// Renders the program icon for the desktop's icon theme:
//   pelivor-render-icons <folder> <size>...
// writes <folder>/<N>x<N>/apps/pelivor.png for each size and
// <folder>/scalable/apps/pelivor.svg, laid out as share/icons/hicolor.

#include "ui/programicon.h"

#include <QDir>
#include <QImage>
#include <QPainter>
#include <QSaveFile>
#include <cstdio>
#include <cstdlib>

namespace {

int cannotWrite(const QString& path) {
    std::fprintf(stderr, "pelivor-render-icons: não foi possível gravar %s\n", qPrintable(path));
    return 1;
}

} // namespace

int main(int argc, char* argv[]) {
    if (argc < 2) {
        std::fputs("uso: pelivor-render-icons PASTA TAMANHO...\n", stderr);
        return 2;
    }
    const QDir out(QString::fromLocal8Bit(argv[1]));
    for (int i = 2; i < argc; ++i) {
        const int side = std::atoi(argv[i]);
        QImage image(side, side, QImage::Format_ARGB32);
        image.fill(Qt::transparent);
        QPainter painter(&image);
        paintProgramIcon(painter, side);
        painter.end();
        const QString dir = QStringLiteral("%1x%1/apps").arg(side);
        const QString path = out.filePath(dir + QStringLiteral("/pelivor.png"));
        if (!out.mkpath(dir) || !image.save(path))
            return cannotWrite(path);
    }
    QSaveFile svg(out.filePath(QStringLiteral("scalable/apps/pelivor.svg")));
    if (!out.mkpath(QStringLiteral("scalable/apps")) || !svg.open(QIODevice::WriteOnly) ||
        svg.write(programIconSvg()) < 0 || !svg.commit())
        return cannotWrite(svg.fileName());
    return 0;
}
