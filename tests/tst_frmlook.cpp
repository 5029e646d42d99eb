// How the main window reads, offscreen, on temporary drives: long paths, the
// keyboard, its colours and the engraved frame.

#include "support/testsupport.h"
#include "support/window.h"

#include "engine/paintbackground.h"
#include "platform/diskspace.h"
#include "platform/drives.h"
#include "platform/errors.h"
#include "platform/names.h"
#include "platform/regional.h"
#include "ui/controls.h"
#include "ui/frm_copy.h"
#include "ui/windowservices.h"

#include <QApplication>
#include <QDir>
#include <QKeyEvent>
#include <QProcess>
#include <QRegularExpression>
#include <QStyle>
#include <QStyleFactory>
#include <QTest>
#include <memory>

using namespace TRAVO1;
using namespace platform;
using namespace ui;

namespace {

// The strongest contrast that a pixel of `area` makes with the area's most
// common colour, its background: that of its text, where it holds one.
double inkContrast(const QImage& image, const QRect& area) {
    QHash<QRgb, int> counts;
    for (int y = area.top(); y <= area.bottom(); ++y)
        for (int x = area.left(); x <= area.right(); ++x)
            ++counts[image.pixel(x, y)];
    QRgb background = 0;
    for (auto it = counts.cbegin(); it != counts.cend(); ++it)
        if (it.value() > counts.value(background))
            background = it.key();
    double strongest = 1;
    for (auto it = counts.cbegin(); it != counts.cend(); ++it)
        strongest = std::max(strongest, ui::contrastRatio(QColor(it.key()), QColor(background)));
    return strongest;
}

// Records what the painting routine asks of a surface.
struct RecordingSurface : Surface {
    int width = 545, height = 317, mode = 1;
    bool autoRedraw = false;
    QStringList lines;
    void setScaleMode(int m) override { mode = m; }
    void setAutoRedraw(bool on) override { autoRedraw = on; }
    int scaleWidth() const override { return width; }
    int scaleHeight() const override { return height; }
    void line(int x1, int y1, int x2, int y2, int32_t colour, bool box) override {
        lines << u"%1 %2,%3 %4,%5 %6"_s.arg(box ? u"B"_s : u"L"_s)
                     .arg(x1)
                     .arg(y1)
                     .arg(x2)
                     .arg(y2)
                     .arg(colour, 6, 16, QLatin1Char('0'));
    }
};

} // namespace

class TestFrmLook : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void longPaths() {
        // A path wider than its box or line keeps its drive and its last
        // name; only what is shown is shortened.
        Window t;
        const QString deep =
            u"C:\\PROG\\UMA-PASTA-COM-UM-NOME-BEM-COMPRIDO-DE-APLICATIVO\\GRANDE"_s;
        QVERIFY(QDir().mkpath(t.drives.host(deep)));
        setProgramFolder(deep);
        QDir::setCurrent(t.drives.host(deep));
        t.load();
        auto& c = t.ui();
        QCOMPARE(c.txtFrom->text(), deep);
        const QString shown = c.txtFrom->shownText();
        QVERIFY2(shown.startsWith(u"C:\\"_s) && shown.endsWith(u"\\GRANDE"_s), qPrintable(shown));
        QVERIFY(c.txtFrom->fontMetrics().horizontalAdvance(shown) < c.txtFrom->width());

