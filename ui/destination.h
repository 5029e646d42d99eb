#pragma once
// The destination the window starts on, and the one it offers when a drive
// root is chosen.

#include <QString>

class QObject;

namespace ui {

// The folder that the last run of this program folder copied into, as a
// drive text of the table in force (a stick may have another letter now),
// when it is still a folder below a drive root; empty otherwise. Kept in the
// user's configuration, by the program folder's host path.
QString rememberedDestination();

// Keeps `folder`, a drive text, as the destination of this program folder's
// last run. Nothing is kept, and nothing said, where it cannot be.
void rememberDestination(const QString& folder);

// A drive root ("D:\") is refused as a destination, and a fresh stick holds
// nothing but its root. Shows the refusal with an offer of the drive's
// folder BACKUP, Sim or Não (Não by default: nothing is made unless the
// operator says so); on Sim makes the folder where it is missing. Returns
// the folder's drive text, or an empty text on Não. Raises what keeps the
// folder from being made.
QString offerBackupFolder(const QString& root, QObject* owner);

} // namespace ui
