#include "engine/verify.h"
#include "engine/compareahead.h"
#include "engine/jobstate.h"
#include "engine/runfolders.h"
#include "engine/runlog.h"
#include "engine/statustexts.h"
#include "platform/drives.h"
#include "platform/events.h"
#include "platform/messagebox.h"
#include "platform/runlock.h"

#include <memory>

namespace TRAVO1 {

using namespace platform;

namespace {

struct StopRequested {};

bool vanished(int32_t number) {
    return number == ErrFileNotFound || number == ErrPathNotFound;
}

// Where the destination is no longer there to be read, not one file.
bool gone(int32_t number) {
    return number == ErrDeviceUnavailable || number == ErrDiskNotReady;
}

// The mirror of the source's path below the destination, by the source
// folders' exact host names, made by nothing: a folder missing there leaves
// every file below it missing. The destination itself must exist.
Directory mirrorOf(const QString& from, Directory top) {
    FileSystem& fs = FileSystem::get();
    for (const std::string& name : DriveTable::current().resolve(from).names)
        top = top.error() ? Directory::failed(top.error(), top.pathOf(name))
                          : fs.tryOpenDirectory(top, name);
    return top;
}

// The host name of the program's Log.txt when the source is the program's
// folder: every run appends to it, so its copy is always behind.
std::string logName(const QString& from) {
    try {
        if (hostFolder(from) != hostFolder(programFolder()))
            return {};
        return DriveTable::current()
            .resolve(programFolder() + QStringLiteral("\\Log.txt"))
            .names.back();
    } catch (const Failure&) {
        clearError();
        return {};
    }
}

void refuse(const QString& text) {
    MessageBox::show(text, MbOk | MbExclamation, QStringLiteral("Cópia de Arquivo."));
}

// The walk: each level's files in the listing's order, then its subfolders
// depth first, as a copy run goes.
class Walk {
public:
    Walk(VerifyObserver& observer, const QString& to, std::string logName)
        : m_observer(observer), m_to(to), m_logName(std::move(logName)) {}

    void level(const Directory& source, const Directory& copy, bool top);

    VerifyCounts counts;
    RecordedError firstUnreadable;
    std::unique_ptr<CompareAhead> ahead; // on shares

private:
    bool goOn() {
        pumpEventsIfDue();
        return StopFlag != 1;
    }
    void compareFiles(const Directory& source, const Directory& copy,
                      const std::vector<const std::string*>& names);
    void take(const Comparison& verdict, const Directory& source, const Directory& copy,
              const std::string& name);
    void unreadable(const std::string& path, int32_t error);

    VerifyObserver& m_observer;
    QString m_to;
    std::string m_logName;
    CompareBuffers m_buffers; // when comparing on this thread
};

void Walk::level(const Directory& source, const Directory& copy, bool top) {
    FileSystem& fs = FileSystem::get();
    if (!goOn())
        throw StopRequested{};
    // A stick pulled out leaves its folders readable through the handles
    // held: the drive's folder tells.
    DriveTable::current().requireVolume(m_to);
    std::vector<DirEntry> entries;
    if (!resumeNext([&] { entries = fs.list(source, QStringLiteral("*.*"), AttrDirectory); })) {
        if (!vanished(Err().number))
            unreadable(source.path(), Err().number);
        clearError();
        return;
    }
    std::vector<const std::string*> files;
    for (const DirEntry& entry : entries)
        if (!entry.directory && !(top && entry.name == m_logName))
            files.push_back(&entry.name);
    compareFiles(source, copy, files);

    std::vector<std::string> subfolders; // kept alone, so deep trees stay small
    for (DirEntry& entry : entries)
        if (entry.directory && entry.name != "." && entry.name != "..")
            subfolders.push_back(std::move(entry.name));
    entries = {};
    for (const std::string& name : subfolders) {
        if (!goOn())
            throw StopRequested{};
        const Directory childSource = fs.tryOpenDirectory(source, name);
        if (childSource.error() != 0) {
            if (!vanished(childSource.error()))
                unreadable(childSource.path(), childSource.error());
            continue;
        }
        const Directory childCopy = copy.error() != 0
                                        ? Directory::failed(copy.error(), copy.pathOf(name))
                                        : fs.tryOpenDirectory(copy, name);
        if (gone(childCopy.error()))
            raiseError(childCopy.error());
        level(childSource, childCopy, false);
    }
}

void Walk::compareFiles(const Directory& source, const Directory& copy,
                        const std::vector<const std::string*>& names) {
    const auto goOn = [this] { return this->goOn(); };
    if (!ahead) {
        for (const std::string* name : names) {
            const Comparison verdict = compareFile(source, copy, *name, m_buffers, goOn);
            if (verdict.result == Comparison::Stopped || !this->goOn())
                throw StopRequested{};
            take(verdict, source, copy, *name);
        }
        return;
    }
    ahead->begin(source, copy, names);
    struct EndLevel {
        CompareAhead& ahead;
        ~EndLevel() { ahead.end(); }
    } endLevel{*ahead};
    for (const std::string* name : names) {
        const Comparison verdict = ahead->next(goOn);
        if (verdict.result == Comparison::Stopped || !this->goOn())
            throw StopRequested{};
        take(verdict, source, copy, *name);
    }
}

void Walk::take(const Comparison& verdict, const Directory& source, const Directory& copy,
                const std::string& name) {
    switch (verdict.result) {
    case Comparison::Equal:
        ++counts.equal;
        break;
    case Comparison::Different:
        ++counts.different;
        m_observer.different(copy.pathOf(name));
        break;
    case Comparison::Missing:
        ++counts.missing;
        m_observer.missing(copy.pathOf(name));
        break;
    case Comparison::SourceGone: // nothing left to back up
    case Comparison::Stopped:
        break;
    case Comparison::SourceFailed:
        unreadable(source.pathOf(name), verdict.error);
        break;
    case Comparison::CopyFailed:
        if (gone(verdict.error))
            raiseError(verdict.error);
        unreadable(copy.pathOf(name), verdict.error);
        break;
    }
}

void Walk::unreadable(const std::string& path, int32_t error) {
    const RecordedError e{error, describe(error)};
    if (counts.unreadable++ == 0)
        firstUnreadable = e;
    m_observer.unreadable(path, e);
}

// Passes a verification's events on, and records in Log.txt each file it
// found missing, different or unreadable, by its path as the window shows
// it: at most as many as a copy names, then how many more.
class VerifyLog final : public VerifyObserver {
public:
    VerifyLog(VerifyObserver& next, const QString& to) : m_next(next), m_to(to) {}
    void missing(const std::string& hostPath) override {
        m_next.missing(hostPath);
        record(QStringLiteral("Ausente no destino: "), hostPath, {});
    }
    void different(const std::string& hostPath) override {
        m_next.different(hostPath);
        record(QStringLiteral("Diferente da origem: "), hostPath, {});
    }
    void unreadable(const std::string& hostPath, const RecordedError& error) override {
        m_next.unreadable(hostPath, error);
        record(QStringLiteral("Não lido: "), hostPath, error);
    }
    void failed(const RecordedError& error) override { m_next.failed(error); }
    void stopped() override { m_next.stopped(); }
    void finished(const VerifyCounts& counts) override {
        m_next.finished(counts);
        if (m_named > RunLog::NamedFailures)
            appendRunLog(QStringLiteral("... e mais %1 arquivos diferentes, ausentes ou não lidos")
                             .arg(m_named - RunLog::NamedFailures),
                         m_to);
    }

private:
    void record(const QString& what, const std::string& hostPath, const RecordedError& error) {
        if (++m_named > RunLog::NamedFailures)
            return;
        const KeepRecordedError kept;
        QString path;
        resumeNext([&] { path = DriveTable::current().toDrivePath(hostPath); });
        appendRunLog(what + (path.isEmpty() ? hostText(hostPath) : path), m_to, error.number,
                     error.description);
    }

