// The text of the beacon box without a window: edits, undo and redo checked
// against a plain string that is edited the same way, received lines, find.

#include "textdoc/linedocument.h"

#include <QRandomGenerator>
#include <QTest>

namespace {

// The model's line breaks: every break the decoder knows becomes LF.
QString withLf(QString text) {
    return text.replace(QStringLiteral("\r\n"), QStringLiteral("\n"))
        .replace(u'\r', u'\n')
        .replace(u'\u2028', u'\n')
        .replace(u'\u2029', u'\n');
}

TextPosition positionIn(const QString &text, int offset) {
    const QStringView before = QStringView(text).left(offset);
    const int line = int(before.count(u'\n'));
    return {line, int(offset - (before.lastIndexOf(u'\n') + 1))};
}

std::vector<QString> linesOf(const LineDocument &document) {
    std::vector<QString> lines;
    for (int i = 0; i < document.lineCount(); ++i)
        lines.push_back(document.line(i));
    return lines;
}

} // namespace

class TestLineDocument : public QObject {
    Q_OBJECT
private slots:
    void randomEdits_data();
    void randomEdits();
    void receivedLinesStay_data();
    void receivedLinesStay();
    void find_data();
    void find();
};

void TestLineDocument::randomEdits_data() {
    QTest::addColumn<quint32>("seed");
    for (quint32 seed : {1u, 2u, 3u, 4u, 5u, 6u, 7u, 8u})
        QTest::addRow("seed %u", seed) << seed;
}

