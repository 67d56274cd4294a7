// The about window and the Info command.

#include "app/form1.h"
#include "app/form2.h"

#include <QApplication>
#include <QLabel>
#include <QTest>

#include <memory>

namespace {

QList<Form2 *> aboutWindows() {
    QList<Form2 *> found;
    for (QWidget *w : QApplication::topLevelWidgets())
        if (auto *about = qobject_cast<Form2 *>(w); about && about->isVisible())
            found.append(about);
    return found;
}

QString labelText(QWidget *window, const char *name) {
    return window->findChild<QLabel *>(QLatin1String(name))->text();
}

} // namespace

class TestForm2 : public QObject {
    Q_OBJECT
private slots:
    void init();
    void cleanup();
    void content();
    void oneAtATime();
    void reopenAfterClose();
    void exitLeavesAboutOpen();

private:
    void info() { window->findChild<QAction *>(QStringLiteral("MnuInfo"))->trigger(); }
    std::unique_ptr<Form1> window;
};

void TestForm2::init() {
    window = std::make_unique<Form1>();
    window->show();
    QVERIFY(QTest::qWaitForWindowExposed(window.get()));
}

void TestForm2::cleanup() {
    for (Form2 *about : aboutWindows())
        about->close();
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    window.reset();
}

void TestForm2::content() {
    info();
    QCOMPARE(aboutWindows().size(), 1);
    Form2 *about = aboutWindows().first();
    QCOMPARE(about->windowTitle(), QStringLiteral(" Info"));
    QCOMPARE(about->size(), QSize(481, 239));
    QCOMPARE(about->palette().color(QPalette::Window), QColor(Qt::white));
    QVERIFY(!about->parent());
    QVERIFY(!about->isModal());
    QCOMPARE(labelText(about, "Label1"), QStringLiteral("Simple KADRIN CW  Telemetry Decoder"));
    QCOMPARE(labelText(about, "Label8"), QStringLiteral("QX0ZZ"));
    QCOMPARE(labelText(about, "Label2"), QStringLiteral("Version Ver. 0.1    (30 June 2014)"));
    QCOMPARE(labelText(about, "Label6"), QStringLiteral("Homepage:"));
    QCOMPARE(labelText(about, "Label7"), QStringLiteral("e-mail:"));
    QVERIFY(labelText(about, "Label4").contains(QLatin1String("example.org")));
    QVERIFY(labelText(about, "Label5").contains(QLatin1String("@example.org")));
    QCOMPARE(about->findChild<QLabel *>(QStringLiteral("Label1"))->geometry(),
             QRect(8, 16, 401, 25));
    QCOMPARE(about->findChild<QLabel *>(QStringLiteral("Label2"))->geometry(),
             QRect(8, 16, 217, 17));
    const QLabel *picture = about->findChild<QLabel *>(QStringLiteral("Picture1"));
    QCOMPARE(picture->geometry(), QRect(248, 40, 229, 200));
    QCOMPARE(picture->pixmap().size(), QSize(229, 200));
    QCOMPARE(about->windowIcon().availableSizes().value(0), QSize(64, 57));
    QCOMPARE(window->windowIcon().availableSizes().value(0), QSize(64, 57));
    // The main window stays usable while the about window is open.
    QVERIFY(!QApplication::activeModalWidget());
}

void TestForm2::oneAtATime() {
    info();
    info();
    QCOMPARE(aboutWindows().size(), 1);
}

void TestForm2::reopenAfterClose() {
    info();
    QPointer<Form2> first = aboutWindows().first();
    first->close();
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    QVERIFY(first.isNull()); // closing deletes it
    info();
    QCOMPARE(aboutWindows().size(), 1);
    QCOMPARE(labelText(aboutWindows().first(), "Label2"),
             QStringLiteral("Version Ver. 0.1    (30 June 2014)"));
}

void TestForm2::exitLeavesAboutOpen() {
    info();
    window->findChild<QAction *>(QStringLiteral("MnuExit"))->trigger();
    QVERIFY(!window->isVisible());
    QCOMPARE(aboutWindows().size(), 1);
}

QTEST_MAIN(TestForm2)
#include "tst_form2.moc"
