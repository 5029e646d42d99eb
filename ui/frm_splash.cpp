#include "ui/frm_splash.h"
#include "platform/errors.h"
#include "platform/events.h"
#include "platform/messagebox.h"

#include <QCloseEvent>
#include <QDate>
#include <QGuiApplication>
#include <QLinearGradient>
#include <QPainter>
#include <QPainterPath>
#include <QScreen>
#include <algorithm>
#include <chrono>
#include <thread>

using namespace platform;
using namespace ui;

namespace {

// Client area 5475 x 3195 twips.
constexpr int ClientWidth = 365;
constexpr int ClientHeight = 213;
constexpr double MinimumShownSeconds = 3.0;

// Sizes in pixels for a 96 dpi screen: 8.25 pt is 11 px, 9.75 pt 13 px and so on.
QFont face(const char* family, int pixelSize, QFont::Weight weight, bool italic = false) {
    QFont font;
    font.setFamilies({QLatin1String(family), QStringLiteral("Liberation Sans")});
    font.setStyleHint(QFont::SansSerif);
    font.setPixelSize(pixelSize);
    font.setWeight(weight);
    font.setItalic(italic);
    return font;
}

// The splash picture: a pale sky with a folder tree flowing into a backup
// disk, drawn faintly enough for the captions to stay legible over it.
QPixmap splashPicture(QSize size) {
    QPixmap pixmap(size);
    QPainter p(&pixmap);
    p.setRenderHint(QPainter::Antialiasing);
    QLinearGradient sky(0, 0, 0, size.height());
    sky.setColorAt(0, QColor(255, 255, 255));
    sky.setColorAt(1, QColor(214, 226, 240));
    p.fillRect(pixmap.rect(), sky);

    // A gentle wave across the lower part.
    QPainterPath wave;
    const double w = size.width(), h = size.height();
    wave.moveTo(0, h * 0.62);
    wave.cubicTo(w * 0.3, h * 0.50, w * 0.6, h * 0.78, w, h * 0.60);
    wave.lineTo(w, h);
    wave.lineTo(0, h);
    wave.closeSubpath();
    p.fillPath(wave, QColor(180, 200, 228, 90));

    const QColor ink(40, 70, 130, 55);
    p.setPen(QPen(ink, 2));
    p.setBrush(QColor(40, 70, 130, 25));
    // Folders on the left...
    for (int i = 0; i < 3; ++i) {
        const double x = 14 + i * 10, y = 56 + i * 12;
        p.drawPolygon(
            QPolygonF({QPointF(x, y), QPointF(x + 16, y), QPointF(x + 20, y + 5),
                       QPointF(x + 46, y + 5), QPointF(x + 46, y + 36), QPointF(x, y + 36)}));
    }
    // ...copied along an arrow...
    p.drawLine(QPointF(92, 92), QPointF(w - 98, 92));
    p.drawPolygon(QPolygonF({QPointF(w - 98, 84), QPointF(w - 86, 92), QPointF(w - 98, 100)}));
    // ...onto a disk on the right.
    const QRectF disk(w - 72, 58, 58, 62);
    p.drawRoundedRect(disk, 4, 4);
    p.drawRect(QRectF(disk.left() + 12, disk.top(), 34, 20));
    p.drawRect(QRectF(disk.left() + 10, disk.bottom() - 24, 38, 24));
    return pixmap;
}

} // namespace