// Undo history of the model: whole texts, and where the typing that made
// each one ended (-1: not typing), so that a key right after it merges.
void TestLineDocument::randomEdits() {
    QFETCH(quint32, seed);
    QRandomGenerator random(seed);
    LineDocument document;
    std::vector<QString> mirror = linesOf(document);
    connect(&document, &LineDocument::linesChanged, this, [&](int first, int removed, int added) {
        mirror.erase(mirror.begin() + first, mirror.begin() + first + removed);
        for (int i = 0; i < added; ++i)
            mirror.insert(mirror.begin() + first + i, document.line(first + i));
    });
    std::vector<QString> states{QString()};
    std::vector<int> typedEnds{-1};
    int done = 0;
    int clean = 0;
    const QString pastes[] = {QStringLiteral("S KADRIN"), QStringLiteral("x\ny"),
                              QStringLiteral("\r\n"), QStringLiteral("a\rb\u2028c\u2029"),
                              QString()};
    for (int step = 0; step < 400; ++step) {
        const QString &text = states[size_t(done)];
        const int action = random.bounded(10);
        if (action < 5) { // a typed character, mostly where the last one ended
            const int at = typedEnds[size_t(done)] >= 0 && random.bounded(4)
                               ? typedEnds[size_t(done)]
                               : random.bounded(int(text.size()) + 1);
            const QString key(QChar(u'a' + random.bounded(26)));
            document.replace(positionIn(text, at), positionIn(text, at), key,
                             LineDocument::Edit::Typing);
            QString next = text;
            next.insert(at, key);
            const bool merge = done > 0 && done != clean && typedEnds[size_t(done)] == at;
            // What was undone is gone; a merge replaces the last step.
            done -= merge;
            states.resize(size_t(++done));
            typedEnds.resize(size_t(done));
            if (clean >= done)
                clean = -1;
            states.push_back(next);
            typedEnds.push_back(at + 1);
        } else if (action < 7) { // a paste over a range: never merges
            const int from = random.bounded(int(text.size()) + 1);
            const int to = from + random.bounded(int(text.size()) - from + 1);
            const QString paste = pastes[random.bounded(5)];
            document.replace(positionIn(text, from), positionIn(text, to), paste);
            const QString next = QString(text).replace(from, to - from, withLf(paste));
            if (to > from || !paste.isEmpty()) {
                states.resize(size_t(++done));
                typedEnds.resize(size_t(done));
                if (clean >= done)
                    clean = -1;
                states.push_back(next);
                typedEnds.push_back(-1);
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
        QCOMPARE(document.isModified(), done != clean);
        QVERIFY(mirror == linesOf(document));
    }
}

void TestLineDocument::receivedLinesStay_data() {
    QTest::addColumn<QString>("typed");
    QTest::addColumn<bool>("undoFirst");
    QTest::addColumn<QString>("received");
    QTest::addColumn<QString>("undone");
    QTest::addColumn<QString>("redone");
    QTest::addRow("a typed line, then lines received")
        << "abc\n" << false << "abc\nR1\nR2\n" << "R1\nR2\n" << "abc\nR1\nR2\n";
    QTest::addRow("typed on the last line, then lines received")
        << "ab" << false << "ab\nR1\nR2" << "\nR1\nR2" << "ab\nR1\nR2";
    QTest::addRow("undone, lines received, redone after them")
        << "x" << true << "R1\nR2\n" << "R1\nR2\n" << "R1\nR2\nx";
}

// Lines appended as received are not undone, and undo and redo of what was
// typed before them do not change them.
void TestLineDocument::receivedLinesStay() {
    QFETCH(QString, typed);
    QFETCH(bool, undoFirst);
    QFETCH(QString, received);
    QFETCH(QString, undone);
    QFETCH(QString, redone);
    LineDocument document;
    for (QChar c : typed)
        document.replace(document.end(), document.end(), QString(c), LineDocument::Edit::Typing);
    if (undoFirst)
        document.undo();
    document.appendLines({QStringLiteral("R1"), QStringLiteral("R2")});
    QCOMPARE(document.toPlainText(), received);
    document.undo();
    QCOMPARE(document.toPlainText(), undone);
    document.redo();
    QCOMPARE(document.toPlainText(), redone);
}

void TestLineDocument::find_data() {
    QTest::addColumn<QString>("needle");
    QTest::addColumn<int>("fromLine");
    QTest::addColumn<int>("fromColumn");
    QTest::addColumn<bool>("backwards");
    QTest::addColumn<bool>("matchCase");
    QTest::addColumn<int>("line");
    QTest::addColumn<int>("column");
    QTest::addColumn<bool>("wrapped");
    // Text: "S KADRIN 2467" / "no frame" / "s kadrin 8ACD" / "Kadrin"
    QTest::addRow("next, any case") << "kadrin" << 0 << 3 << false << false << 2 << 2 << false;
    QTest::addRow("at the start position") << "kadrin" << 0 << 2 << false << false << 0 << 2 << false;
    QTest::addRow("next, case matched") << "KADRIN" << 0 << 3 << false << true << 0 << 2 << true;
    QTest::addRow("wraps to the top") << "kadrin" << 3 << 1 << false << false << 0 << 2 << true;
    QTest::addRow("previous") << "KADRIN" << 3 << 0 << true << false << 2 << 2 << false;
    QTest::addRow("previous in the line") << "a" << 0 << 5 << true << false << 0 << 3 << false;
    QTest::addRow("previous wraps to the end") << "drin" << 0 << 4 << true << false << 3 << 2 << true;
    QTest::addRow("only in the start line, before")
        << "2467" << 0 << 12 << false << false << 0 << 9 << true;
    QTest::addRow("no match") << "kadrim" << 0 << 0 << false << false << -1 << 0 << true;
    QTest::addRow("folded letters") << "FRAMe" << 0 << 0 << false << false << 1 << 3 << false;
}

void TestLineDocument::find() {
    QFETCH(QString, needle);
    QFETCH(int, fromLine);
    QFETCH(int, fromColumn);
    QFETCH(bool, backwards);
    QFETCH(bool, matchCase);
    QFETCH(int, line);
    QFETCH(int, column);
    QFETCH(bool, wrapped);
    LineDocument document;
    document.setLines({QStringLiteral("S KADRIN 2467"), QStringLiteral("no frame"),
                       QStringLiteral("s kadrin 8ACD"), QStringLiteral("Kadrin")});
    bool went = false;
    const TextPosition found =
        document.find(needle, {fromLine, fromColumn}, backwards,
                      matchCase ? Qt::CaseSensitive : Qt::CaseInsensitive, &went);
    QCOMPARE(found.line, line);
    if (line >= 0) {
        QCOMPARE(found.column, column);
        QCOMPARE(went, wrapped);
    }
}

QTEST_GUILESS_MAIN(TestLineDocument)
#include "tst_linedocument.moc"
