#include "bench/runner.h"

#include "engine/copycommand.h"
#include "engine/statustexts.h"
#include "platform/drives.h"
#include "platform/events.h"
#include "platform/files.h"
#include "platform/messagebox.h"
#include "ui/frm_copy.h"

#include <QDir>
#include <QFile>
#include <QProcess>
#include <QTimer>
#include <chrono>
#include <optional>
#include <stdexcept>

namespace bench {

namespace {

// A run's events kept as the window keeps them between two repaints: the
// file in hand as its parts, the other texts as they come.
class Headless : public TRAVO1::RunObserver {
public:
    void fileInHand(const QString& sourceDir, const QString& destDir,
                    const std::string& name) override {
        m_file.set(sourceDir, destDir, name);
    }
    void levelFailed(const platform::RecordedError& error) override {
        m_status = TRAVO1::levelFailedText(error);
    }
    void errorReported(const platform::RecordedError& error) override {
        m_status = TRAVO1::reportedText(error.number);
    }
    void runEnded(const TRAVO1::RunResult& result) override {
        if (result.end == TRAVO1::RunEnd::Completed)
            m_status = TRAVO1::completedText(result.at);
    }
    QString status() const { return m_status; }

private:
    QString m_status;
    TRAVO1::FileInHand m_file;
};

class HeadlessFront : public Front {
public:
    HeadlessFront(const QString& from, const QString& to)
        : m_request{from, to, QStringLiteral("*.*"), true} {}
    QString run() override {
        TRAVO1::CopyCommand(m_request, m_events);
        return m_events.status();
    }

private:
    TRAVO1::RunRequest m_request;
    Headless m_events;
};

class WindowFront : public Front {
public:
    WindowFront(const QString& from, const QString& to) {
        m_form.ui.txtFrom->setText(from);
        m_form.ui.txtTo->setText(to);
        m_form.ui.chkRecourse->setValue(1);
        m_form.show();
        platform::pumpEvents(); // painted once, as a window on the screen already is
    }
    QString run() override {
        m_form.cmdCopy_Click();
        return m_form.ui.Lbl_CopyInfo->caption();
    }

private:
    Frm_Copy m_form;
};

// The host's file services, but never a pool of workers: Pelivor on one
// thread, the yardstick of what the pool gains.
class OneThread : public platform::FileSystem {
public:
    bool asksAhead(const platform::Directory&, const platform::Directory&) override {
        return false;
    }
};

QString drivePath(const std::string& hostPath) {
    return platform::DriveTable::current().toDrivePath(hostPath);
}

} // namespace

void resetPeakMemory() {
    QFile f(QStringLiteral("/proc/self/clear_refs"));
    if (f.open(QIODevice::WriteOnly))
        f.write("5");
}

int64_t peakMemory() {
    QFile f(QStringLiteral("/proc/self/status"));
    if (!f.open(QIODevice::ReadOnly))
        return 0;
    for (const QByteArray& line : f.readAll().split('\n'))
        if (line.startsWith("VmHWM:"))
            return line.mid(6).trimmed().split(' ').value(0).toLongLong() * 1024;
    return 0;
}

std::unique_ptr<Front> headlessWindow(const QString& from, const QString& to) {
    return std::make_unique<HeadlessFront>(from, to);
}

std::unique_ptr<Front> mainWindow(const QString& from, const QString& to) {
    return std::make_unique<WindowFront>(from, to);
}

Peer pelivorPeer(const QString& name, WindowFactory makeWindow, bool oneThread) {
    Peer peer;
    peer.name = name;
    peer.verified = true;
    peer.inProcess = true;
    const auto window = std::make_shared<std::unique_ptr<Front>>();
    peer.prepare = [makeWindow, window](const std::string& source, const std::string& destination) {
        window->reset();
        *window = makeWindow(drivePath(source), drivePath(destination));
    };
    peer.copy = [window, oneThread](const std::string&, const std::string&) {
        static OneThread single;
        struct Installed { // the host's again however the run ends
            explicit Installed(platform::FileSystem* fs) { platform::FileSystem::install(fs); }
            ~Installed() { platform::FileSystem::install(nullptr); }
        } installed(oneThread ? &single : nullptr);
        const QString status = (*window)->run();
        if (!status.startsWith(QStringLiteral("Cópia Atualizada")))
            throw std::runtime_error("Pelivor ended with \"" + status.toStdString() + '"');
    };
    return peer;
}

double millisecondsToStop(const std::string& source, const std::string& destination, int afterMs) {
    using Clock = std::chrono::steady_clock;
    const auto window = headlessWindow(drivePath(source), drivePath(destination));
    std::optional<Clock::time_point> pressed;
    // Owned here, so that a key not pressed before the run ended goes with
    // it and cannot stop a later run.
    QTimer key;
    key.setSingleShot(true);
    QObject::connect(&key, &QTimer::timeout, [&] {
        TRAVO1::StopFlag = 1;
        pressed = Clock::now();
    });
    key.start(afterMs);
    window->run();
    const auto ended = Clock::now();
    TRAVO1::StopFlag = 0;
    if (!pressed)
        return -1;
    return std::chrono::duration<double, std::milli>(ended - *pressed).count();
}

Peer commandPeer(const QString& name, const QString& program, const QStringList& arguments) {
    Peer peer;
    peer.name = name;
    peer.copy = [program, arguments](const std::string& source, const std::string& destination) {
        QProcess process;
        process.setProcessChannelMode(QProcess::ForwardedChannels);
        process.start(program, arguments + QStringList{QFile::decodeName(source.c_str()),
                                                       QFile::decodeName(destination.c_str())});
        if (!process.waitForFinished(-1) || process.exitStatus() != QProcess::NormalExit ||
            process.exitCode() != 0)
            throw std::runtime_error(program.toStdString() +
                                     " failed: " + process.errorString().toStdString());
    };
    return peer;
}

Peer floorPeer(const QString& name, FloorKind kind) {
    Peer peer;
    peer.name = name;
    peer.verified = true;
    peer.copy = [kind](const std::string& source, const std::string& destination) {
        floorCopy(source, destination, kind);
    };
    return peer;
}

Peer syncedPeer(Peer peer) {
    peer.name += QStringLiteral("+sync");
    peer.copy = [copy = peer.copy](const std::string& source, const std::string& destination) {
        copy(source, destination);
        if (QProcess::execute(QStringLiteral("sync"),
                              {QStringLiteral("-f"), QFile::decodeName(destination.c_str())}) != 0)
            throw std::runtime_error("sync -f failed on " + destination);
    };
    return peer;
}

void installDrives(const std::string& programDrive, const std::string& sources,
                   const std::string& destinations) {
    using platform::Drive;
    QDir().mkpath(QFile::decodeName((programDrive + "/PROG").c_str()));
    platform::DriveTable::install(platform::DriveTable({
        Drive{QLatin1Char('C'), programDrive, QStringLiteral("programa")},
        Drive{QLatin1Char('D'), destinations, QStringLiteral("destinos")},
        Drive{QLatin1Char('S'), sources, QStringLiteral("origens")},
    }));
    platform::setProgramFolder(QStringLiteral("C:\\PROG"));
    platform::MessageBox::install([](const platform::MessageRequest& box) -> int {
        throw std::runtime_error("message box: " + box.prompt.toStdString());
    });
}

} // namespace bench
