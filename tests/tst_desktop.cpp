// The main window on a real X server framed by a window manager (run under
// scripts/with-xvfb --wm): what the manager makes of the window and its
// dialogs, and the focus as the screen shows it.

#include "support/testsupport.h"

#include "platform/messagebox.h"
#include "platform/progresswindow.h"
#include "ui/controls.h"
#include "ui/frm_copy.h"
#include "ui/windowservices.h"

#include <QApplication>
#include <QDir>
#include <QLabel>
#include <QMessageBox>
#include <QProcess>
#include <QProgressDialog>
#include <QRegularExpression>
#include <QScreen>
#include <QTest>
#include <QTimer>

using namespace platform;
using namespace ui;

namespace {

// A property of an X window as xprop prints it, without its name.
QString xprop(WId window, const char* property) {
    QProcess p;
    p.start(u"xprop"_s, {u"-id"_s, QString::number(window), QString::fromLatin1(property)});
    p.waitForFinished(5000);
    const QString out = QString::fromUtf8(p.readAllStandardOutput()).trimmed();
    static const QRegularExpression afterName(u"^[^=:]*[=:]"_s);
    return QString(out).remove(afterName).trimmed();
}

// Whether the window manager has taken the window in (it then lists what
// the window allows), letting events through meanwhile.
bool managed(QWidget& window) {
    return QTest::qWaitFor(
        [&] { return xprop(window.winId(), "_NET_WM_ALLOWED_ACTIONS").contains(u"CLOSE"_s); },
        10000);
}

// What the manager makes of a dialog.
struct Dialog {
    QString type, transientFor, actions, icon;
    QFont textFont;
};

Dialog seen(QWidget& dialog) {
    Dialog d;
    if (!managed(dialog))
        return d;
    d.type = xprop(dialog.winId(), "_NET_WM_WINDOW_TYPE");
    d.transientFor = xprop(dialog.winId(), "WM_TRANSIENT_FOR");
    d.actions = xprop(dialog.winId(), "_NET_WM_ALLOWED_ACTIONS");
    d.icon = xprop(dialog.winId(), "_NET_WM_ICON");
    if (const auto* label = dialog.findChild<QLabel*>(u"qt_msgbox_label"_s))
        d.textFont = label->font();
    return d;
}

// The box that `open` shows, as the manager sees it, closed right after.
Dialog boxSeen(const std::function<void()>& open) {
    Dialog d;
    QTimer::singleShot(0, [&] {
        QWidget* box = nullptr;
        if (!QTest::qWaitFor([&] { return (box = QApplication::activeModalWidget()) != nullptr; }))
            return;
        d = seen(*box);
        QMetaObject::invokeMethod(box, "reject", Qt::QueuedConnection);
    });
    open();
    return d;
}

QString windowId(const QWidget& w) {
    return u"0x"_s + QString::number(w.winId(), 16);
}

} // namespace

