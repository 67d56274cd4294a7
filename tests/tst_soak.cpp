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

QString randomLine(QRandomGenerator &random) {
    static const char symbols[] = "2467 8ACDFGJLPQYZacdfgjlpqyz0159#";
    QString line = random.bounded(4) ? QStringLiteral("SKADRIN") : QStringLiteral("21:07 s kadrin");
    for (int i = random.bounded(4) ? 20 : random.bounded(18, 23); i > 0; --i)
        line += QLatin1Char(symbols[random.bounded(int(sizeof symbols) - 1)]);
    return line;
}

} // namespace

class TestSoak : public QObject {
    Q_OBJECT
private slots:
    void randomSession();
};

void TestSoak::randomSession() {
    const quint32 seed = quint32(qEnvironmentVariableIntValue("KADRIN_SOAK_SEED"));
    const int steps = qEnvironmentVariableIsSet("KADRIN_SOAK_STEPS")
                          ? qEnvironmentVariableIntValue("KADRIN_SOAK_STEPS")
                          : 1500;
    QRandomGenerator random(seed);
    Form1 window{Configuration(QStringLiteral("/tmp/"))};
    window.show();
    QVERIFY(QTest::qWaitForWindowExposed(&window));
    auto *input = window.findChild<BeaconEdit *>(QStringLiteral("Text2"));
    input->setFocus();
    QString model; // the text, line breaks as LF
    int cursor = 0;
    const auto key = [input](Qt::Key key, Qt::KeyboardModifiers modifiers = {}) {
        QTest::keyClick(input, key, modifiers);
    };
    const auto insert = [&](const QString &text) {
        model.insert(cursor, text);
        cursor += int(text.size());
    };

    for (int step = 0; step < steps; ++step) {
        const int count = random.bounded(1, 30);
        switch (random.bounded(8)) {
        case 0: { // type part of a line
            const QString text = randomLine(random).left(count);
            QTest::keyClicks(input, text);
            insert(text);
            break;
        }
        case 1:
            key(Qt::Key_Return);
            insert(QStringLiteral("\n"));
            break;
        case 2: { // paste lines, their breaks in every form
            static const char *const breaks[] = {"\n", "\r\n", "\r", "\u2028"};
            QString pasted, normal;
            for (int i = count % 5 + 1; i > 0; --i) {
                const QString line = randomLine(random);
                pasted += line + QString::fromUtf8(breaks[random.bounded(4)]);
                normal += line + QLatin1Char('\n');
            }
            QGuiApplication::clipboard()->setText(pasted);
            key(Qt::Key_V, Qt::ControlModifier);
            insert(normal);
            break;
        }
        case 3: // backspace, delete, or a selection deleted
            for (int i = 0; i < count; ++i, cursor = std::max(cursor - 1, 0))
                key(Qt::Key_Backspace), model.remove(std::max(cursor - 1, 0), cursor > 0 ? 1 : 0);
            break;
        case 4:
            for (int i = 0; i < count; ++i)
                key(Qt::Key_Delete), model.remove(cursor, 1);
            break;
        case 5:
            for (int i = 0; i < count; ++i)
                key(Qt::Key_Right, Qt::ShiftModifier);
            key(Qt::Key_Delete);
            model.remove(cursor, std::min(count, int(model.size()) - cursor));
            break;
        case 6:
            for (int i = 0; i < count; ++i)
                key(Qt::Key_Left);
            cursor = std::max(cursor - count, 0);
            key(Qt::Key_Home);
            cursor = cursor == 0 ? 0 : int(model.lastIndexOf(QLatin1Char('\n'), cursor - 1)) + 1;
            break;
        default:
            key(Qt::Key_End, Qt::ControlModifier);
            cursor = int(model.size());
        }

        const QString where = QStringLiteral("seed %1, step %2").arg(seed).arg(step);
        QVERIFY2(input->toPlainText() == model, qPrintable(where));
        const QString label2 = window.findChild<QLabel *>(QStringLiteral("Label2"))->text();
        const QStringList frames = framesOf(model);
        if (label2.isEmpty() && model.isEmpty())
            continue; // nothing has changed the text yet
        QCOMPARE(label2.section(QLatin1Char('/'), 1), QString::number(frames.size()));
        const QString shown = window.findChild<QPlainTextEdit *>(QStringLiteral("Text3"))
                                  ->toPlainText()
                                  .section(QLatin1Char('\n'), 0, 0);
        const int position = label2.section(QLatin1Char('/'), 0, 0).toInt();
        QVERIFY2(frames.isEmpty()
                     ? shown.isEmpty()
                     : shown == QStringLiteral("CW beacon: S") + frames.value(position - 1),
                 qPrintable(where));
    }
}

QTEST_MAIN(TestSoak)
#include "tst_soak.moc"
