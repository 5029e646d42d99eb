#include "ui/destination.h"
#include "engine/copycommand.h"
#include "platform/drives.h"
#include "platform/errors.h"
#include "platform/files.h"
#include "platform/messagebox.h"

#include <QFile>
#include <QSettings>
#include <QUrl>
#include <sys/stat.h>

namespace ui {

using namespace platform;

namespace {

// One entry per program folder: its host path, escaped so that the
// configuration's "/" and "\" separate nothing.
QString programFolderKey() {
    const std::string folder = DriveTable::current().toHost(programFolder());
    return QStringLiteral("destinos/") +
           QString::fromLatin1(QUrl::toPercentEncoding(QByteArray::fromStdString(folder)));
}

QSettings configuration() {
    return QSettings(QStringLiteral("pelivor"), QStringLiteral("pelivor"));
}

} // namespace

QString rememberedDestination() {
    try {
        const QByteArray host = configuration().value(programFolderKey()).toByteArray();
        struct stat st {};
        if (host.isEmpty() || ::stat(host.constData(), &st) != 0 || !S_ISDIR(st.st_mode))
            return QString();
        const QString text = DriveTable::current().toDrivePath(host.toStdString());
        // A folder without a letter cannot be shown, and a root is no destination.
        if (text.startsWith(QLatin1Char('\\')) || text.size() <= 3)
            return QString();
        return text;
    } catch (const Failure&) {
        clearError();
        return QString();
    }
}

void rememberDestination(const QString& folder) {
    try {
        const std::string host = DriveTable::current().toHost(folder);
        configuration().setValue(programFolderKey(), QByteArray::fromStdString(host));
    } catch (const Failure&) {
        clearError();
    }
}

QString offerBackupFolder(const QString& root, QObject* owner) {
    const QString folder = root + QStringLiteral("BACKUP");
    // A BACKUP in another case (backup) is the one the text names already.
    const DriveTable::HostPath target = DriveTable::current().resolve(folder);
    FileSystem& fs = FileSystem::get();
    const bool exists = fs.tryOpenDirectory(target.path()).error() == 0;
    const QString question =
        exists ? QStringLiteral("\nUsar a pasta %1 como Destino?\n").arg(folder)
               : QStringLiteral("\nCriar a pasta %1 e usá-la como Destino?\n").arg(folder);
    const int answer = MessageBox::show(TRAVO1::rootRefusal(root) + question,
                                        MbYesNo | MbQuestion | MbDefaultButton2,
                                        QStringLiteral("Cópia de Arquivo."), owner);
    if (answer != IdYes)
        return QString();
    if (!exists)
        fs.openOrMakeDirectory(fs.openDirectory(target.root), target.names.back());
    return DriveTable::current().toDrivePath(target.path());
}

} // namespace ui
