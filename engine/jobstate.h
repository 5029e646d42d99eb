#pragma once
// The state that the engine and the main window share: the three module
// variables and the window model through which the engine sees the window.

#include <QString>
#include <cstdint>
#include <string>

class QObject;

namespace TRAVO1 {

// Truth values as the program passes them: -1 true, 0 false.
constexpr int16_t True = -1;
constexpr int16_t False = 0;

// Stop request: the ESC key sets it to 1; the tree copy winds down on 1.
extern uint8_t StopFlag;
// An entry's name as the host keeps it, made text only when it is read: a
// walk sets one for every entry and reads few.
class EntryName {
public:
    EntryName& operator=(const std::string& hostName);
    EntryName& operator=(const QString& text);
    void clear();
    QString text() const;

private:
    std::string m_host;
    QString m_text; // when set as text
};

// The name the directory listing returned last, at any level.
extern EntryName CurrentName;
// The destination of the most recently started run, for the run log.
extern QString DestPath;

// The main window as the engine sees it: the inputs a run reads and the
// outputs it writes, named after the window's controls. The real window and
// the tests' recording window implement it.
class WindowModel {
public:
    virtual ~WindowModel() = default;

    // Inputs, read by the Copy command.
    virtual QString txtFrom() const = 0;
    virtual QString txtTo() const = 0;
    virtual QString txtPattern() const = 0;
    virtual int16_t chkRecourse() const = 0;

    // Outputs.
    virtual void setCmdCopyEnabled(bool enabled) = 0;
    virtual void setLabel12Visible(bool visible) = 0; // "Tecle ESC para parar"
    virtual void setLblHoraIni(const QString& caption) = 0;
    virtual void setLblHoraFin(const QString& caption) = 0;
    virtual void setLblCopyInfo(const QString& caption) = 0; // the status line
    virtual QString lblCopyInfo() const = 0;                 // read back by the run log
    virtual void repaintLblCopyInfo() = 0;
    virtual void setLblCopyInfo2(const QString& caption) = 0; // the target line
    virtual void setCaption(const QString& caption) = 0;      // the window title
    virtual void setLblCopyInfo1Flood(int16_t percent) = 0;   // the progress panel
    virtual void setMousePointer(int pointer) = 0;            // 0 default, 11 hourglass
    // The texts of the file in hand: the status line "Copiando De: "
    // `sourceDir` and the name, the target line and the title "Para: "
    // `destDir` and the name. A window that shows them only now and then
    // composes them only then; this one sets all three at once.
    virtual void showCopying(const QString& sourceDir, const QString& destDir,
                             const std::string& name);
    // The status line while the copy of the file in hand, `destDir` and the
    // name, is compared with its source: "Verificando " and the copy. Only
    // after a run that did not finish, so composed at once.
    void showVerifying(const QString& destDir, const std::string& name);
    // A file has reached the destination; the command line counts them.
    virtual void fileCopied() {}
    // A warning about a run that goes on, in one line: in the status line
    // (until the run's next text), on standard error from the command line.
    virtual void notice(const QString& text);
    // Owner of the Copy command's message boxes.
    virtual QObject* owner() const = 0;

    // Whether a copy run started from this window has not ended yet.
    bool runInProgress() const { return m_running; }

private:
    friend class RunInProgress;
    bool m_running = false;
};

// Marks a window's run as in progress for its lifetime.
class RunInProgress {
public:
    explicit RunInProgress(WindowModel& w) : m_window(w) { m_window.m_running = true; }
    ~RunInProgress() { m_window.m_running = false; }
    RunInProgress(const RunInProgress&) = delete;
    RunInProgress& operator=(const RunInProgress&) = delete;

private:
    WindowModel& m_window;
};

// What showCopying() is given, kept by a window that composes the texts
// only when it shows them.
struct FileInHand {
    QString sourceDir, destDir;
    std::string name;
    bool pending = false; // given since the texts were last composed

    void set(const QString& source, const QString& dest, const std::string& hostName);
    QString status() const; // "Copiando De: " ...
    QString target() const; // "Para: " ...
};

// Mouse pointers.
constexpr int PointerDefault = 0;
constexpr int PointerHourglass = 11;

} // namespace TRAVO1
