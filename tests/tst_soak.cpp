// Seeded random editing of the real window by keyboard and clipboard. After
// every step the text box holds exactly what the operator produced (kept in
// a model here), and Label2 and Text3 agree with an independent reading of
// which lines are frames. Replay with KADRIN_SOAK_SEED=<seed>;
// KADRIN_SOAK_STEPS sets the number of steps.

#include "app/beaconedit.h"
#include "app/form1.h"

#include <QApplication>
#include <QClipboard>
#include <QLabel>
#include <QPlainTextEdit>
#include <QRandomGenerator>
#include <QTest>

#include <memory>

namespace {

// The frames of a text (LF line breaks, ASCII), read independently of the
// decoder: blanks out, upper case, "SKADRIN" in the line, 26 characters from
// the first "KADRIN".
QStringList framesOf(const QString &text) {
    QStringList frames;
    for (const QString &line : text.split(QLatin1Char('\n'))) {
        const QString normal = QString(line).remove(QLatin1Char(' ')).toUpper();
        const QString candidate = normal.mid(normal.indexOf(QLatin1String("KADRIN")));
        if (normal.contains(QLatin1String("SKADRIN")) && candidate.size() == 26)
            frames.append(candidate);
    }
    return frames;
}

int envOr(const char *name, int fallback) {
    bool ok = false;
    const int value = qEnvironmentVariableIntValue(name, &ok);
    return ok ? value : fallback;
}

} // namespace

class TestSoak : public QObject {
    Q_OBJECT
private slots:
    void randomSession();

private:
    QString randomLine();
    void step();
    void key(Qt::Key key, Qt::KeyboardModifiers modifiers = {}) {
        QTest::keyClick(input, key, modifiers);
    }
    int lineStart(int at) const {
        return at == 0 ? 0 : int(model.lastIndexOf(QLatin1Char('\n'), at - 1)) + 1;
    }
    int lineEnd(int at) const {
        const qsizetype end = model.indexOf(QLatin1Char('\n'), at);
        return int(end < 0 ? model.size() : end);
    }

    QRandomGenerator random;
    std::unique_ptr<Form1> window;
    BeaconEdit *input = nullptr;
    QString model;  // the text, line breaks as LF
    int cursor = 0; // in model
};

QString TestSoak::randomLine() {
    static const char symbols[] = "2467 8ACDFGJLPQYZacdfgjlpqyz0159#";
    QString line = random.bounded(3) ? QString() : QStringLiteral("21:%1 ").arg(random.bounded(60));
    line += random.bounded(4) ? QStringLiteral("SKADRIN") : QStringLiteral("s kadrin");
    const int length = random.bounded(4) ? 20 : 18 + random.bounded(5);
    for (int i = 0; i < length; ++i)
        line += QLatin1Char(symbols[random.bounded(int(sizeof symbols) - 1)]);
    return random.bounded(5) ? line : QStringLiteral("QST de QX0ZZ");
}

void TestSoak::step() {
    switch (random.bounded(10)) {
    case 0: { // type part of a line
        const QString text = randomLine().left(1 + random.bounded(27));
        QTest::keyClicks(input, text);
        model.insert(cursor, text);
        cursor += int(text.size());
        break;
    }
    case 1:
        key(Qt::Key_Return);
        model.insert(cursor++, QLatin1Char('\n'));
        break;
    case 2: // paste lines, their breaks in every form
    case 3: {
        static const QString breaks[] = {QStringLiteral("\n"), QStringLiteral("\r\n"), QStringLiteral("\r"),
                                         QStringLiteral("\u2028")};
        QString pasted;
        QString normal;
        for (int i = random.bounded(1, 6); i > 0; --i) {
            const QString line = randomLine();
            const QString &lineBreak = breaks[random.bounded(4)];
            pasted += line + lineBreak;
            normal += line + QLatin1Char('\n');
        }
        QGuiApplication::clipboard()->setText(pasted);
        key(Qt::Key_V, Qt::ControlModifier);
        model.insert(cursor, normal);
        cursor += int(normal.size());
        break;
    }
    case 4:
        for (int i = random.bounded(1, 30); i > 0; --i, cursor = std::max(cursor - 1, 0)) {
            key(Qt::Key_Backspace);
            if (cursor > 0)
                model.remove(cursor - 1, 1);
        }
        break;
    case 5:
        for (int i = random.bounded(1, 30); i > 0; --i) {
            key(Qt::Key_Delete);
            model.remove(cursor, 1);
        }
        break;
    case 6: { // select forward, then delete the selection
        const int count = random.bounded(1, 40);
        for (int i = 0; i < count; ++i)
            key(Qt::Key_Right, Qt::ShiftModifier);
        key(Qt::Key_Delete);
        model.remove(cursor, std::min(count, int(model.size()) - cursor));
        break;
    }
    case 7: { // to the start of a line above or below
        const bool up = random.bounded(2);
        key(up ? Qt::Key_Up : Qt::Key_Down);
        key(Qt::Key_Home);
        const int start = lineStart(cursor);
        if (up)
            cursor = start > 0 ? lineStart(start - 1) : 0;
        else
            cursor = lineEnd(cursor) < model.size() ? lineEnd(cursor) + 1 : start;
        break;
    }
    case 8:
        for (int i = random.bounded(1, 30); i > 0; --i) {
            const bool left = random.bounded(2);
            key(left ? Qt::Key_Left : Qt::Key_Right);
            cursor = std::clamp(cursor + (left ? -1 : 1), 0, int(model.size()));
        }
        break;
    default:
        if (random.bounded(4) == 0) {
            key(Qt::Key_End, Qt::ControlModifier);
            cursor = int(model.size());
        } else {
            key(Qt::Key_End);
            cursor = lineEnd(cursor);
        }
    }
}

void TestSoak::randomSession() {
    const quint32 seed = quint32(envOr("KADRIN_SOAK_SEED", 7));
    const int steps = envOr("KADRIN_SOAK_STEPS", 1500);
    random.seed(seed);
    window = std::make_unique<Form1>(Configuration{QStringLiteral("/tmp/"), true});
    window->show();
    QVERIFY(QTest::qWaitForWindowExposed(window.get()));
    input = window->findChild<BeaconEdit *>(QStringLiteral("Text2"));
    input->setFocus();
    const auto *label2 = window->findChild<QLabel *>(QStringLiteral("Label2"));
    const auto *text3 = window->findChild<QPlainTextEdit *>(QStringLiteral("Text3"));

    for (int i = 0; i < steps; ++i) {
        const QString where = QStringLiteral("seed %1, step %2").arg(seed).arg(i);
        step();
        QVERIFY2(input->toPlainText() == model, qPrintable(where));
        const QStringList frames = framesOf(model);
        const QStringList caption = label2->text().split(QLatin1Char('/'));
        if (label2->text().isEmpty() && model.isEmpty())
            continue; // nothing has changed the text yet
        QCOMPARE(caption.value(1), QString::number(frames.size()));
        const int position = caption.value(0).toInt();
        const QString shown = text3->toPlainText().section(QLatin1Char('\n'), 0, 0);
        QVERIFY2(frames.isEmpty() ? shown.isEmpty()
                                  : shown == QStringLiteral("CW beacon: S") + frames.value(position - 1),
                 qPrintable(where));
    }
}

QTEST_MAIN(TestSoak)
#include "tst_soak.moc"
