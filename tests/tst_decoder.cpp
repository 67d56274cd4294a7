// The beacon format: which lines are frames and why the others are not, the
// line rule (whole and in pieces), the times lines start with, and the
// writers of CSV and JSON fields.

#include "decoder/decodeframe.h"
#include "decoder/frameoutput.h"
#include "decoder/lines.h"
#include "decoder/linescanner.h"
#include "decoder/utctime.h"

#include <QDateTime>
#include <QTest>

#include <cmath>

namespace {
const QString Twenty2 = QString(20, QLatin1Char('2'));
} // namespace

class TestDecoder : public QObject {
    Q_OBJECT
private slots:
    void verdicts_data();
    void verdicts();
    void lineRule_data();
    void lineRule();
    void times_data();
    void times();
    void timeFormatAgreesWithQDateTime();
    void channelsWithoutValue();
    void fieldWriters_data();
    void fieldWriters();
};

// Rows the sample log does not carry (its golden outputs show the others:
// lower case, blanks, text in front, 19 and 21 symbols, no S, "#", positions
// 16 to 18).
void TestDecoder::verdicts_data() {
    QTest::addColumn<QString>("line");
    QTest::addColumn<QString>("verdict"); // as kadrin-decode --status says it, record 1
    QTest::addColumn<QString>("frame");   // empty: no frame

    const QString afterTheSymbols = "near miss: text after the 20th symbol";
    QTest::newRow("trailing tab") << "SKADRIN" + Twenty2 + "\t" << afterTheSymbols << QString();
    QTest::newRow("1 symbol") << "SKADRIN2"
                              << "near miss: 1 symbol, 20 needed" << QString();
    QTest::newRow("0 symbols") << "SKADRIN"
                               << "near miss: 0 symbols, 20 needed" << QString();
    const QString early = "KADRINSKADRIN" + QString(13, u'2');
    QTest::newRow("name earlier, 26 from there")
        << early
        << "frame 1 with unreadable symbols: positions 7 'S', 8 'K', 11 'R', 12 'I', 13 'N'"
        << early;
    QTest::newRow("name earlier in the text")
        << "KADRIN pass 3: SKADRIN" + Twenty2 << afterTheSymbols << QString();
    QTest::newRow("two unreadable symbols")
        << "SKADRIN4JJC##DCA1238DC24FFF"
        << "frame 1 with unreadable symbols: positions 11 '#', 12 '#'"
        << "KADRIN4JJC##DCA1238DC24FFF";
    QTest::newRow("empty line") << QString() << "other" << QString();
    const QString noBreak = QString("KADRIN22222\u00a0") + QString(14, u'2');
    QTest::newRow("no-break space is no blank")
        << "S" + noBreak << "frame 1 with unreadable symbols: position 12 '\u00a0'" << noBreak;
    QTest::newRow("one character per code point") << "SKADRIN222222222\U0001F6F02222222222"
                                                  << "frame 1"
                                                  << "KADRIN222222222\U0001F6F02222222222";
    QTest::newRow("dotless i upper-cases to I") << "SKADR\u0131N" + Twenty2 << "frame 1"
                                                << "KADRIN" + Twenty2;
}

void TestDecoder::verdicts() {
    QFETCH(QString, line);
    QFETCH(QString, verdict);
    QFETCH(QString, frame);
    const LineVerdict whole = LineScanner::judge(line);
    QCOMPARE(verdictText(whole, 1), verdict);
    QCOMPARE(whole.frame ? whole.frame->text() : QString(), frame);
}

void TestDecoder::lineRule_data() {
    QTest::addColumn<QString>("text");
    QTest::addColumn<QStringList>("lines");
    QTest::newRow("empty text") << QString() << QStringList();
    QTest::newRow("CR LF") << "a\r\nb" << QStringList{"a", "b"};
    QTest::newRow("LF") << "a\nb" << QStringList{"a", "b"};
    QTest::newRow("lone CR") << "a\rb" << QStringList{"a", "b"};
    QTest::newRow("U+2028") << "a\u2028b" << QStringList{"a", "b"};
    QTest::newRow("U+2029") << "a\u2029b" << QStringList{"a", "b"};
    QTest::newRow("CR CR LF") << "a\r\r\nb" << QStringList{"a", QString(), "b"};
    QTest::newRow("LF CR") << "a\n\rb" << QStringList{"a", QString(), "b"};
    QTest::newRow("ends with a break") << "a\r\n" << QStringList{"a", QString()};
}

// The whole text, and the same text in two pieces cut at every place: a CR
// ending one piece and an LF starting the next are one line break.
void TestDecoder::lineRule() {
    QFETCH(QString, text);
    QFETCH(QStringList, lines);
    QStringList found;
    forEachLine(text, [&](QStringView line) { found.append(line.toString()); });
    QCOMPARE(found, lines);
    for (qsizetype cut = 0; cut <= text.size(); ++cut) {
        LineSplitter splitter;
        QStringList pieces{QString()};
        for (const QString &piece : {text.left(cut), text.mid(cut)})
            splitter.feed(
                piece, [&](QStringView part) { pieces.last() += part; },
                [&] { pieces.append(QString()); });
        if (text.isEmpty())
            pieces.clear();
        QVERIFY2(pieces == lines, qPrintable(QStringLiteral("cut after %1").arg(cut)));
    }
}

