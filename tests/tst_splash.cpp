// The splash window, offscreen: its picture, the filling bar,
// the minimum display time, the hourglass it owns and its error boxes.

#include "support/testsupport.h"

#include "platform/errors.h"
#include "ui/controls.h"
#include "ui/frm_splash.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QTest>
#include <ctime>

using namespace platform;
using namespace ui;

class TestSplash : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void cleanup() { setMousePointer(0); }

    // The picture lies beneath every other control, the timer runs and the
    // hourglass shows while the program loads.
    void loadPutsThePictureBeneathAndShowsTheHourglass() {
        BoxRecorder boxes;
        frmSplash splash;
        splash.Form_Load();
        const frmSplashControls& c = splash.ui;
        QCOMPARE(splash.findChildren<QWidget*>(Qt::FindDirectChildrenOnly).first(),
                 c.BackgroundPicture);
        QVERIFY(c.Timer1->isActive());
        QCOMPARE(mousePointer(), 11);
        QVERIFY(boxes.boxes.empty());
    }

    void timerPumpsThenFillsTheBar() {
        frmSplash splash;
        splash.Form_Load();
        splash.ui.Timer1->stop(); // ticks by hand
        bool pumped = false, pumpedFirst = false;
        QList<int> values;
        connect(splash.ui.SSP1, &QProgressBar::valueChanged, &splash, [&](int value) {
            if (values.isEmpty())
                pumpedFirst = pumped;
            values << value;
        });
        QObject guard;
        QTimer::singleShot(0, &guard, [&] { pumped = true; });
        splash.Timer1_Timer();
        QVERIFY(pumpedFirst);
        values.clear();
        splash.Timer1_Timer(); // from full back to empty, then full again in one pass
        QList<int> expected;
        for (int percent = 0; percent <= 100; percent += 2)
            expected << percent;
        QCOMPARE(values, expected);
    }

    void closeWaitsThreeSecondsAsleep() {
        frmSplash splash;
        splash.Form_Load();
        splash.show();
        bool dispatched = false;
        QObject guard; // drops the call if the test ends first
        QTimer::singleShot(0, &guard, [&] { dispatched = true; });
        QElapsedTimer wall;
        wall.start();
        const std::clock_t cpu = std::clock();
        splash.close();
        const double seconds = wall.elapsed() / 1000.0;
        const double cpuSeconds = double(std::clock() - cpu) / CLOCKS_PER_SEC;
        QVERIFY2(seconds > 2.9 && seconds < 4.0, qPrintable(QString::number(seconds)));
        QVERIFY2(cpuSeconds < 0.5, qPrintable(QString::number(cpuSeconds))); // asleep, not spinning
        QVERIFY(!dispatched); // no event is dispatched during the wait
        QVERIFY(splash.isHidden());
        QCOMPARE(mousePointer(), 0);
        QVERIFY(!QApplication::overrideCursor());
    }

    void closeOnAnInstalledClock() {
        FakeClock clock;
        {
            frmSplash later;
            later.Form_Load();
            clock.now += 10;
            const int before = clock.readings;
            later.close();
            QCOMPARE(clock.readings - before, 1); // at once
        }
        // Loaded just before midnight on a clock that counts seconds since midnight.
        clock.midnight = true;
        clock.now = 86399.5;
        frmSplash splash;
        splash.Form_Load();
        const int before = clock.readings;
        splash.close();
        QVERIFY2(clock.readings - before >= 13 && clock.readings - before <= 16,
                 qPrintable(QString::number(clock.readings - before)));
        QCOMPARE(mousePointer(), 0);
    }

    // Each failing handler shows one box, "description (number)", titled
    // "Pelivor Error". A failed wait still gives the pointer back.
    void failuresShowOneBoxEach() {
        BoxRecorder boxes;
        FakeClock clock;
        const QString expected = describe(ErrDeviceUnavailable) + u" (68)"_s;
        {
            clock.failWith = ErrDeviceUnavailable;
            frmSplash splash;
            splash.Form_Load(); // its last step reads the clock
            QCOMPARE(boxes.boxes.size(), size_t(1));
            QCOMPARE(mousePointer(), 11);
            splash.close(); // the load time is unknown: no wait, no box
            QCOMPARE(boxes.boxes.size(), size_t(1));
            QCOMPARE(mousePointer(), 0);
        }
        clock.failWith = 0;
        frmSplash splash;
        splash.Form_Load();
        clock.failWith = ErrDeviceUnavailable;
        splash.close();
        QCOMPARE(boxes.boxes.size(), size_t(2));
        for (const MessageRequest& box : boxes.boxes) {
            QCOMPARE(box.prompt, expected);
            QCOMPARE(box.title, u"Pelivor Error"_s);
            QCOMPARE(box.style, int(MbOk | MbCritical));
        }
        QCOMPARE(mousePointer(), 0);
        QVERIFY(!QApplication::overrideCursor());
    }
};

QTEST_MAIN(TestSplash)
#include "tst_splash.moc"
