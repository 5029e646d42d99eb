#include "testsupport.h"

#include "engine/jobstate.h"
#include "platform/drives.h"
#include "platform/errors.h"

#include <QDir>
#include <QFile>
#include <QTest>
#include <cerrno>
#include <sys/stat.h>

using namespace platform;

void RecordingWindow::record(const char* control, const QString& value) {
    writes.push_back({QString::fromLatin1(control), value});
    if (onWrite)
        onWrite(writes.back());
}

QString RecordingWindow::last(const QString& control) const {
    for (auto it = writes.rbegin(); it != writes.rend(); ++it)
        if (it->control == control)
            return it->value;
    return QStringLiteral("<none>");
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
        if (answers.empty())
            return int(IdOk);
        const int answer = answers.front();
        answers.pop_front();
        return answer;
    });
}

BoxRecorder::~BoxRecorder() {
    MessageBox::install({});
}

TempDrives::TempDrives() {
    const QString root = m_root.path();
    for (const char* d : {"c", "d", "f"})
        QDir(root).mkpath(QString::fromLatin1(d));
    QDir(root).mkpath(QStringLiteral("c/PROG"));
    std::vector<Drive> drives;
    for (char letter : {'C', 'D', 'F'})
        drives.push_back(Drive{
            QLatin1Char(letter),
            QFile::encodeName(root + QLatin1Char('/') + QChar(letter).toLower()).toStdString(),
            QStringLiteral("temp")});
    DriveTable::install(DriveTable(std::move(drives)));
    setProgramFolder(QStringLiteral("C:\\PROG"));
    TRAVO1::StopFlag = 0;
    TRAVO1::CurrentName.clear();
    TRAVO1::DestPath.clear();
    clearError();
}

TempDrives::~TempDrives() {
    DriveTable::reset();
    setProgramFolder(QString());
}

QString TempDrives::host(const QString& drivePath) const {
    QString rest = drivePath.mid(2);
    rest.replace(QLatin1Char('\\'), QLatin1Char('/'));
    return m_root.path() + QLatin1Char('/') + drivePath.left(1).toLower() + rest;
}

QByteArray TempDrives::log() const {
    return readFile(logPath());
}

void writeFile(const QString& path, const QByteArray& data, const QDateTime& modified) {
    QDir().mkpath(QFileInfo(path).path());
    QFile f(path);
    QVERIFY(f.open(QIODevice::WriteOnly | QIODevice::Truncate));
    QCOMPARE(f.write(data), data.size());
    f.close();
    if (modified.isValid())
        setModified(path, modified);
}

QByteArray readFile(const QString& path) {
    QFile f(path);
    if (!f.open(QIODevice::ReadOnly))
        return QByteArray("<missing>");
    return f.readAll();
}

void setModified(const QString& path, const QDateTime& modified) {
    QFile f(path);
    QVERIFY(f.open(QIODevice::ReadWrite));
    QVERIFY(f.setFileTime(modified, QFileDevice::FileModificationTime));
}

QDateTime modifiedOf(const QString& path) {
    return QFileInfo(path).lastModified();
}

QStringList entriesOf(const QString& folder) {
    QStringList names = QDir(folder).entryList(QDir::AllEntries | QDir::Hidden | QDir::System |
                                               QDir::NoDotAndDotDot);
    names.sort();
    return names;
}

Directory FaultyFileSystem::openDirectory(const Directory& parent, const std::string& name) {
    for (const auto& [tail, err] : openFails)
        if (parent.pathOf(name).ends_with(tail))
            raiseErrno(err, Missing::Path);
    return FileSystem::openDirectory(parent, name);
}

FileInfo FaultyFileSystem::probe(const Directory& dir, const std::string& name) {
    if (auto it = probeFails.find(name); it != probeFails.end())
        raiseErrno(it->second, Missing::File);
    return FileSystem::probe(dir, name);
}

FileInfo FaultyFileSystem::attributes(const Directory& dir, const std::string& name) {
    if (auto it = attributeFails.find(name); it != attributeFails.end())
        raiseErrno(it->second, Missing::File);
    return FileSystem::attributes(dir, name);
}

bool FaultyFileSystem::copyFile(const Directory& fromDir, const std::string& from,
                                const Directory& toDir, const std::string& to,
                                const Progress& progress) {
    ++copies;
    if (beforeCopy)
        beforeCopy(from);
    if (auto it = copyFails.find(from); it != copyFails.end())
        raiseErrno(it->second, Missing::File);
    return FileSystem::copyFile(fromDir, from, toDir, to, progress);
}

ssize_t FaultyFileSystem::transfer(int in, int out, size_t count, bool& kernelCopy) {
    if (failTransferWith) {
        if (moved >= failAfter) {
            errno = failTransferWith;
            return -1;
        }
        count = std::min<size_t>(count, size_t(failAfter - moved));
    }
    const ssize_t n = FileSystem::transfer(in, out, count, kernelCopy);
    if (n > 0)
        moved += n;
    return n;
}
