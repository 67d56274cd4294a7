#pragma once

// What the window tests share: answering the window's dialogs as the
// operator would, and reading its status line.

#include <QApplication>
#include <QDir>
#include <QFileDialog>
#include <QHelpEvent>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QPointer>
#include <QProcess>
#include <QPushButton>
#include <QScopeGuard>
#include <QTest>
#include <QTimer>
#include <QToolTip>

#include <unistd.h>

namespace windowtest {

// How long a test waits for a dialog it expects before it gives up.
inline constexpr int DialogWaitMs = 5000;

struct BoxSeen {
    bool seen = false;
    QString title, text;
    QMessageBox::Icon icon = QMessageBox::NoIcon;
};

// Answers not given yet are forgotten when this changes.
inline int answersGeneration = 0;
// Message boxes are answered in the order the answers were asked for: two
// queued for two boxes in turn must not swap when the test runs slowly.
inline int boxesQueued = 0, boxesServed = 0;
inline void forgetAnswers() {
    ++answersGeneration;
    boxesServed = boxesQueued;
}

// Calls answer(widget) with the next modal dialog of type T once it is
// shown. If none comes within DialogWaitMs, whatever modal dialog is open
// then is rejected, so that the test goes on and fails on what it checks
// instead of waiting for ever.
// ticket >= 0: a message box's answer, given only in its turn (its wait
// counted from then).
template <typename T, typename Answer>
void whenShown(Answer answer, int waitedMs = 0, int generation = answersGeneration, int ticket = -1) {
    QTimer::singleShot(20, [answer, waitedMs, generation, ticket] {
        if (generation != answersGeneration)
            return;
        if (ticket >= 0 && ticket != boxesServed)
            return whenShown<T>(answer, 0, generation, ticket);
        // A dialog is answered once: two answers queued for two dialogs in
        // turn must not both take the first while it closes.
        auto *dialog = qobject_cast<T *>(QApplication::activeModalWidget());
        if (dialog && !dialog->property("answered").toBool()) {
            dialog->setProperty("answered", true);
            if (ticket >= 0)
                ++boxesServed;
            return answer(dialog);
        }
        if (waitedMs < DialogWaitMs)
            return whenShown<T>(answer, waitedMs + 20, generation, ticket);
        if (ticket >= 0)
            ++boxesServed;
        if (auto *other = qobject_cast<QDialog *>(QApplication::activeModalWidget()))
            other->reject();
    });
}

// Rejects any modal dialog left open for longer than DialogWaitMs (one the
// test did not expect, or answered wrongly), so the test fails on what it
// checks instead of hanging.
inline void rejectForgottenDialogs() {
    static QTimer *guard = nullptr;
    if (guard)
        return;
    guard = new QTimer(QCoreApplication::instance());
    guard->setInterval(250);
    QObject::connect(guard, &QTimer::timeout, [] {
        static QPointer<QWidget> open;
        static int openFor = 0;
        QWidget *modal = QApplication::activeModalWidget();
        openFor = modal && modal == open ? openFor + 250 : 0;
        open = modal;
        if (auto *dialog = qobject_cast<QDialog *>(modal); dialog && openFor > DialogWaitMs)
            dialog->reject();
    });
    guard->start();
}

// Answers the next message box with button (its default when it has none),
// noting what it said.
inline void answerBox(QMessageBox::StandardButton button, BoxSeen *seen = nullptr) {
    rejectForgottenDialogs();
    whenShown<QMessageBox>(
        [button, seen](QMessageBox *box) {
            if (seen)
                *seen = {true, box->windowTitle(), box->text(), box->icon()};
            box->button(button) ? box->button(button)->click() : box->accept();
        },
        0, answersGeneration, boxesQueued++);
}

// Answers the next file dialog with path.
inline void answerDialog(const QString &path) {
    rejectForgottenDialogs();
    whenShown<QFileDialog>([path](QFileDialog *dialog) {
        // Once the dialog has settled: one caught while it is still being
        // shown puts its own offer back in the name field.
        QTimer::singleShot(0, dialog, [dialog, path] {
            dialog->selectFile(path);
            dialog->findChild<QLineEdit *>(QStringLiteral("fileNameEdit"))->setText(path);
            QMetaObject::invokeMethod(dialog, "accept");
        });
    });
}

// The status line's whole text (it shows it elided when long).
inline QString statusText(const QWidget *window) {
    const auto *label = window->findChild<QLabel *>(QStringLiteral("Label3"));
    return label->toolTip().isEmpty() ? label->text() : label->toolTip();
}

// Mounts a file system of this size ("64k") on folder, for tests of a full
// disk; false where that cannot be done (not root). Unmounted by the guard.
inline bool mountSmallDisk(const QString &folder, const QString &size) {
    return ::geteuid() == 0 && QDir().mkpath(folder) &&
           QProcess::execute("mount", {"-t", "tmpfs", "-o", "size=" + size, "tmpfs", folder}) == 0;
}
inline auto unmountWhenDone(const QString &folder) {
    return qScopeGuard([folder] { QProcess::execute("umount", {folder}); });
}

// The tooltip the widget shows for the mouse resting at a point of it.
inline QString tooltipAt(QWidget *widget, const QPoint &at) {
    QHelpEvent help(QEvent::ToolTip, at, widget->mapToGlobal(at));
    QApplication::sendEvent(widget, &help);
    return QToolTip::text();
}

inline bool writeFile(const QString &path, const QByteArray &bytes) {
    QFile file(path);
    return file.open(QIODevice::WriteOnly) && file.write(bytes) == bytes.size();
}
// A file's bytes; empty when it cannot be read.
inline QByteArray readFile(const QString &path) {
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

} // namespace windowtest