frmSplash::frmSplash() {
    setObjectName(QStringLiteral("frmSplash"));
    // A title without buttons: the splash goes when the program is ready.
    setWindowFlags(Qt::Window | Qt::CustomizeWindowHint | Qt::WindowTitleHint);
    setFixedSize(ClientWidth, ClientHeight);
    if (const QScreen* screen = QGuiApplication::primaryScreen()) {
        const QRect area = screen->availableGeometry();
        move(area.center() - rect().center());
    }

    auto& c = ui;
    c.Timer1 = new Timer(this);
    c.Timer1->setObjectName(QStringLiteral("Timer1"));
    connect(c.Timer1, &QTimer::timeout, this, &frmSplash::Timer1_Timer);
    c.Timer1->setIntervalMs(500);
    c.SSP1 = place<ProgressPanel>(this, "SSP1", twipsRect(360, 360, 4575, 135));
    c.lblPlatformAndVersion[1] =
        place<Label>(this, "lblPlatformAndVersion_1", twipsRect(0, 120, 5445, 240),
                     QStringLiteral("    Aguarde, verificando tamanho dos arquivos."));
    c.lblProductName = place<Label>(this, "lblProductName", twipsRect(0, 960, 5445, 555),
                                    QStringLiteral("Pelivor"));
    c.lblCopyright = place<Label>(this, "lblCopyright", twipsRect(0, 630, 5445, 195),
                                  QStringLiteral("Halverdune"));
    c.lblWarning = place<Label>(this, "lblWarning", twipsRect(0, 2145, 5445, 870),
                                QStringLiteral("  Os arquivos do programa serâo copiados. "
                                               "Certifique-se que nenhum usuário esteja "
                                               "acessando os dados"));
    c.lblPlatformAndVersion[0] =
        place<Label>(this, "lblPlatformAndVersion_0", twipsRect(0, 1650, 5445, 240),
                     QStringLiteral("Cópia de Segurança "));
    c.BackgroundPicture = new Image(this);
    c.BackgroundPicture->setObjectName(QStringLiteral("BackgroundPicture"));
    c.BackgroundPicture->setScaledContents(true);
    c.BackgroundPicture->setPixmap(splashPicture(QSize(ClientWidth - 2, ClientHeight - 2)));
    c.BackgroundPicture->lower(); // the captions are transparent over it

    c.lblPlatformAndVersion[1]->setFont(face("MS Sans Serif", 11, QFont::Bold));
    setForeColor(c.lblPlatformAndVersion[1], palette().color(QPalette::Highlight));
    c.lblProductName->setFont(face("Arial Black", 26, QFont::Black));
    c.lblCopyright->setFont(face("Arial", 13, QFont::Bold, true));
    c.lblWarning->setFont(face("Arial", 15, QFont::Bold));
    c.lblWarning->setWordWrap(true);
    setForeColor(c.lblWarning, QColor(192, 0, 0));
    c.lblPlatformAndVersion[0]->setFont(face("MS Sans Serif", 13, QFont::Bold));
    for (Label* centred : {c.lblProductName, c.lblCopyright, c.lblPlatformAndVersion[0]})
        centred->setAlignment(Qt::AlignCenter);
    for (Label* black : {c.lblProductName, c.lblCopyright, c.lblPlatformAndVersion[0]})
        setForeColor(black, Qt::black);
}

template <class Handler> void frmSplash::trapped(Handler&& handler) {
    clearError();
    try {
        handler();
    } catch (const Failure&) {
        MessageBox::show(Err().description + QStringLiteral(" (") + QString::number(Err().number) +
                             QLatin1Char(')'),
                         MbOk | MbCritical, applicationTitle() + QStringLiteral(" Error"), this);
    }
    clearError();
}

void frmSplash::Form_Load() {
    trapped([this] {
        setMousePointer(11);
        ui.lblPlatformAndVersion[0]->setCaption(QStringLiteral("Cópia de Segurança"));
        ui.lblProductName->setCaption(QStringLiteral("Pelivor"));
        ui.lblCopyright->setCaption(QStringLiteral("Halverdune ") +
                                    QString::number(QDate::currentDate().year()));
        setWindowTitle(applicationTitle());
        const int innerWidth = width() * TwipsPerPixel, innerHeight = height() * TwipsPerPixel;
        ui.BackgroundPicture->setGeometry(twipsRect(15, 15, innerWidth - 30, innerHeight - 30));
        m_loadTime.start();
    });
}

void frmSplash::Form_Activate() {
    trapped([this] { repaint(); });
}

void frmSplash::Form_QueryUnload(int16_t& /*Cancel*/, int16_t /*UnloadMode*/) {
    trapped([this] {
        // The minimum display time. The caller waits here without dispatching
        // events, asleep in short steps rather than spinning.
        for (double passed; (passed = m_loadTime.elapsed()) <= MinimumShownSeconds;)
            std::this_thread::sleep_for(std::chrono::duration<double>(
                std::min(MinimumShownSeconds - passed + 0.001, 0.02)));
    });
    // Also after a failed wait: the hourglass must not outlive the splash.
    setMousePointer(0);
}

void frmSplash::Timer1_Timer() {
    pumpEvents();
    for (float percent = 0; percent <= 100; percent += 2)
        ui.SSP1->setFloodPercent(int(percent));
}

bool frmSplash::event(QEvent* event) {
    if (event->type() == QEvent::WindowActivate)
        Form_Activate();
    return QWidget::event(event);
}

void frmSplash::closeEvent(QCloseEvent* event) {
    int16_t cancel = 0;
    Form_QueryUnload(cancel, event->spontaneous() ? 0 : 1);
    event->accept();
}
