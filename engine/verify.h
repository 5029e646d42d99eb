#pragma once
// The verification of a backup: the source tree compared, byte for byte,
// with its mirror below a destination, as a copy run would have made it.

#include "platform/errors.h"

#include <QString>
#include <cstdint>
#include <string>

namespace TRAVO1 {

struct VerifyCounts {
    int64_t equal = 0, different = 0, missing = 0, unreadable = 0;
};

// What a verification meets, in the order of the walk. Host paths are the
// destination's for a copy missing or different, and the side's that could
// not be read otherwise.
class VerifyObserver {
public:
    virtual ~VerifyObserver() = default;
    virtual void missing(const std::string& hostPath) = 0;
    virtual void different(const std::string& hostPath) = 0;
    virtual void unreadable(const std::string& hostPath, const platform::RecordedError& error) = 0;
    // The run could not go on (the destination is missing or went away).
    virtual void failed(const platform::RecordedError& error) = 0;
    // A stop request took effect.
    virtual void stopped() = 0;
    // The counts, last, whatever the end.
    virtual void finished(const VerifyCounts& counts) = 0;
};

enum class VerifyEnd {
    Equal,   // every file the same
    Unequal, // some file different, missing or unreadable
    Failed,  // the run could not go on: `error`
    Stopped, // a stop request
    Busy,    // another run of the program's folder holds its lock
    Refused, // a refusal box: the same place, a drive root, inside the source
};

struct VerifyOutcome {
    VerifyEnd end = VerifyEnd::Equal;
    platform::RecordedError error;
    VerifyCounts counts;
};

// Compares every file of the folder `from` (a drive text), subfolders
// included, with its copy in the mirror of its path below `to`, with the
// same selection of files as a copy run: hidden and system entries left
// out, links never followed. The program's own Log.txt, which every run
// writes to, is left out. Holds the program folder's run lock as a copy
// does, honours StopFlag (pumping events), and appends one record to
// Log.txt ("Verificação: ..."), none when refused or busy.
VerifyOutcome VerifyCopy(const QString& from, const QString& to, VerifyObserver& observer);

// The outcome as one line: "Verificação: 20.000 arquivos iguais, 2
// diferentes, 1 ausente", its record's RESULTADO.
QString verifyResultText(const VerifyOutcome& outcome);

} // namespace TRAVO1
