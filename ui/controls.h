#pragma once
// The window controls the program's windows are built from, as thin Qt
// widgets. Values set from code raise the same change or click signal as the
// operator would, synchronously, so the connected handler runs nested before
// the statement after the assignment.

#include <QCheckBox>
#include <QComboBox>
#include <QElapsedTimer>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QProgressBar>
#include <QPushButton>
#include <QRect>
#include <QTimer>
#include <functional>

#include "ui/listbox.h"

namespace ui {

// Geometry is given in twips; the screen has 15 twips to the pixel.
constexpr int TwipsPerPixel = 15;
constexpr int pixels(int twips) {
    return twips / TwipsPerPixel;
}
inline QRect twipsRect(int left, int top, int width, int height) {
    return QRect(pixels(left), pixels(top), pixels(width), pixels(height));
}

// Creates a control on a window, named and placed. Its size is fixed, so a
// new text causes no layout work; a window that shrinks to fit a small
// screen scales it (scaleControls).
template <class Control, class... Args>
Control* place(QWidget* parent, const char* name, QRect geometry, Args&&... args) {
    auto* control = new Control(std::forward<Args>(args)..., parent);
    control->setObjectName(QLatin1String(name));
    control->setGeometry(geometry);
    control->setFixedSize(geometry.size());
    control->setProperty("pelivorPlaced", true);
    return control;
}

// The contrast of two colours, from 1 to 21, as accessibility guidelines
// measure it: 4.5 for text, 3 for large text and marks.
double contrastRatio(const QColor& a, const QColor& b);

// A control's text colour.
void setForeColor(QWidget* control, const QColor& colour);
// The colour a control shows its text in while it is disabled.
void setDisabledForeColor(QWidget* control, const QColor& colour);

// The drive list: one entry "c: [description]" per drive of the drive table.
// It follows the volumes mounted and unmounted while it lives, and reads the
// mount table again whenever the operator opens it.
class DriveListBox : public QComboBox {
    Q_OBJECT
public:
    explicit DriveListBox(QWidget* parent = nullptr);

    // The current drive as letter, colon and description.
    QString drive() const;
    // Takes the drive letter at the start of any text such as "D:\BACKUP";
    // a text without one, or a letter that names no drive, raises ErrDeviceUnavailable. The
    // drive already current raises no change.
    void setDrive(const QString& text);
    // Reads the drive table again.
    void refresh();
    // Reads the drive table again and opens the list, wide enough for its
    // longest entry.
    void showPopup() override;

Q_SIGNALS:
    // A new drive set from code, or any drive the operator chose, the current
    // one included.
    void change();

private:
    void choose(int index);
    void fill();
    QChar m_letter;
};

// The directory list: the chain of folders from the drive root down to the
// current one, each indented a step more, above the current one's subfolders.
// Double-click or Enter opens a folder; typing a letter moves to the next
// folder whose name starts with it.
class DirListBox : public ListBox {
    Q_OBJECT
public:
    explicit DirListBox(QWidget* parent = nullptr);

    // "C:\" at a root, no trailing "\" elsewhere.
    QString path() const { return m_path; }
    // A full path, or a drive ("d:", "d: [label]") for that drive's current
    // directory; raises `change` once done. A folder that cannot be read
    // raises its error number and leaves the list as it was.
    void setPath(const QString& path);

Q_SIGNALS:
    void change();
    // An opening chosen by the operator failed; the error is recorded.
    void failed();

private:
    void open(QListWidgetItem* item);
    QString m_path;
};

// The file list: the files of a folder, hidden and system entries left out.
class FileListBox : public ListBox {
    Q_OBJECT
public:
    explicit FileListBox(QWidget* parent = nullptr);
    QString path() const { return m_path; }
    void setPath(const QString& path); // raises when the folder cannot be read

private:
    QString m_path;
};

// Shows the latest of a fast-changing value at most once per interval: the
// first change at once, later ones when the interval is over. A screen shows
// no more anyway, and a copy that writes a status text per file then pays
// for a few paints a second instead of one per event pump.
class Throttle : public QObject {
    Q_OBJECT
public:
    Throttle(std::function<void()> show, int intervalMs, QObject* parent);
    void changed();
    void flush(); // shows a pending change now

private:
    std::function<void()> m_show;
    int m_interval;
    QTimer m_timer;
    QElapsedTimer m_shown;
};

class Label : public QLabel {
    Q_OBJECT
public:
    explicit Label(const QString& caption = QString(), QWidget* parent = nullptr);
    explicit Label(QWidget* parent) : Label(QString(), parent) {}
    QString caption() const { return m_caption; }
    void setCaption(const QString& caption);
    // Paints the caption at once, not at the next event pump.
    void refresh();
    // Shows the caption's access key, which moves the focus to the first
    // control after the label in tab order that can take it.
    void enableAccessKey();
    // For a status line that changes per file: its caption is kept at once
    // and shown at most every `intervalMs`.
    void setLive(int intervalMs);
    void flush();
    // For a line that shows paths: a caption wider than the label loses
    // characters in its middle rather than its end, so the file name stays;
    // the label's accessible name keeps the whole caption.
    void setElideMiddle();

protected:
    bool event(QEvent* event) override;

private:
    void display(const QString& caption);
    QString m_caption; // with its "&" access-key marks
    Throttle* m_throttle = nullptr;
    bool m_elide = false;
};

// A text box. A text wider than the box is shown, while the box does not
// have the focus, with characters left out of its middle: a path keeps its
// drive and its last name. The text itself stays whole.
class TextBox : public QLineEdit {
    Q_OBJECT
public:
    using QLineEdit::QLineEdit;
    // The text as the box shows it now.
    QString shownText() const;

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    static constexpr int TextMargin = 2; // the line edit's own, left and right
};

// A check box valued 0 or 1. `clickEvent` follows every real change of value,
// whether the operator or code made it.
class CheckBox : public QCheckBox {
    Q_OBJECT
public:
    explicit CheckBox(const QString& caption, QWidget* parent = nullptr);
    int value() const { return isChecked() ? 1 : 0; }
    void setValue(int value) { setChecked(value != 0); }

Q_SIGNALS:
    void clickEvent();
};

// A command button: Enter clicks it as Space does.
class CommandButton : public QPushButton {
    Q_OBJECT
public:
    using QPushButton::QPushButton;

protected:
    void keyPressEvent(QKeyEvent* event) override;
};

class Frame : public QGroupBox {
    Q_OBJECT
public:
    using QGroupBox::QGroupBox;
};

// A timer whose interval 0 stops it.
class Timer : public QTimer {
    Q_OBJECT
public:
    using QTimer::QTimer;
    void setIntervalMs(int ms);
};

class Image : public QLabel {
    Q_OBJECT
public:
    using QLabel::QLabel;
};

// The fill bar: a percentage from 0 to 100.
class ProgressPanel : public QProgressBar {
    Q_OBJECT
public:
    explicit ProgressPanel(QWidget* parent = nullptr);
    void setFloodPercent(int percent);
};

// The application's mouse pointer: 0 default, 11 hourglass. One state, so a
// pointer set twice is restored by one reset.
// Mouse pointers.
constexpr int PointerDefault = 0;
constexpr int PointerHourglass = 11;
void setMousePointer(int pointer);
int mousePointer();

} // namespace ui
