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
} // namespace

class TestForm2 : public QObject {
    Q_OBJECT
private slots:
    void init();
    void cleanup();
    void oneAboutWindowWithItsVersion();
    void exitLeavesTheAboutWindowOpen();

private:
    void info() { window->findChild<QAction *>(QStringLiteral("MnuInfo"))->trigger(); }
    std::unique_ptr<Form1> window;
};

void TestForm2::init() {
    window = std::make_unique<Form1>(Configuration{QStringLiteral("/tmp/"), true});
    window->show();
    QVERIFY(QTest::qWaitForWindowExposed(window.get()));
}

void TestForm2::cleanup() {
    for (Form2 *about : aboutWindows())
        about->close();
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    window.reset();
}

// "Info" twice leaves one window; closed and opened again it is built afresh
// with the same content.
void TestForm2::oneAboutWindowWithItsVersion() {
    info();
    info();
    QCOMPARE(aboutWindows().size(), 1);
    QPointer<Form2> first = aboutWindows().first();
    QCOMPARE(first->windowTitle(), QStringLiteral(" Info"));
    QVERIFY(!first->parent() && !first->isModal());
    first->close();
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    QVERIFY(first.isNull());
    info();
    QCOMPARE(aboutWindows().size(), 1);
    QCOMPARE(aboutWindows().first()->findChild<QLabel *>(QStringLiteral("Label2"))->text(),
             QStringLiteral("Version Ver. 0.1    (30 June 2014)"));
}

void TestForm2::exitLeavesTheAboutWindowOpen() {
    info();
    window->findChild<QAction *>(QStringLiteral("MnuExit"))->trigger();
    QVERIFY(!window->isVisible());
    QCOMPARE(aboutWindows().size(), 1);
}

QTEST_MAIN(TestForm2)
#include "tst_form2.moc"
