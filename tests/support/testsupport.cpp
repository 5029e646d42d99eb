#include "testsupport.h"
#include "volumes.h"

#include "engine/copycommand.h"
#include "engine/statustexts.h"
#include "platform/clock.h"
#include "platform/drives.h"
#include "platform/errors.h"
#include "platform/runmark.h"

#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QTest>
#include <cerrno>
#include <sys/stat.h>

using namespace platform;
using namespace TRAVO1;

void RecordingWindow::record(const QString& control, const QString& value) {
    if (control == u"Lbl_CopyInfo"_s)
        m_status = value;
    writes.push_back({control, value});
    if (onWrite)
        onWrite(writes.back());
}

QString RecordingWindow::lblCopyInfo() const {
    return m_status;
}

void RecordingWindow::runStarted(const QDateTime& at) {
    record(u"cmdCopy"_s, u"off"_s);
    record(u"MousePointer"_s, u"11"_s);
    record(u"Label12"_s, u"on"_s);
    record(u"lblHoraIni"_s, startTimeText(at));
}

void RecordingWindow::lockUnavailable(int32_t error) {
    record(u"notice"_s, noLockText(error));
}

void RecordingWindow::folderMaking(const QString& destination) {
    record(u"Lbl_CopyInfo"_s, folderMakingText(destination));
    record(u"Refresh"_s, m_status);
}

void RecordingWindow::fileInHand(const QString& sourceDir, const QString& destDir,
                                 const std::string& name) {
    record(u"Lbl_CopyInfo"_s, copyingText(sourceDir, name));
    record(u"Lbl_CopyInfo2"_s, targetText(destDir, name));
    record(u"Caption"_s, targetText(destDir, name));
}

void RecordingWindow::fileVerifying(const QString& destDir, const std::string& name) {
    record(u"Lbl_CopyInfo"_s, verifyingText(destDir, name));
}

void RecordingWindow::fileFailed(const QString& path, const std::string& /*hostPath*/,
                                 const RecordedError& error) {
    failures << u"%1: %2"_s.arg(path).arg(error.number);
}

void RecordingWindow::levelFailed(const RecordedError& error) {
    record(u"Lbl_CopyInfo"_s, levelFailedText(error));
}

void RecordingWindow::runEnded(const RunResult& result) {
    if (result.end == RunEnd::Refused || result.end == RunEnd::Busy)
        return;
    record(u"MousePointer"_s, u"0"_s);
    if (result.end != RunEnd::Completed)
        return;
    record(u"cmdCopy"_s, u"on"_s);
    record(u"Label12"_s, u"off"_s);
    record(u"Lbl_CopyInfo2"_s, QString());
    record(u"lblHoraFin"_s, endTimeText(result.at));
    record(u"Lbl_CopyInfo"_s, completedText(result.at));
    record(u"Caption"_s, completedText(result.at));
    record(u"Flood"_s, u"0"_s);
}

void RecordingWindow::errorReported(const RecordedError& error) {
    record(u"Lbl_CopyInfo"_s, reportedText(error.number));
    record(u"cmdCopy"_s, u"off"_s);
    record(u"Flood"_s, u"0"_s);
}

RunResult copyCommand(RecordingWindow& w) {
    return CopyCommand(w.request(), w);
}

QString RecordingWindow::last(const QString& control) const {
    const QStringList values = all(control);
    return values.isEmpty() ? u"<none>"_s : values.last();
}

QStringList RecordingWindow::all(const QString& control) const {
    QStringList values;
    for (const Write& w : writes)
        if (w.control == control)
            values << w.value;
    return values;
}

BoxRecorder::BoxRecorder() {
    MessageBox::install([this](const MessageRequest& request) {
        boxes.push_back(request);
        if (whileShown)
            whileShown();
        if (answers.empty())
            return int(IdOk);
        const int answer = answers.front();
        answers.erase(answers.begin());
        return answer;
    });
}

BoxRecorder::~BoxRecorder() {
    MessageBox::install({});
}

FakeClock::FakeClock() {
    installClock([this] {
        if (failWith)
            raiseError(failWith);
        ++readings;
        const double reading = now;
        now += step;
        if (midnight && now >= 86400)
            now -= 86400;
        return reading;
    });
}

FakeClock::~FakeClock() {
    installClock({});
}

TempDrives::TempDrives() {
    for (const char letter : {'c', 'd', 'f'})
        QDir().mkpath(m_root.path() + u'/' + QLatin1Char(letter));
    QDir().mkpath(host(u"C:\\PROG"_s));
    adopt(m_root.path());
    TRAVO1::StopFlag = 0;
    TRAVO1::CurrentName.clear();
    TRAVO1::DestPath.clear();
    clearError();
}

void TempDrives::adopt(const QString& root) {
    std::vector<Drive> drives;
    for (const char letter : {'C', 'D', 'F'})
        drives.push_back({QLatin1Char(letter),
                          platform::hostBytes(root + u'/' + QChar(letter).toLower()), u"t"_s});
    DriveTable::install(DriveTable(std::move(drives)));
    setProgramFolder(u"C:\\PROG"_s);
}

TempDrives::~TempDrives() {
    DriveTable::reset();
    setProgramFolder(QString());
}

QString TempDrives::host(const QString& drivePath) const {
    return m_root.path() + u'/' + drivePath.left(1).toLower() +
           QString(drivePath.mid(2)).replace(u'\\', u'/');
}

