#include "ui/controls.h"
#include "platform/drives.h"
#include "platform/errors.h"
#include "platform/files.h"
#include "platform/mountwatch.h"

#include <QApplication>
#include <QFile>
#include <QKeyEvent>
#include <QListView>
#include <QPainter>
#include <QScreen>
#include <QStandardItemModel>
#include <QStyle>
#include <QStyleOptionFrame>
#include <algorithm>
#include <cmath>
#include <sys/stat.h>

namespace ui {

using namespace platform;

namespace {

constexpr int PathRole = Qt::UserRole;

bool namesDrive(const QString& text) {
    return text.size() >= 2 && text[1] == QLatin1Char(':') && text[0].isLetter();
}

QString stripMnemonic(QString caption) {
    caption.replace(QStringLiteral("&&"), QStringLiteral("\x01"));
    caption.remove(QLatin1Char('&'));
    return caption.replace(QLatin1Char('\x01'), QLatin1Char('&'));
}

void sortNames(QStringList& names) {
    std::sort(names.begin(), names.end(), [](const QString& a, const QString& b) {
        return QString::compare(a, b, Qt::CaseInsensitive) < 0;
    });
}

// The names a listing of a folder gives, folders or files, sorted.
QStringList namesIn(const std::string& hostFolder, bool folders) {
    FileSystem& fs = FileSystem::get();
    QStringList names;
    for (const DirEntry& e : fs.list(fs.openDirectory(hostFolder), QStringLiteral("*.*"),
                                     folders ? AttrDirectory : AttrNormal)) {
        if (e.directory != folders || e.name == "." || e.name == "..")
            continue;
        names.append(platform::hostText(e.name));
    }
    sortNames(names);
    return names;
}

// The drive that a folder path lies on, raising what the operator should see
// when the drive itself cannot be read: ErrDeviceUnavailable gone, ErrDiskNotReady no medium,
// ErrPermissionDenied refused.
const Drive& readableDrive(const QString& path) {
    const Drive* drive = DriveTable::current().find(path[0]);
    if (!drive)
        raiseError(ErrDeviceUnavailable);
    struct stat st {};
    if (::stat(drive->hostRoot.c_str(), &st) != 0) {
        const int err = errno;
        raiseError(err == ENOENT || err == ENOTDIR ? ErrDeviceUnavailable : errorFromErrno(err));
    }
    return *drive;
}

} // namespace

double contrastRatio(const QColor& a, const QColor& b) {
    const auto luminance = [](const QColor& c) {
        const auto channel = [](double v) {
            return v <= 0.03928 ? v / 12.92 : std::pow((v + 0.055) / 1.055, 2.4);
        };
        return 0.2126 * channel(c.redF()) + 0.7152 * channel(c.greenF()) +
               0.0722 * channel(c.blueF());
    };
    const double la = luminance(a), lb = luminance(b);
    return (std::max(la, lb) + 0.05) / (std::min(la, lb) + 0.05);
}

void setForeColor(QWidget* control, const QColor& colour) {
    QPalette p = control->palette();
    p.setColor(QPalette::WindowText, colour);
    p.setColor(QPalette::Text, colour);
    control->setPalette(p);
}

void setDisabledForeColor(QWidget* control, const QColor& colour) {
    QPalette p = control->palette();
    p.setColor(QPalette::Disabled, QPalette::WindowText, colour);
    p.setColor(QPalette::Disabled, QPalette::Text, colour);
    control->setPalette(p);
}

// --- drive list -------------------------------------------------------------

DriveListBox::DriveListBox(QWidget* parent) : QComboBox(parent) {
    nameDropDownsByTheirAccessibleName();
    setView(new TypeAheadListView(this));
    m_letter = DriveTable::current().currentDrive();
    refresh();
    connect(this, &QComboBox::activated, this, &DriveListBox::choose);
    onMountsChanged(this, [this] { fill(); });
}

QString DriveListBox::drive() const {
    return currentText();
}

void DriveListBox::setDrive(const QString& text) {
    const QChar letter = namesDrive(text) ? text[0].toUpper() : QChar();
    if (letter.isNull() || !DriveTable::current().find(letter))
        raiseError(ErrDeviceUnavailable);
    if (letter == m_letter)
        return;
    m_letter = letter;
    fill(); // the table may have been read again since the list was filled
    Q_EMIT change();
}

void DriveListBox::refresh() {
    DriveTable::refresh();
    fill();
}

void DriveListBox::showPopup() {
    refresh();
    // A long description gets room: the opened list is as wide as its widest
    // entry, within the screen.
    QAbstractItemView* list = view();
    int widest = list->sizeHintForColumn(0) + 2 * list->frameWidth() +
                 style()->pixelMetric(QStyle::PM_ScrollBarExtent, nullptr, list);
    if (const QScreen* screen = this->screen())
        widest = std::min(widest, screen->availableGeometry().width());
    list->setMinimumWidth(std::max(width(), widest));
    QComboBox::showPopup();
}

// The entries of the drive table in force.
void DriveListBox::fill() {
    const QString shown = currentText();
    clear();
    for (const Drive& d : DriveTable::current().drives()) {
        QString entry = QString(d.letter.toLower()) + QLatin1Char(':');
        if (!d.description.isEmpty())
            entry += QStringLiteral(" [") + d.description + QLatin1Char(']');
        addItem(entry, d.letter);
    }
    auto* list = qobject_cast<QListView*>(view());
    for (int row = 0; list && row < count(); ++row)
        list->setRowHidden(row, false);
    int index = findData(m_letter);
    if (index < 0 && shown.startsWith(m_letter.toLower())) {
        // The drive shown went: the box keeps saying where the lists point
        // until another drive is chosen, but the list no longer offers it.
        index = 0;
        while (index < count() && itemData(index).toChar() < m_letter)
            ++index;
        insertItem(index, shown, m_letter);
        if (auto* model = qobject_cast<QStandardItemModel*>(this->model()))
            model->item(index)->setEnabled(false);
        if (list)
            list->setRowHidden(index, true);
    }
    if (index >= 0)
        setCurrentIndex(index);
    else if (count() > 0)
        m_letter = itemData(0).toChar();
}

void DriveListBox::choose(int index) {
    m_letter = itemData(index).toChar();
    Q_EMIT change();
}

// --- directory list ---------------------------------------------------------

DirListBox::DirListBox(QWidget* parent) : ListBox(parent) {
    m_path = currentDirectory();
    // A current directory without a drive letter (a network folder) is shown
    // as it stands; the window that owns the list decides what that means.
    const KeepRecordedError kept;
    if (m_path.startsWith(QLatin1Char('\\')) || !resumeNext([&] { setPath(m_path); }))
        addItem(m_path);
    setIconSize(QSize(16, 16));
    connect(this, &QListWidget::itemActivated, this, &DirListBox::open);
}

void DirListBox::setPath(const QString& text) {
    QString target = text;
    if (namesDrive(text) && (text.size() == 2 || text[2] != QLatin1Char('\\')))
        target = currentDirectory(text[0]);
    else if (text.startsWith(QLatin1Char('\\')) && !text.startsWith(QLatin1String("\\\\")))
        target = QString(DriveTable::current().currentDrive()) + QLatin1Char(':') + text;
    if (!namesDrive(target))
        raiseError(ErrPathNotFound);

    const Drive& drive = readableDrive(target);
    const std::string host = DriveTable::current().toHost(target);
    const QStringList subfolders = namesIn(host, true);

    // The path in the folders' real case, on the drive it was given with.
    const std::string rest = host.substr(std::min(host.size(), drive.hostRoot.size()));
    QStringList chain = platform::hostText(rest).split(QLatin1Char('/'), Qt::SkipEmptyParts);
    const QString root = QString(drive.letter) + QStringLiteral(":\\");
    const QString path = root + chain.join(QLatin1Char('\\'));

    clear();
    const QIcon open = style()->standardIcon(QStyle::SP_DirOpenIcon);
    const QIcon closed = style()->standardIcon(QStyle::SP_DirClosedIcon);
    const auto add = [this](const QIcon& icon, int depth, const QString& name,
                            const QString& itemPath) {
        auto* item = new QListWidgetItem(icon, name, this);
        item->setData(PathRole, itemPath);
        item->setData(DepthRole, depth);
        return item;
    };
    QListWidgetItem* current = add(open, 0, root, root);
    QString walked = root;
    for (int i = 0; i < chain.size(); ++i) {
        walked += (i ? QStringLiteral("\\") : QString()) + chain[i];
        current = add(open, i + 1, chain[i], walked);
    }
    for (const QString& name : subfolders)
        add(closed, int(chain.size()) + 1, name,
            path.endsWith(QLatin1Char('\\')) ? path + name : path + QLatin1Char('\\') + name);
    keyboardSearch(QString()); // letters typed next look among these names
    setCurrentItem(current);

    // Every assignment counts as a change, so the lists that follow this one
    // are filled even when it already stood on the folder (a program started
    // in its own folder).
    m_path = path;
    Q_EMIT change();
}

void DirListBox::open(QListWidgetItem* item) {
    try {
        setPath(item->data(PathRole).toString());
    } catch (const Failure&) {
        Q_EMIT failed();
    }
}

// --- file list --------------------------------------------------------------

FileListBox::FileListBox(QWidget* parent) : ListBox(parent) {}

void FileListBox::setPath(const QString& path) {
    const QStringList names = namesIn(DriveTable::current().toHost(path), false);
    clear();
    addItems(names);
    m_path = path;
}

// --- simple controls --------------------------------------------------------

Label::Label(const QString& caption, QWidget* parent) : QLabel(parent), m_caption(caption) {
    setTextFormat(Qt::PlainText); // a file name is never markup
    QLabel::setText(stripMnemonic(caption));
}

void Label::enableAccessKey() {
    // A label with a buddy shows and grabs its access key; the key itself is
    // handled in event(), by the tab order of the moment.
    setBuddy(this);
    QLabel::setText(m_caption);
}

bool Label::event(QEvent* event) {
    if (event->type() != QEvent::Shortcut)
        return QLabel::event(event);
    for (QWidget* w = nextInFocusChain(); w != this; w = w->nextInFocusChain())
        if (w->isEnabled() && w->isVisible() && (w->focusPolicy() & Qt::TabFocus) &&
            w->window() == window()) {
            w->setFocus(Qt::ShortcutFocusReason);
            break;
        }
    return true;
}

void Label::setCaption(const QString& caption) {
    m_caption = caption;
    if (m_throttle)
        m_throttle->changed();
    else
        display(caption);
}

void Label::setElideMiddle() {
    m_elide = true;
    display(m_caption);
}

void Label::display(const QString& caption) {
    if (!m_elide) {
        QLabel::setText(caption);
        return;
    }
    // The start and the end of a path say most: the drive and the file.
    QLabel::setText(fontMetrics().elidedText(caption, Qt::ElideMiddle, contentsRect().width()));
    setAccessibleName(caption);
}

void Label::refresh() {
    flush();
    repaint();
}

void Label::setLive(int intervalMs) {
    m_throttle = new Throttle([this] { display(m_caption); }, intervalMs, this);
}

void Label::flush() {
    if (m_throttle)
        m_throttle->flush();
}

Throttle::Throttle(std::function<void()> show, int intervalMs, QObject* parent)
    : QObject(parent), m_show(std::move(show)), m_interval(intervalMs) {
    m_timer.setSingleShot(true);
    connect(&m_timer, &QTimer::timeout, this, [this] {
        m_show();
        m_shown.start();
    });
}

void Throttle::changed() {
    if (m_timer.isActive())
        return; // shown when the interval is over
    if (!m_shown.isValid() || m_shown.elapsed() >= m_interval) {
        m_show();
        m_shown.start();
        return;
    }
    m_timer.start(int(m_interval - m_shown.elapsed()));
}

void Throttle::flush() {
    if (!m_timer.isActive())
        return;
    m_timer.stop();
    m_show();
    m_shown.start();
}

QString TextBox::shownText() const {
    if (hasFocus())
        return text();
    QStyleOptionFrame panel;
    initStyleOption(&panel);
    const int room =
        style()->subElementRect(QStyle::SE_LineEditContents, &panel, this).width() - 2 * TextMargin;
    return fontMetrics().elidedText(text(), Qt::ElideMiddle, room);
}

void TextBox::paintEvent(QPaintEvent* event) {
    const QString shown = shownText();
    if (shown == text()) {
        QLineEdit::paintEvent(event);
        return;
    }
    QPainter painter(this);
    QStyleOptionFrame panel;
    initStyleOption(&panel);
    style()->drawPrimitive(QStyle::PE_PanelLineEdit, &panel, &painter, this);
    const QRect room = style()
                           ->subElementRect(QStyle::SE_LineEditContents, &panel, this)
                           .adjusted(TextMargin, 0, -TextMargin, 0);
    painter.setPen(
        palette().color(isEnabled() ? QPalette::Active : QPalette::Disabled, QPalette::Text));
    painter.drawText(room, Qt::AlignLeft | Qt::AlignVCenter, shown);
}

void CommandButton::keyPressEvent(QKeyEvent* event) {
    if ((event->key() == Qt::Key_Return || event->key() == Qt::Key_Enter) &&
        (event->modifiers() & ~Qt::KeypadModifier) == Qt::NoModifier) {
        if (!event->isAutoRepeat())
            click();
        return;
    }
    QPushButton::keyPressEvent(event);
}

CheckBox::CheckBox(const QString& caption, QWidget* parent) : QCheckBox(caption, parent) {
    connect(this, &QCheckBox::toggled, this, &CheckBox::clickEvent);
}

void Timer::setIntervalMs(int ms) {
    if (ms == 0) {
        stop();
        return;
    }
    start(ms);
}

ProgressPanel::ProgressPanel(QWidget* parent) : QProgressBar(parent) {
    setRange(0, 100);
    setValue(0);
    setTextVisible(false);
}

void ProgressPanel::setFloodPercent(int percent) {
    setValue(std::clamp(percent, 0, 100));
}

// --- screen -----------------------------------------------------------------

namespace {
int& pointerState() {
    static int pointer = 0;
    return pointer;
}
} // namespace

void setMousePointer(int pointer) {
    const bool busy = pointer == 11;
    const bool wasBusy = pointerState() == 11;
    pointerState() = pointer;
    if (!qobject_cast<QApplication*>(QCoreApplication::instance()) || busy == wasBusy)
        return;
    if (busy)
        QApplication::setOverrideCursor(Qt::WaitCursor);
    else
        QApplication::restoreOverrideCursor();
}

int mousePointer() {
    return pointerState();
}

} // namespace ui
