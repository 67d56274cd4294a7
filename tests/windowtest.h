#pragma once

// What the window tests share: answering the window's dialogs as the
// operator would, and reading its status line.

#include <QApplication>
#include <QFileDialog>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>
#include <QTest>
#include <QTimer>

namespace windowtest {

struct BoxSeen {
    bool seen = false;
    QString title, text;
    QMessageBox::Icon icon = QMessageBox::NoIcon;
};

// Answers the next message box with button (its default when it has none),
// noting what it said.
inline void answerBox(QMessageBox::StandardButton button, BoxSeen *seen = nullptr) {
    QTimer::singleShot(50, [button, seen] {
        if (auto *box = qobject_cast<QMessageBox *>(QApplication::activeModalWidget())) {
            if (seen)
                *seen = {true, box->windowTitle(), box->text(), box->icon()};
            box->button(button) ? box->button(button)->click() : box->accept();
        }
    });
}

// Answers the next file dialog with path, once it is shown.
inline void answerDialog(const QString &path) {
    QTimer::singleShot(50, [path] {
        auto *dialog = qobject_cast<QFileDialog *>(QApplication::activeModalWidget());
        if (!dialog)
            return answerDialog(path);
        dialog->findChild<QLineEdit *>(QStringLiteral("fileNameEdit"))->setText(path);
        QMetaObject::invokeMethod(dialog, "accept");
    });
}

// The status line's whole text (it shows it elided when long).
inline QString statusText(const QWidget *window) {
    const auto *label = window->findChild<QLabel *>(QStringLiteral("Label3"));
    return label->toolTip().isEmpty() ? label->text() : label->toolTip();
}

inline bool writeFile(const QString &path, const QByteArray &bytes) {
    QFile file(path);
    return file.open(QIODevice::WriteOnly) && file.write(bytes) == bytes.size();
}

} // namespace windowtest