QByteArray TempDrives::log() const {
    return readFile(logPath());
}

int TempDrives::logRecords() const {
    return QFileInfo(logPath()).isFile() ? int(log().count("\r\n")) - 1 : 0;
}

QStringList TempDrives::logResults() const {
    QStringList results;
    if (!QFileInfo(logPath()).isFile())
        return results;
    const QStringList lines = QString::fromLocal8Bit(log()).split(u"\r\n"_s, Qt::SkipEmptyParts);
    for (const QString& line : lines.mid(1))
        results << line.section(u'\t', 0, 0);
    return results;
}

void writeFile(const QString& path, const QByteArray& data, const QDateTime& modified) {
    QDir().mkpath(QFileInfo(path).path());
    QFile f(path);
    QVERIFY(f.open(QIODevice::WriteOnly | QIODevice::Truncate) && f.write(data) == data.size());
    QVERIFY(f.flush());
    if (modified.isValid())
        QVERIFY(f.setFileTime(modified, QFileDevice::FileModificationTime));
}

QByteArray readFile(const QString& path) {
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray("<missing>");
}

QStringList tree(const QString& folder) {
    QStringList out;
    QDirIterator it(folder, QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot,
                    QDirIterator::Subdirectories);
    while (it.hasNext()) {
        const QString path = it.next();
        if (it.fileName() == QLatin1String(RunMark::fileName))
            continue; // the run's own, looked for where it matters
        const QString name = QDir(folder).relativeFilePath(path);
        const QByteArray data = readFile(path);
        out << (it.fileInfo().isDir() ? name + u'/'
                : data.size() <= 16   ? name + u'=' + QString::fromUtf8(data)
                                      : name + u"=<%1>"_s.arg(data.size()));
    }
    out.sort();
    return out;
}

Directory FaultyFileSystem::openDirectory(const Directory& parent, const std::string& name) {
    for (const auto& [tail, err] : openFails)
        if (parent.pathOf(name).ends_with(tail))
            raiseErrno(err, Missing::Path);
    return FileSystem::openDirectory(parent, name);
}

FileInfo FaultyFileSystem::probe(const Directory& dir, const std::string& name) {
    if (const auto fail = probeFails.find(name); fail != probeFails.end()) // on any thread
        raiseErrno(fail->second, Missing::File);
    return FileSystem::probe(dir, name);
}

bool FaultyFileSystem::asksAhead(const Directory& source, const Directory& destination) {
    return askAhead.value_or(FileSystem::asksAhead(source, destination));
}

std::optional<PreparedCopy> FaultyFileSystem::prepareCopy(const Directory& fromDir,
                                                          const std::string& from,
                                                          const Directory& toDir,
                                                          const Progress& progress,
                                                          const Directory* staging) {
    if (const auto fail = copyFails.find(from); fail != copyFails.end()) // on any thread
        raiseErrno(fail->second, Missing::File);
    return FileSystem::prepareCopy(fromDir, from, toDir, progress, staging);
}

int FaultyFileSystem::setTimes(int fd, const struct timespec times[2]) {
    if (failTimesWith) {
        errno = failTimesWith;
        return -1;
    }
    return FileSystem::setTimes(fd, times);
}

int FaultyFileSystem::syncVolume(int fd) {
    ++syncs;
    struct stat st {};
    synced.push_back(::fstat(fd, &st) == 0 ? st.st_dev : 0);
    if (onSync)
        onSync();
    if (failSyncWith) {
        errno = failSyncWith;
        return -1;
    }
    return FileSystem::syncVolume(fd);
}

ssize_t FaultyFileSystem::transfer(int in, int out, size_t count, bool& kernelCopy) {
    if (duringTransfer)
        duringTransfer();
    if (failTransferWith && moved >= failAfter) {
        errno = failTransferWith;
        return -1;
    }
    if (failTransferWith)
        count = std::min<size_t>(count, size_t(failAfter - moved));
    const ssize_t n = FileSystem::transfer(in, out, count, kernelCopy);
    moved += std::max<ssize_t>(n, 0);
    return n;
}

Stick::Stick(const QString& label) : m_image(m_dir.filePath(u"stick.img"_s)) {
    QFile image(m_image);
    if (!image.open(QIODevice::WriteOnly) || !image.resize(4 << 20))
        error = u"no room for the image"_s;
    image.close();
    if (error.isEmpty())
        succeeds(u"mkfs.ext2"_s, {u"-q"_s, u"-F"_s, u"-L"_s, label, m_image}, &error);
}

Stick::~Stick() {
    pullOut();
}

bool Stick::plugIn(const QString& folder) {
    if (!error.isEmpty() || !m_point.isEmpty())
        return false;
    if (!succeeds(u"mount"_s, {u"-o"_s, u"loop"_s, m_image, folder}, &error))
        return false;
    m_point = folder;
    return true;
}

bool Stick::pullOut() {
    if (m_point.isEmpty())
        return false;
    // A busy volume is detached, as a stick pulled out in use is.
    QString busy;
    if (!succeeds(u"umount"_s, {m_point}, &busy) &&
        !succeeds(u"umount"_s, {u"-l"_s, m_point}, &error))
        return false;
    m_point.clear();
    return true;
}