    VerifyObserver& m_next;
    QString m_to;
    int64_t m_named = 0;
};

} // namespace

QString verifyResultText(const VerifyOutcome& outcome) {
    switch (outcome.end) {
    case VerifyEnd::Failed:
        return QStringLiteral("Verificação: Erro: %1 - %2")
            .arg(outcome.error.number)
            .arg(outcome.error.description);
    case VerifyEnd::Stopped:
        return QStringLiteral("Verificação interrompida.");
    default:
        break;
    }
    const VerifyCounts& c = outcome.counts;
    QString text = QStringLiteral("Verificação: ") +
                   counted(c.equal, "arquivo igual", "arquivos iguais") + QStringLiteral(", ") +
                   counted(c.different, "diferente", "diferentes") + QStringLiteral(", ") +
                   counted(c.missing, "ausente", "ausentes");
    if (c.unreadable > 0)
        text += QStringLiteral(", ") + counted(c.unreadable, "não lido", "não lidos");
    return text;
}

VerifyOutcome VerifyCopy(const QString& from, const QString& to, VerifyObserver& observer) {
    VerifyOutcome outcome;
    clearError();
    if (insideSource(from, to)) {
        refuse(QStringLiteral("O Destino dos Arquivos está dentro da Origem: ") + to +
               QStringLiteral("\nSelecione outro local para o Destino.\n"));
        outcome.end = VerifyEnd::Refused;
        return outcome;
    }
    const RunLock lock = lockProgramFolder();
    if (lock.state() == RunLock::Busy) {
        refuse(QStringLiteral("Já há uma cópia desta pasta em andamento.\n"
                              "Aguarde o fim dela para copiar de novo.\n"));
        outcome.end = VerifyEnd::Busy;
        return outcome;
    }

    StopFlag = 0; // a stop before this run belongs to an earlier one
    VerifyLog logged(observer, to);
    Walk walk(logged, to, logName(from));
    try {
        FileSystem& fs = FileSystem::get();
        const Directory source = fs.openDirectory(hostFolder(from));
        Directory top = fs.openDirectory(hostFolder(to));
        if (fs.asksAhead(source, top))
            walk.ahead = std::make_unique<CompareAhead>();
        const Directory copy = mirrorOf(from, std::move(top));
        // Below the root of the folder's own drive, or reached through a
        // link or a mount, the mirror may be the folder itself: every file
        // would be "the same".
        if (copy.error() == 0 && copy.identity() && copy.identity() == source.identity())
            raiseError(ErrPathFileAccess);
        walk.level(source, copy, true);
        const VerifyCounts& c = walk.counts;
        outcome.end =
            c.different + c.missing + c.unreadable == 0 ? VerifyEnd::Equal : VerifyEnd::Unequal;
        outcome.error = walk.firstUnreadable;
    } catch (const StopRequested&) {
        outcome.end = VerifyEnd::Stopped;
        logged.stopped();
    } catch (const Failure&) {
        outcome.end = VerifyEnd::Failed;
        outcome.error = Err();
        logged.failed(outcome.error);
    }
    walk.ahead.reset();
    outcome.counts = walk.counts;
    logged.finished(outcome.counts);
    appendRunLog(verifyResultText(outcome), to, outcome.error.number, outcome.error.description);
    return outcome;
}

} // namespace TRAVO1
