// The text of the beacon box without a window: edits, undo and redo checked
// against a plain string edited the same way, and received lines. Find is
// tested through the box's find bar (tst_beaconedit).

#include "textdoc/linedocument.h"

#include <QRandomGenerator>
#include <QTest>

class TestLineDocument : public QObject {
    Q_OBJECT
private slots:
    void randomEdits_data();
    void randomEdits();
    void receivedLinesStay_data();
    void receivedLinesStay();
};

void TestLineDocument::randomEdits_data() {
    QTest::addColumn<quint32>("seed");
    for (quint32 seed : {1u, 2u, 3u, 4u, 5u, 6u, 7u, 8u})
        QTest::addRow("seed %u", seed) << seed;
}

// The model keeps every text of the undo history, and where the typing that
// made each one ended (-1: no typing), so that a key right there merges.
void TestLineDocument::randomEdits() {
    QFETCH(quint32, seed);
    QRandomGenerator random(seed);
    LineDocument document;
    QStringList mirror{QString()}; // kept by the change signal's ranges
    connect(&document, &LineDocument::linesChanged, this, [&](int first, int removed, int added) {
        mirror.remove(first, removed);
        for (int i = 0; i < added; ++i)
            mirror.insert(first + i, document.line(first + i));
    });
    std::vector<QString> states{QString()};
    std::vector<int> typedEnds{-1};
    int done = 0, clean = 0;
    const QString pastes[] = {"S KADRIN", "x\ny", "\r\n", "a\rb\u2028c\u2029", ""};
    const QString lf[] = {"S KADRIN", "x\ny", "\n", "a\nb\nc\n", ""};
    for (int step = 0; step < 400; ++step) {
        const QString text = states[size_t(done)];
        const int action = random.bounded(10);
        const int typedEnd = typedEnds[size_t(done)];
        int from = typedEnd >= 0 && random.bounded(4) ? typedEnd : random.bounded(int(text.size()) + 1);
        int to = from, paste = -1;
        if (action >= 5 && action < 7) { // a paste over a range: never merges
            to += random.bounded(int(text.size()) - from + 1);
            paste = random.bounded(5);
        }
        if (action < 7) {
            const QString key(QChar(u'a' + random.bounded(26)));
            document.replace(document.positionOf(from), document.positionOf(to),
                             paste < 0 ? key : pastes[paste],
                             paste < 0 ? LineDocument::Edit::Typing : LineDocument::Edit::Paste);
            if (to > from || paste != 4) {
                const bool merge = paste < 0 && done > 0 && done != clean && typedEnd == from;
                done -= merge; // what was undone is gone; a merge replaces the last step
                states.resize(size_t(++done));
                typedEnds.resize(size_t(done));
                if (clean >= done)
                    clean = -1;
                states.push_back(QString(text).replace(from, to - from, paste < 0 ? key : lf[paste]));
                typedEnds.push_back(paste < 0 ? from + 1 : -1);
            }
        } else if (action == 7) {
            document.undo();
            done = std::max(done - 1, 0);
        } else if (action == 8) {
            document.redo();
            done = std::min(done + 1, int(states.size()) - 1);
        } else {
            document.setModified(false);
            clean = done;
        }
        QCOMPARE(document.toPlainText(), states[size_t(done)]);
        QCOMPARE(mirror.join(u'\n'), states[size_t(done)]);
        QCOMPARE(document.isModified(), done != clean);
    }
}

void TestLineDocument::receivedLinesStay_data() {
    QTest::addColumn<QString>("typed");
    QTest::addColumn<bool>("undoFirst");
    QTest::addColumn<QStringList>("texts"); // received, undone, redone
    QTest::addRow("a typed line, then lines received")
        << "abc\n" << false << QStringList{"abc\nR1\nR2\n", "R1\nR2\n", "abc\nR1\nR2\n"};
    QTest::addRow("typed on the last line, then lines received")
        << "ab" << false << QStringList{"ab\nR1\nR2", "\nR1\nR2", "ab\nR1\nR2"};
    QTest::addRow("undone, lines received, redone after them")
        << "x" << true << QStringList{"R1\nR2\n", "R1\nR2\n", "R1\nR2\nx"};
}

// Lines appended as received are not undone, and undo and redo of what was
// typed before them leave them as they are.
void TestLineDocument::receivedLinesStay() {
    QFETCH(QString, typed);
    QFETCH(bool, undoFirst);
    QFETCH(QStringList, texts);
    LineDocument document;
    for (QChar c : typed)
        document.replace(document.end(), document.end(), QString(c), LineDocument::Edit::Typing);
    if (undoFirst)
        document.undo();
    document.appendLines({QStringLiteral("R1"), QStringLiteral("R2")});
    QCOMPARE(document.toPlainText(), texts[0]);
    document.undo();
    QCOMPARE(document.toPlainText(), texts[1]);
    document.redo();
    QCOMPARE(document.toPlainText(), texts[2]);
}

QTEST_GUILESS_MAIN(TestLineDocument)
#include "tst_linedocument.moc"