        const QString status = u"Copiando De: "_s + deep + u"\\MOVIMENTO-NUMERO-10426.DAT"_s;
        c.Lbl_CopyInfo->setCaption(status);
        c.Lbl_CopyInfo->flush();
        const QString line = c.Lbl_CopyInfo->text();
        QVERIFY2(line.startsWith(u"Copiando De: C:\\"_s) &&
                     line.endsWith(u"MOVIMENTO-NUMERO-10426.DAT"_s),
                 qPrintable(line));
        QVERIFY(c.Lbl_CopyInfo->fontMetrics().horizontalAdvance(line) <= c.Lbl_CopyInfo->width());
        QCOMPARE(c.Lbl_CopyInfo->caption(), status);
        QCOMPARE(c.Lbl_CopyInfo->accessibleName(), status);
        setProgramFolder(QString());
    }

    void keyboard() {
        Window t;
        Frm_Copy& f = t.load();
        auto& c = t.ui();
        QApplication::setActiveWindow(&f);
        QVERIFY(QTest::qWaitForWindowActive(&f));
        // An access key leads to the first control after its label that can
        // take the focus; "&De:" and "&Para:" stand twice and take turns.
        const auto accessKey = [&](Qt::Key key) {
            c.cmdAjuda->setFocus();
            QTest::keyClick(&f, key, Qt::AltModifier);
            return QApplication::focusWidget() ? QApplication::focusWidget()->objectName()
                                               : QString();
        };
        QCOMPARE(accessKey(Qt::Key_S), u"Drive2"_s);
        QStringList turns{accessKey(Qt::Key_D), accessKey(Qt::Key_D)};
        turns.sort();
        QCOMPARE(turns, (QStringList{u"Drive2"_s, u"File1"_s}));
        turns = QStringList{accessKey(Qt::Key_P), accessKey(Qt::Key_P)};
        turns.sort();
        QCOMPARE(turns, (QStringList{u"Drive2"_s, u"File1"_s}));
        // "&Novo Diretório :" is locked with its box.
        QCOMPARE(accessKey(Qt::Key_N), u"cmdAjuda"_s);

        // Enter clicks the focused button, as Space does.
        c.cmdAjuda->setFocus();
        for (const Qt::Key key : {Qt::Key_Return, Qt::Key_Enter, Qt::Key_Space})
            QTest::keyClick(c.cmdAjuda, key,
                            key == Qt::Key_Enter ? Qt::KeypadModifier : Qt::NoModifier);
        QCOMPARE(t.boxes.boxes.size(), size_t(3));
        QCOMPARE(t.boxes.boxes[2].title, u"Cópia de Arquivo."_s);
    }

    void looks() {
        Window t;
        Frm_Copy& f = t.load();
        auto& c = t.ui();
        const QImage image = f.grab().toImage();
        // The face is the frame's base colour; the groove stops at "Opções".
        QCOMPARE(image.pixelColor(190, 60), QColor(197, 196, 198));
        const QRect options = c.Frame1->geometry();
        for (int x = options.left(); x <= options.right(); ++x)
            QVERIFY2(image.pixelColor(x, 2) != QColor(Qt::white), qPrintable(QString::number(x)));
        QCOMPARE(image.pixelColor(options.left() - 20, 2), QColor(Qt::white));

        // The paths in the disabled boxes are readable, whatever the style;
        // the measure itself as the guidelines give it (black on white 21:1,
        // the old light blue on the face 2.1:1).
        QCOMPARE(qRound(ui::contrastRatio(Qt::black, Qt::white)), 21);
        QCOMPARE(qRound(ui::contrastRatio(QColor(49, 140, 198), QColor(197, 196, 198)) * 10), 21);
        for (const QString& name : {u"Windows"_s, u"Fusion"_s}) {
            const std::unique_ptr<QStyle> style(QStyleFactory::create(name));
            for (TextBox* box : {c.txtFrom, c.txtTo}) {
                QVERIFY(!box->isEnabled());
                box->setStyle(style.get());
                const QImage drawn = box->grab().toImage();
                const QColor face = drawn.pixelColor(drawn.width() - 6, drawn.height() / 2);
                QColor ink = face;
                for (int x = 3; x < drawn.width() - 3; ++x)
                    for (int y = 3; y < drawn.height() - 3; ++y)
                        if (ui::contrastRatio(drawn.pixelColor(x, y), face) >
                            ui::contrastRatio(ink, face))
                            ink = drawn.pixelColor(x, y);
                QVERIFY2(ui::contrastRatio(ink, face) >= 4.5,
                         qPrintable(name + u' ' + ink.name() + u" on "_s + face.name()));
                box->setStyle(nullptr);
            }
        }

        // The status and time lines read on the face (4.5), and the locked
        // source lists still show the source (3, as greyed text may), also
        // on its selected row.
        c.Lbl_CopyInfo->setCaption(u"Erro na execução da cópia. 61"_s);
        c.Lbl_CopyInfo2->setCaption(u"Para: D:\\BACKUP\\PROG\\cad.dat"_s);
        c.lblHoraIni->setCaption(u"Horário Inicial:   22:30:00"_s);
        c.lblHoraFin->setCaption(u"Horário Final:     22:31:05"_s);
        for (Label* l : {c.Lbl_CopyInfo, c.Lbl_CopyInfo2})
            l->flush();
        for (const QString& name : {u"Windows"_s, u"Fusion"_s}) {
            const std::unique_ptr<QStyle> style(QStyleFactory::create(name));
            for (QWidget* w : std::initializer_list<QWidget*>{c.Drive1, c.Dir1})
                w->setStyle(style.get());
            const QImage drawn = f.grab().toImage();
            const auto inForm = [&](QWidget* w, QRect r) {
                return r.translated(w->mapTo(&f, QPoint()));
            };
            for (Label* l : {c.Lbl_CopyInfo, c.Lbl_CopyInfo2, c.lblHoraIni, c.lblHoraFin})
                QVERIFY2(inkContrast(drawn, inForm(l, l->rect())) >= 4.5,
                         qPrintable(name + u' ' + l->objectName()));
            QVERIFY2(
                inkContrast(drawn, inForm(c.Drive1, c.Drive1->rect().adjusted(3, 3, -22, -3))) >= 3,
                qPrintable(name + u" Drive1"_s));
            QVERIFY(c.Dir1->currentItem() && c.Dir1->currentItem()->isSelected());
            for (int row = 0; row < c.Dir1->count(); ++row) {
                QRect text = c.Dir1->visualItemRect(c.Dir1->item(row))
                                 .intersected(c.Dir1->viewport()->rect());
                if (text.height() < 8)
                    continue;
                text.setLeft(text.left() +
                             c.Dir1->item(row)->data(DepthRole).toInt() * 2 *
                                 c.Dir1->fontMetrics().horizontalAdvance(u' ') +
                             c.Dir1->iconSize().width() + 6);
                QVERIFY2(inkContrast(drawn, inForm(c.Dir1->viewport(), text)) >= 3,
                         qPrintable(name + u" Dir1 "_s + c.Dir1->item(row)->text()));
            }
            for (QWidget* w : std::initializer_list<QWidget*>{c.Drive1, c.Dir1})
                w->setStyle(nullptr);
        }
    }

    void paintBackground() {
        // Each channel of the light and dark colours clamps: 255 and 256 give
        // 255, 0 and -1 give 0. A surface smaller than the frame is drawn all
        // the same.
        RecordingSurface clamp;
        clamp.width = clamp.height = 4;
        PaintBackground(clamp, 155, 156, 100, 100);
        QCOMPARE(clamp.mode, 3);
        QVERIFY(clamp.autoRedraw);
        QCOMPARE(clamp.lines.size(), 6);
        for (const QString& line : clamp.lines)
            QVERIFY2(line.endsWith(u"c8ffff"_s) || line.endsWith(u"003837"_s), qPrintable(line));
        clamp.lines.clear();
        PaintBackground(clamp, 99, 99, 99, 100);
        QVERIFY(clamp.lines[1].endsWith(u"000000"_s));

        // Overflow: scale and persistence set, nothing drawn; the window swallows it.
        RecordingSurface overflow;
        clearError();
        try {
            PaintBackground(overflow, 32767, 0, 0, 1);
            QFAIL("no overflow");
        } catch (const Failure& f) {
            QCOMPARE(f.number, int(ErrOverflow));
        }
        QVERIFY(overflow.mode == 3 && overflow.autoRedraw && overflow.lines.isEmpty());
        clearError();

        // The rendered window: white and black where the frame lies.
        Window t;
        Frm_Copy& f = t.load();
        const QImage image = f.grab().toImage();
        const auto at = [&](int x, int y) { return image.pixelColor(x, y); };
        for (const int y : {100, 200}) {
            QCOMPARE(at(2, y), QColor(Qt::white));
            QCOMPARE(at(543, y), QColor(Qt::black));
            QCOMPARE(at(5, y), QColor(Qt::black));
            QCOMPARE(at(540, y), QColor(Qt::white));
        }
        QCOMPARE(at(300, 2), QColor(Qt::white));
        QCOMPARE(at(300, 315), QColor(Qt::black));
        QCOMPARE(at(300, 5), QColor(Qt::black));
        QCOMPARE(at(300, 312), QColor(Qt::white));
    }
};

int main(int argc, char* argv[]) {
    // What the window remembers goes to a configuration of the test's own.
    QTemporaryDir configuration;
    qputenv("XDG_CONFIG_HOME", QFile::encodeName(configuration.path()));
    QApplication app(argc, argv);
    TestFrmLook test;
    QTEST_SET_MAIN_SOURCE_PATH
    return QTest::qExec(&test, argc, argv);
}
#include "tst_frmlook.moc"
