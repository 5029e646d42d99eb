#include "installer/placing.h"
#include "platform/drives.h"
#include "platform/errors.h"
#include "platform/files.h"

#include <QCryptographicHash>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <algorithm>
#include <unistd.h>

namespace placing {

namespace {

bool under(const QString& path, const QString& root) {
    return path.startsWith(root + QLatin1Char('/'));
}

// The system's own folders, and the roots below which applications get
// folders of their own (/opt/APP, /srv/APP, /home/USER/APP, ...).
bool isSystemFolder(const QString& folder) {
    static const QStringList roots = {
        QStringLiteral("/"),    QStringLiteral("/home"), QStringLiteral("/media"),
        QStringLiteral("/mnt"), QStringLiteral("/opt"),  QStringLiteral("/root"),
        QStringLiteral("/srv"), QStringLiteral("/tmp"),  QStringLiteral("/var"),
    };
    // Trees that the system and its packages own, but for the folders below
    // /usr/local and the volumes under /run/media.
    static const QStringList trees = {
        QStringLiteral("/bin"),   QStringLiteral("/boot"),   QStringLiteral("/dev"),
        QStringLiteral("/etc"),   QStringLiteral("/lib"),    QStringLiteral("/lib32"),
        QStringLiteral("/lib64"), QStringLiteral("/libx32"), QStringLiteral("/proc"),
        QStringLiteral("/run"),   QStringLiteral("/sbin"),   QStringLiteral("/sys"),
        QStringLiteral("/usr"),
    };
    static const QStringList openings = {QStringLiteral("/usr/local"),
                                         QStringLiteral("/run/media")};
    if (roots.contains(folder) || openings.contains(folder))
        return true;
    // Their standard folders: /var/lib, /var/log, /usr/local/bin, ...
    const QString parent = QFileInfo(folder).path();
    if (parent == QLatin1String("/var") || parent == QLatin1String("/usr/local"))
        return true;
    for (const QString& opening : openings)
        if (under(folder, opening))
            return false;
    return std::any_of(trees.begin(), trees.end(),
                       [&](const QString& tree) { return folder == tree || under(folder, tree); });
}

bool hasControlCharacter(const QString& text) {
    return std::any_of(text.begin(), text.end(),
                       [](QChar c) { return c.category() == QChar::Other_Control; });
}

// The desktop entry's string escapes; control characters never get here.
QString escaped(QString value) {
    return value.replace(QLatin1Char('\\'), QLatin1String("\\\\"));
}

// One argument of an Exec line: quoted, with the characters that are
// special inside quotes escaped, and "%" doubled, which would start a field code.
QString execArgument(const QString& path) {
    QString quoted;
    for (const QChar c : path) {
        if (c == QLatin1Char('"') || c == QLatin1Char('`') || c == QLatin1Char('$') ||
            c == QLatin1Char('\\'))
            quoted += QLatin1Char('\\');
        quoted += c == QLatin1Char('%') ? QStringLiteral("%%") : QString(c);
    }
    return escaped(QLatin1Char('"') + quoted + QLatin1Char('"'));
}

} // namespace

QString folderRefusal(const QString& folder) {
    if (isSystemFolder(folder))
        return QStringLiteral("%1 é uma pasta do sistema: coloque o programa na pasta de um "
                              "aplicativo, cujos dados ele copia")
            .arg(folder);
    if (hasControlCharacter(folder))
        return QStringLiteral("o caminho de %1 tem caracteres de controle, que um lançador não "
                              "pode guardar")
            .arg(folder);
    if (folder.contains(QLatin1Char('\\')))
        return QStringLiteral("%1 tem \"\\\" num nome: o programa não inicia numa pasta que não "
                              "se escreve com letra de unidade")
            .arg(folder);
    const QString drivePath =
        platform::DriveTable::current().toDrivePath(platform::hostBytes(folder));
    if (drivePath.startsWith(QLatin1Char('\\')))
        return QStringLiteral("%1 é uma pasta de rede sem letra de unidade, onde o programa "
                              "não inicia: monte o compartilhamento numa pasta (em /mnt, por "
                              "exemplo) e coloque o programa lá")
            .arg(folder);
    return QString();
}

QString launcherFileName(const QString& folder) {
    QString name;
    for (const QChar c : QFileInfo(folder).fileName())
        name += c.isLetterOrNumber() && c.unicode() < 128 ? c : QLatin1Char('_');
    const QByteArray hash =
        QCryptographicHash::hash(folder.toUtf8(), QCryptographicHash::Sha256).toHex().left(8);
    return QStringLiteral("pelivor-%1-%2.desktop").arg(name, QString::fromLatin1(hash));
}

QByteArray launcherText(const QString& folder) {
    const QString program = folder + QLatin1Char('/') + ProgramName;
    const QString name = QFileInfo(folder).fileName();
    QString text;
    text += QStringLiteral("[Desktop Entry]\n");
    text += QStringLiteral("Type=Application\n");
    text += QStringLiteral("Version=1.0\n");
    text += QStringLiteral("Name=Cópia de Segurança – %1\n").arg(escaped(name));
    text += QStringLiteral("Comment=Copia a pasta %1 para uma unidade de destino\n")
                .arg(escaped(folder));
    text += QStringLiteral("Icon=pelivor\n");
    text += QStringLiteral("TryExec=%1\n").arg(escaped(program));
    // GLib looks for the program before it turns "%%" back into "%": a
    // folder whose path holds one is entered by env, whose own path has none.
    text += program.contains(QLatin1Char('%'))
                ? QStringLiteral("Exec=/usr/bin/env -C %1 ./%2\n")
                      .arg(execArgument(folder), ProgramName)
                : QStringLiteral("Exec=%1\n").arg(execArgument(program));
    text += QStringLiteral("Path=%1\n").arg(escaped(folder));
    text += QStringLiteral("Terminal=false\n");
    text += QStringLiteral("Categories=Utility;Archiving;\n");
    text += QStringLiteral("Keywords=backup;cópia;segurança;\n");
    return text.toUtf8();
}

QList<Placement> placementsIn(const QString& launchers) {
    QList<Placement> found;
    const QDir dir(launchers);
    const QStringList names =
        dir.entryList({QStringLiteral("pelivor-*.desktop")}, QDir::Files, QDir::Name);
    for (const QString& name : names) {
        QFile file(dir.filePath(name));
        if (!file.open(QIODevice::ReadOnly))
            continue;
        for (const QByteArray& line : file.readAll().split('\n')) {
            if (!line.startsWith("Path="))
                continue;
            // The one escape a launcher of ours holds: "\\" for "\".
            const QString folder =
                QString::fromUtf8(line.mid(5)).replace(QLatin1String("\\\\"), QLatin1String("\\"));
            if (launcherFileName(folder) == name)
                found.append({folder, file.fileName()});
            break;
        }
    }
    return found;
}

qint64 runningProcess(const QString& path) {
    const QByteArray wanted = QFile::encodeName(path);
    const QStringList ids =
        QDir(QStringLiteral("/proc")).entryList(QDir::Dirs | QDir::NoDotAndDotDot);
    for (const QString& id : ids) {
        bool number = false;
        const qint64 pid = id.toLongLong(&number);
        if (!number)
            continue;
        char target[4096];
        const QByteArray link = "/proc/" + id.toLatin1() + "/exe";
        const ssize_t size = ::readlink(link.constData(), target, sizeof target);
        if (size > 0 && QByteArray(target, size) == wanted)
            return pid;
    }
    return 0;
}

QString copyProgram(const QString& from, const QString& folder) {
    using namespace platform;
    // The copy follows no link, so a template named through one is taken by its real path.
    const QFileInfo source(QFileInfo(from).canonicalFilePath());
    try {
        FileSystem& fs = FileSystem::get();
        const Directory fromDir = fs.openDirectory(platform::hostBytes(source.path()));
        const Directory toDir = fs.openDirectory(platform::hostBytes(folder));
        fs.copyFile(fromDir, platform::hostBytes(source.fileName()), toDir,
                    platform::hostBytes(ProgramName));
        return QString();
    } catch (const Failure& failure) {
        return describe(failure.number);
    }
}

} // namespace placing
