#include "app/form2.h"

#include "app/legacylook.h"
#include "app/module1.h"

#include <QFrame>
#include <QLabel>
#include <QShortcut>

namespace {

QLabel *label(QWidget *parent, const char *name, const QString &text, const QRect &place) {
    auto *l = new QLabel(text, parent);
    l->setObjectName(QLatin1String(name));
    l->setGeometry(place);
    return l;
}

// A label that looks like a link; it does nothing when clicked.
void lookLikeLink(QLabel *l) {
    QFont font = msSansSerif(8.25);
    font.setUnderline(true);
    l->setFont(font);
    QPalette palette = l->palette();
    palette.setColor(QPalette::WindowText, Qt::blue);
    l->setPalette(palette);
}

} // namespace

Form2::Form2(QWidget *parent) : QWidget(parent) {
    setObjectName(QStringLiteral("Form2"));
    setAttribute(Qt::WA_DeleteOnClose);
    setWindowTitle(QStringLiteral(" Info"));
    setWindowIcon(QIcon(QStringLiteral(":/kadrin/kadrin-icon.png")));
    setFont(msSansSerif(8.25));
    QPalette white = palette();
    white.setColor(QPalette::Window, Qt::white);
    setPalette(white);
    setAutoFillBackground(true);
    setFixedSize(481, 239); // 7215 x 3585 twips

    QLabel *title = label(this, "Label1", QStringLiteral("Simple KADRIN CW  Telemetry Decoder"),
                          twips(120, 240, 6015, 375));
    title->setFont(msSansSerif(12, true));
    label(this, "Label3", QStringLiteral("KADRIN ground station team"), twips(120, 720, 3015, 255));
    QLabel *callSign = label(this, "Label8", QStringLiteral("QX0ZZ"), twips(120, 1080, 735, 255));
    callSign->setFont(msSansSerif(8.25, true));

    auto *frame = new QFrame(this);
    frame->setObjectName(QStringLiteral("Frame1"));
    frame->setFrameShape(QFrame::Box);
    frame->setGeometry(twips(120, 1440, 3495, 615));
    Label2 = label(frame, "Label2", QString(), twips(120, 240, 3255, 255));
    Label2->setAlignment(Qt::AlignCenter);

    label(this, "Label6", QStringLiteral("Homepage:"), twips(360, 2280, 855, 255));
    lookLikeLink(label(this, "Label4", QStringLiteral("www.example.org/kadrin"),
                       twips(1320, 2280, 1815, 255)));
    label(this, "Label7", QStringLiteral("e-mail:"), twips(360, 2640, 615, 255));
    lookLikeLink(
        label(this, "Label5", QStringLiteral("qx0zz@example.org"), twips(1320, 2640, 1815, 255)));

    QLabel *picture = label(this, "Picture1", QString(), twips(3720, 600, 3435, 3000));
    picture->setPixmap(QPixmap(QStringLiteral(":/kadrin/satellite.jpg")));
    picture->setAlignment(Qt::AlignLeft | Qt::AlignTop);

    // Closed with Escape as well as with the window's close control.
    connect(new QShortcut(QKeySequence(Qt::Key_Escape), this), &QShortcut::activated, this,
            &QWidget::close);
    Form_Load();
}

void Form2::Form_Load() {
    Label2->setText(QLatin1String("Version ") + QLatin1String(Module1::VersionText) +
                    QLatin1String("    (") + QLatin1String(Module1::VersionDate) +
                    QLatin1Char(')'));
}
