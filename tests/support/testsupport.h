#pragma once
// Doubles and fixtures shared by the tests: a window model that records every
// write in order, a scripted message box, a drive table over temporary
// folders and a file service that injects faults.

#include "engine/jobstate.h"
#include "platform/files.h"
#include "platform/messagebox.h"

#include <QDateTime>
#include <QStringList>
#include <QTemporaryDir>
#include <deque>
#include <functional>
#include <map>
#include <vector>

// The window model of the tests: holds the inputs, records each output.
class RecordingWindow : public TRAVO1::WindowModel {
public:
    QString from, to, pattern = QStringLiteral("*.*");
    int16_t recourse = 1;

    struct Write {
        QString control;
        QString value;
    };
    std::vector<Write> writes;
    // Runs after each write, to act at a chosen moment (say, press ESC).
    std::function<void(const Write&)> onWrite;

    // The last value written to a control, or "<none>".
    QString last(const QString& control) const;
    // Every value written to a control, in order.
    QStringList all(const QString& control) const;

    QString txtFrom() const override { return from; }
    QString txtTo() const override { return to; }
    QString txtPattern() const override { return pattern; }
    int16_t chkRecourse() const override { return recourse; }
    void setCmdCopyEnabled(bool e) override { record("cmdCopy.Enabled", e); }
    void setLabel12Visible(bool v) override { record("Label12.Visible", v); }
    void setLblHoraIni(const QString& c) override { record("lblHoraIni", c); }
    void setLblHoraFin(const QString& c) override { record("lblHoraFin", c); }
    void setLblCopyInfo(const QString& c) override {
        m_status = c;
        record("Lbl_CopyInfo", c);
    }
    QString lblCopyInfo() const override { return m_status; }
    void repaintLblCopyInfo() override { record("Lbl_CopyInfo.Refresh", m_status); }
    void setLblCopyInfo2(const QString& c) override { record("Lbl_CopyInfo2", c); }
    void setCaption(const QString& c) override { record("Caption", c); }
    void setLblCopyInfo1Flood(int16_t p) override {
        record("Lbl_CopyInfo1.Flood", QString::number(p));
    }
    void setMousePointer(int p) override { record("MousePointer", QString::number(p)); }
    QWidget* owner() const override { return ownerWidget; }
    QWidget* ownerWidget = reinterpret_cast<QWidget*>(0x1);

private:
    void record(const char* control, bool value) {
        record(control, value ? QStringLiteral("true") : QStringLiteral("false"));
    }
    void record(const char* control, const QString& value);
    QString m_status;
};

// Records every message box and answers from a script (OK when it runs out).
class BoxRecorder {
public:
    BoxRecorder();
    ~BoxRecorder();
    std::vector<platform::MessageRequest> boxes;
    std::deque<int> answers;
};

// Drives C:, D: and F: on temporary folders; the program's folder is
// C:\PROG. Installs itself for its lifetime and resets the engine's state.
class TempDrives {
public:
    TempDrives();
    ~TempDrives();
    // The host path of a drive path such as "D:\BACKUP\A.TXT".
    QString host(const QString& drivePath) const;
    QString logPath() const { return host(QStringLiteral("C:\\PROG\\Log.txt")); }
    QByteArray log() const;

private:
    QTemporaryDir m_root;
};

// Writes a file (creating its folders) with a given modification time.
void writeFile(const QString& path, const QByteArray& data, const QDateTime& modified = {});
QByteArray readFile(const QString& path);
void setModified(const QString& path, const QDateTime& modified);
QDateTime modifiedOf(const QString& path);
// The names in a folder, hidden ones included, sorted.
QStringList entriesOf(const QString& folder);

// A host file service with faults on chosen entries.
class FaultyFileSystem : public platform::FileSystem {
public:
    using platform::FileSystem::openDirectory;
    FaultyFileSystem() { install(this); }
    ~FaultyFileSystem() override { install(nullptr); }

    // errno values to fail with, by entry name (host bytes); for openFails,
    // by the end of the folder's host path.
    std::map<std::string, int> probeFails, copyFails, attributeFails, openFails;
    // The data moved by copies fails with this errno once `failAfter` bytes went through.
    int failTransferWith = 0;
    int64_t failAfter = 0;
    int64_t moved = 0;
    int copies = 0;
    // Called before each copy with the entry name.
    std::function<void(const std::string&)> beforeCopy;

    platform::Directory openDirectory(const platform::Directory& parent,
                                      const std::string& name) override;
    platform::FileInfo probe(const platform::Directory& dir, const std::string& name) override;
    platform::FileInfo attributes(const platform::Directory& dir, const std::string& name) override;
    bool copyFile(const platform::Directory& fromDir, const std::string& from,
                  const platform::Directory& toDir, const std::string& to,
                  const Progress& progress) override;

protected:
    ssize_t transfer(int in, int out, size_t count, bool& kernelCopy) override;
};