class TestDesktop : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void init() {
        m_saved = QDir::currentPath();
        m_drives = std::make_unique<TempDrives>();
        QDir::setCurrent(m_drives->host(u"C:\\PROG"_s));
        m_form = std::make_unique<Frm_Copy>();
        m_form->Form_Load();
        QVERIFY(QTest::qWaitForWindowExposed(m_form.get()));
        QVERIFY(managed(*m_form));
    }
    void cleanup() {
        m_form.reset();
        m_drives.reset();
        QDir::setCurrent(m_saved);
    }

    void boxesAreDialogsOfTheWindow() {
        Frm_Copy& f = *m_form;
        QVERIFY(!xprop(f.winId(), "_NET_WM_ALLOWED_ACTIONS").contains(u"MAXIMIZE"_s));
        const QString icon = xprop(f.winId(), "_NET_WM_ICON");
        QVERIFY(icon.contains(u"16 x 16"_s));

        const auto check = [&](const Dialog& d, const QString& what) {
            QVERIFY2(d.type.startsWith(u"_NET_WM_WINDOW_TYPE_DIALOG"_s), qPrintable(what + d.type));
            QVERIFY2(d.transientFor.endsWith(windowId(f)), qPrintable(what + d.transientFor));
            QVERIFY2(!d.actions.contains(u"MAXIMIZE"_s) && !d.actions.contains(u"RESIZE"_s),
                     qPrintable(what + d.actions));
            QVERIFY2(d.icon == icon, qPrintable(what + u" icon: "_s + d.icon.left(40)));
        };
        // The help box, in the window's own face.
        const Dialog help = boxSeen([&] { f.cmdAjuda_Click(); });
        check(help, u"help: "_s);
        QCOMPARE(help.textFont.family(), f.font().family());
        QCOMPARE(help.textFont.pixelSize(), f.font().pixelSize());
        // An error box, which the engine shows without naming an owner.
        check(boxSeen([] {
                  MessageBox::show(u"Diretório de destino inexistente! (erro 76)"_s,
                                   MbOk | MbCritical, u"Erro de Cópia"_s);
              }),
              u"error: "_s);

        // The progress window of a large copy.
        const auto progress = ProgressWindow::open(u"big.dat"_s);
        QProgressDialog* dialog = nullptr;
        QVERIFY(QTest::qWaitFor([&] {
            progress->update(10);
            for (QWidget* w : QApplication::topLevelWidgets())
                if (auto* d = qobject_cast<QProgressDialog*>(w); d && d->isVisible())
                    dialog = d;
            return dialog != nullptr;
        }));
        check(seen(*dialog), u"progress: "_s);
    }

    void focusIsFramed() {
        // The folder list's current entry, on the screen, with and without
        // the focus: a frame of one colour all round, at 3:1 at least against
        // the list and against the entry's own fill.
        Frm_Copy& f = *m_form;
        auto& c = f.ui;
        QApplication::setActiveWindow(&f);
        QVERIFY(QTest::qWaitForWindowActive(&f));
        c.Drive2->setFocus(Qt::TabFocusReason);
        QTest::keyClick(c.Drive2, Qt::Key_Tab);
        QTRY_VERIFY(c.Dir2->hasFocus());
        const QRect row = c.Dir2->visualItemRect(c.Dir2->currentItem())
                              .translated(c.Dir2->viewport()->mapToGlobal(QPoint()) -
                                          f.screen()->geometry().topLeft());
        const auto ring = [&](const QImage& shot) {
            QList<QColor> colours;
            for (int i = 0; i < 2; ++i) {
                for (int x = row.left(); x <= row.right(); ++x)
                    colours << shot.pixelColor(x, row.top() + i)
                            << shot.pixelColor(x, row.bottom() - i);
                for (int y = row.top(); y <= row.bottom(); ++y)
                    colours << shot.pixelColor(row.left() + i, y)
                            << shot.pixelColor(row.right() - i, y);
            }
            return colours;
        };
        const auto shot = [&] {
            QTest::qWait(300); // painted, and on the server
            return f.screen()->grabWindow(0).toImage();
        };
        const QImage focused = shot();
        const QList<QColor> frame = ring(focused);
        const QColor mark = frame.first();
        QCOMPARE(frame.count(mark), frame.size());
        const QColor below = focused.pixelColor(row.center().x(), row.bottom() + 3);
        const QColor fill = focused.pixelColor(row.right() - 6, row.center().y());
        QVERIFY2(contrastRatio(mark, below) >= 3 && contrastRatio(mark, fill) >= 3,
                 qPrintable(mark.name() + u" by "_s + below.name() + u" and "_s + fill.name()));

        // The frame is the focus's: it goes with it.
        c.File2->setFocus(Qt::TabFocusReason);
        QTRY_VERIFY(!c.Dir2->hasFocus());
        QVERIFY(ring(shot()).count(mark) < frame.size() / 2);
    }

private:
    QString m_saved;
    std::unique_ptr<TempDrives> m_drives;
    std::unique_ptr<Frm_Copy> m_form;
};

int main(int argc, char* argv[]) {
    // What the window remembers goes to a configuration of the test's own.
    QTemporaryDir configuration;
    qputenv("XDG_CONFIG_HOME", QFile::encodeName(configuration.path()));
    QApplication app(argc, argv);
    QApplication::setStyle(u"Windows"_s); // the program's
    ui::installWindowServices();
    TestDesktop test;
    QTEST_SET_MAIN_SOURCE_PATH
    return QTest::qExec(&test, argc, argv);
}
#include "tst_desktop.moc"