// The sample log carries the plain forms, the receive log, a fraction and
// 2026-02-30.
void TestDecoder::times_data() {
    QTest::addColumn<QString>("start"); // of the line, the frame after it
    QTest::addColumn<QString>("time");  // empty: the line has none
    QTest::newRow("minutes only") << QString("2026-12-05 21:07") << "2026-12-05T21:07:00Z";
    QTest::newRow("blanks first") << QString("  2026-12-05 21:07:53") << "2026-12-05T21:07:53Z";
    QTest::newRow("leap day") << QString("2024-02-29 23:59:59") << "2024-02-29T23:59:59Z";
    QTest::newRow("leap day in 2000") << QString("2000-02-29 12:00:00") << "2000-02-29T12:00:00Z";
    QTest::newRow("no leap day in 2100") << "2100-02-29 00:00:00" << QString();
    QTest::newRow("no hour 24") << "2026-12-05 24:00:00" << QString();
    QTest::newRow("an offset is no UTC") << "2026-12-05 21:07:53+01:00" << QString();
    QTest::newRow("a digit after the seconds") << "2026-12-05 21:07:531" << QString();
    QTest::newRow("a digit after the minutes") << "2026-12-05 21:071" << QString();
    QTest::newRow("a fraction without digits") << "2026-12-05 21:07:53." << QString();
    QTest::newRow("receive log without its Z") << "RX (2026-12-05 21:07): " << QString();
    QTest::newRow("broken seconds") << "2026-12-05 21:07:5" << QString();
    QTest::newRow("not at the start") << "QX0ZZ 2026-12-05 21:07:53" << QString();
    QTest::newRow("no time") << QString() << QString();
}

void TestDecoder::times() {
    QFETCH(QString, start);
    QFETCH(QString, time);
    const LineVerdict verdict = LineScanner::judge(start + " SKADRIN4JJCCDDCA1238DC24FFF");
    QVERIFY(verdict.isFrame());
    QCOMPARE(verdict.time ? QString::fromLatin1(isoUtcTime(*verdict.time)) : QString(), time);
}

// The calendar arithmetic against Qt's own, over four centuries.
void TestDecoder::timeFormatAgreesWithQDateTime() {
    for (qint64 seconds = -2208988800LL; seconds < 10413792000LL; seconds += 86400 * 7 + 3607) {
        const QString expected =
            QDateTime::fromSecsSinceEpoch(seconds, Qt::UTC).toString(Qt::ISODate);
        QCOMPARE(QString::fromLatin1(isoUtcTime(seconds)), expected);
        QCOMPARE(leadingUtcTime(expected).value_or(-1), seconds);
    }
}

// A symbol without row has no value, never a stale or a made-up one; the
// channels no field writes hold 0.
void TestDecoder::channelsWithoutValue() {
    const DecodedFrame decoded =
        decodeFrame(LineScanner::judge(u"SKADRIN01359BEOXW01359BEOXW").frame.value());
    QCOMPARE(decoded.values[0], 0.0);
    for (int channel = 1; channel <= 14; ++channel)
        QVERIFY2(std::isnan(decoded.values[size_t(channel)]), qPrintable(QString::number(channel)));
    for (int channel = 15; channel < ChannelCount; ++channel)
        QCOMPARE(decoded.values[size_t(channel)], 0.0);
}

// The field writers of the CSV and JSON forms, each row one text in both.
void TestDecoder::fieldWriters_data() {
    QTest::addColumn<QString>("text");
    QTest::addColumn<QByteArray>("csv");
    QTest::addColumn<QByteArray>("json");
    QTest::newRow("plain, blanks kept")
        << "idle  " << QByteArray("idle  ") << QByteArray("\"idle  \"");
    QTest::newRow("comma") << "a,b" << QByteArray("\"a,b\"") << QByteArray("\"a,b\"");
    QTest::newRow("quote") << "a\"b" << QByteArray("\"a\"\"b\"") << QByteArray("\"a\\\"b\"");
    QTest::newRow("lone CR") << "a\rb" << QByteArray("\"a\rb\"") << QByteArray("\"a\\rb\"");
    QTest::newRow("LF") << "a\nb" << QByteArray("\"a\nb\"") << QByteArray("\"a\\nb\"");
    QTest::newRow("backslash, tab, controls")
        << "\\\t\x01\x1f" << QByteArray("\\\t\x01\x1f") << QByteArray("\"\\\\\\t\\u0001\\u001f\"");
    QTest::newRow("U+0080 to U+009F")
        << "\u0080\u009f" << QByteArray("\xc2\x80\xc2\x9f") << QByteArray("\"\xc2\x80\xc2\x9f\"");
    QTest::newRow("e acute, U+2028, outside the BMP")
        << "\u00e9\u2028\U0001F6F0" << QByteArray("\xc3\xa9\xe2\x80\xa8\xf0\x9f\x9b\xb0")
        << QByteArray("\"\xc3\xa9\xe2\x80\xa8\xf0\x9f\x9b\xb0\"");
    QTest::newRow("lone surrogate")
        << QString(QChar(0xd800)) << QByteArray() << QByteArray("\"\\ud800\"");
}

void TestDecoder::fieldWriters() {
    QFETCH(QString, text);
    QFETCH(QByteArray, csv);
    QFETCH(QByteArray, json);
    if (!csv.isNull()) // a CSV field is given UTF-8: it never holds a lone surrogate
        QCOMPARE(csvField(text.toUtf8()), csv);
    QCOMPARE(jsonString(text), json);
}

QTEST_APPLESS_MAIN(TestDecoder)
#include "tst_decoder.moc"
