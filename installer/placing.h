#pragma once
// Placing the program into an application folder, with a desktop launcher
// for that folder: the steps of pelivor-instalar.
//
// Folders are absolute host paths with symbolic links resolved, as the
// placed program will see its own folder.

#include <QByteArray>
#include <QList>
#include <QString>

namespace placing {

// The program file's name in an application folder.
inline const QString ProgramName = QStringLiteral("pelivor");

// Why the program may not go into `folder`, or an empty text when it may:
// a folder of the system itself, or one the program could not start in
// because it cannot be written as a drive-letter path.
QString folderRefusal(const QString& folder);

// The launcher's file name, one per application folder.
QString launcherFileName(const QString& folder);
// The launcher: the folder's name, the icon, the placed program started in
// that folder.
QByteArray launcherText(const QString& folder);

// A folder that this command placed the program into, as its launcher tells.
struct Placement {
    QString folder;   // the application folder
    QString launcher; // the launcher's file
};
// The placements whose launchers lie in the folder `launchers`: each file
// named as this command names launchers whose folder gives that name back.
QList<Placement> placementsIn(const QString& launchers);

// The id of a process running the program file `path`, or 0 when none can
// be seen (processes of other users are hidden from those who are not root).
qint64 runningProcess(const QString& path);

// Copies `from` over the program file of `folder` through a hidden temporary
// file, so the old copy stays whole until the new one is complete. Returns
// an error text, empty on success.
QString copyProgram(const QString& from, const QString& folder);

} // namespace placing
