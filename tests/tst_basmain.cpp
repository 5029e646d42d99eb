// The start-up sequence, offscreen: the splash before the main window, the
// pause that keeps both responsive, the pointer, and failures on the way.

#include "support/testsupport.h"

#include "app/basmain.h"
#include "platform/diskspace.h"
#include "platform/errors.h"
#include "ui/controls.h"
#include "ui/frm_copy.h"
#include "ui/frm_splash.h"

#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QTest>
#include <QWindow>
#include <ctime>

using namespace platform;
using namespace ui;

namespace {

// Records when the windows come, go and paint, and when the splash timer
// ticks, in seconds since the recorder was made.
class Timeline : public QObject {
public:
    Timeline() {
        m_clock.start();
        qApp->installEventFilter(this);
    }
    ~Timeline() override { qApp->removeEventFilter(this); }
    double now() const { return m_clock.nsecsElapsed() / 1e9; }

    double splashShown = -1, mainShown = -1, splashGone = -1;
    double repaintAsked = -1, repaintDone = -1;
    std::vector<double> ticks;

protected:
    bool eventFilter(QObject* watched, QEvent* event) override {
        const QString name = watched->objectName();
        if (event->type() == QEvent::Show && name == u"frmSplash"_s && splashShown < 0)
            splashShown = now();
        if (event->type() == QEvent::Show && name == u"Frm_Copy"_s && mainShown < 0)
            mainShown = now();
        if (event->type() == QEvent::Timer && name == u"Timer1"_s)
            ticks.push_back(now());
        if (event->type() == QEvent::Paint && name == u"frmSplash"_s && repaintAsked >= 0 &&
            repaintDone < 0)
            repaintDone = now();
        return false;
    }

private:
    QElapsedTimer m_clock;
};

} // namespace

class TestBasMain : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void init() {
        m_drives = std::make_unique<TempDrives>();
        writeFile(m_drives->host(u"C:\\PROG\\cad.dat"_s), "cad");
        QDir::setCurrent(m_drives->host(u"C:\\PROG"_s));
        installDiskSpaceQuery([](const QString&, DiskSpace& space) {
            space.totalFree = 1048576;
            return true;
        });
    }
    void cleanup() {
        basMain::UnloadWindows();
        basMain::installStepHook({});
        installDiskSpaceQuery({});
        setMousePointer(0);
        QDir::setCurrent(m_savedCwd);
        m_drives.reset();
    }

    void startsInOrderAndStaysResponsive() {
        BoxRecorder boxes;
        Timeline seen;
        int pointerWithBothShown = -1;
        QWindow* splashOwner = nullptr;
        QObject guard; // drops the calls below if the test ends first
        basMain::installStepHook([&](int step) {
            if (step == 3) {
                connect(basMain::splashWindow(), &QObject::destroyed, &guard,
                        [&] { seen.splashGone = seen.now(); });
                QTimer::singleShot(1000, &guard, [&] {
                    seen.repaintAsked = seen.now();
                    basMain::splashWindow()->update();
                });
            }
            if (step == 6)
                pointerWithBothShown = mousePointer();
            if (step == 7)
                splashOwner = basMain::splashWindow()->windowHandle()->transientParent();
        });
        QElapsedTimer wall;
        wall.start();
        const std::clock_t cpu = std::clock();
        basMain::Main();
        const double cpuSeconds = double(std::clock() - cpu) / CLOCKS_PER_SEC;

        QVERIFY(seen.splashShown >= 0);
        QVERIFY2(seen.mainShown - seen.splashShown > 4.0,
                 qPrintable(QString::number(seen.mainShown - seen.splashShown)));
        QVERIFY(seen.splashGone >= seen.mainShown);
        QCOMPARE(pointerWithBothShown, 11);
        QCOMPARE(splashOwner, basMain::mainWindow()->windowHandle());
        // Events during the pause are handled during it: timer ticks and a repaint.
        const auto duringPause = [&](double t) {
            return t > seen.splashShown && t < seen.mainShown;
        };
        QVERIFY(std::count_if(seen.ticks.begin(), seen.ticks.end(), duringPause) >= 6);
        QVERIFY(duringPause(seen.repaintDone));
        QVERIFY(seen.repaintDone - seen.repaintAsked < 0.5);
        // The processor sleeps through the pause.
        QVERIFY2(cpuSeconds < wall.elapsed() / 2000.0, qPrintable(QString::number(cpuSeconds)));

        QVERIFY(!basMain::splashWindow());
        QVERIFY(basMain::mainWindow()->isVisible());
        QCOMPARE(mousePointer(), 0);
        QVERIFY(!QApplication::overrideCursor());
        QVERIFY(boxes.boxes.empty());
    }

    // The pause ends once more than 4 seconds have passed, even on a clock
    // counting seconds since midnight that passes midnight, or one that fails.
    void pauseEndsOnAnyClock() {
        FakeClock clock;
        clock.step = 0.5;
        basMain::SplashPause();
        QCOMPARE(clock.readings, 10); // the start, then 0.5 ... 4.5 s

        clock.readings = 0;
        clock.step = 0.25;
        clock.midnight = true;
        clock.now = 86398;
        basMain::SplashPause();
        QVERIFY2(clock.readings >= 18 && clock.readings <= 20,
                 qPrintable(QString::number(clock.readings)));

        BoxRecorder boxes;
        clock.failWith = ErrDeviceUnavailable;
        basMain::SplashPause();
        QVERIFY(boxes.boxes.empty());
        QCOMPARE(Err().number, 0);
    }

    void errorEndsMainAtItsStep_data() {
        QTest::addColumn<int>("failing");
        for (int step = 1; step <= 7; ++step)
            QTest::addRow("step %d", step) << step;
    }
    void errorEndsMainAtItsStep() {
        QFETCH(int, failing);
        BoxRecorder boxes;
        FakeClock clock;
        clock.step = 1;
        std::vector<int> steps;
        basMain::installStepHook([&](int step) {
            steps.push_back(step);
            if (step == failing)
                raiseError(ErrDeviceUnavailable);
        });
        basMain::Main();

        std::vector<int> expected(failing);
        std::iota(expected.begin(), expected.end(), 1);
        QCOMPARE(steps, expected);
        QCOMPARE(boxes.boxes.size(), size_t(1));
        QCOMPARE(boxes.boxes[0].prompt, u"68 - "_s + describe(ErrDeviceUnavailable));
        QCOMPARE(boxes.boxes[0].title, u"ERRO"_s);
        QCOMPARE(boxes.boxes[0].style, int(MbOk | MbCritical));
        QCOMPARE(basMain::mainWindow() != nullptr, failing > 4);
        QCOMPARE(basMain::splashWindow() != nullptr, failing > 1); // stays on screen
        if (failing > 1)
            QCOMPARE(basMain::splashWindow()->ui.Timer1->isActive(), failing < 7);
        QCOMPARE(Err().number, 0);
    }

private:
    std::unique_ptr<TempDrives> m_drives;
    QString m_savedCwd = QDir::currentPath();
};

QTEST_MAIN(TestBasMain)
#include "tst_basmain.moc"
