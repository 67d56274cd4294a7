// Recognition of a beacon frame in one line.

#include "decoder/beaconframe.h"
#include "decoder/decodepass.h"

#include <QTest>

class TestBeaconFrame : public QObject {
    Q_OBJECT
private slots:
    void recognize_data();
    void recognize();
    void lineBreaks_data();
    void lineBreaks();
};

void TestBeaconFrame::recognize_data() {
    QTest::addColumn<QString>("line");
    QTest::addColumn<QString>("frame"); // empty: no frame

    const QString twenty2 = QString(20, QLatin1Char('2'));
    const QString clean = QStringLiteral("KADRIN") + twenty2;

    QTest::newRow("clean frame") << QStringLiteral("SKADRIN") + twenty2 << clean;
    QTest::newRow("lower-case frame") << QStringLiteral("skadrin24678acdfgjlpqyz2468")
                                      << QStringLiteral("KADRIN24678ACDFGJLPQYZ2468");
    QTest::newRow("blanks everywhere")
        << QStringLiteral(" S KAD RIN 2 4 6 7 8   AC DFGJ LPQY Z246 8 ")
        << QStringLiteral("KADRIN24678ACDFGJLPQYZ2468");
    QTest::newRow("time stamp in front")
        << QStringLiteral("2026-12-05 21:14:07 UTC  SKADRIN ") + twenty2 << clean;
    QTest::newRow("call sign in front") << QStringLiteral("QX0ZZ de SKADRIN") + twenty2 << clean;
    QTest::newRow("21 symbols") << QStringLiteral("SKADRIN") + twenty2 + QStringLiteral("2")
                                << QString();
    QTest::newRow("19 symbols") << QStringLiteral("SKADRIN") + QString(19, QLatin1Char('2'))
                                << QString();
    QTest::newRow("comment after the frame")
        << QStringLiteral("SKADRIN") + twenty2 + QStringLiteral(" ok") << QString();
    QTest::newRow("trailing tab") << QStringLiteral("SKADRIN") + twenty2 + QStringLiteral("\t")
                                  << QString();
    QTest::newRow("trailing lone CR")
        << QStringLiteral("SKADRIN") + twenty2 + QStringLiteral("\r") << QString();
    QTest::newRow("trailing blanks")
        << QStringLiteral("SKADRIN") + twenty2 + QStringLiteral("   ") << clean;
    QTest::newRow("no S before the name") << QStringLiteral("XKADRIN") + twenty2 << QString();
    QTest::newRow("name only, no S at all") << QStringLiteral("KADRIN") + twenty2 << QString();
    QTest::newRow("S separated by blank") << QStringLiteral("S KADRIN") + twenty2 << clean;
    QTest::newRow("S separated by tab") << QStringLiteral("S\tKADRIN") + twenty2 << QString();
    QTest::newRow("KADRIN earlier in a time stamp")
        << QStringLiteral("KADRIN pass 3: SKADRIN") + twenty2 << QString();
    QTest::newRow("KADRIN earlier, 26 from there")
        << QStringLiteral("KADRINSKADRIN") + QString(13, QLatin1Char('2'))
        << QStringLiteral("KADRINSKADRIN") + QString(13, QLatin1Char('2'));
    QTest::newRow("two frames on one line")
        << QStringLiteral("SKADRIN") + twenty2 + QStringLiteral("SKADRIN") + twenty2 << QString();
    QTest::newRow("positions 16-18 hold anything") << QStringLiteral("SKADRIN222222222#?x22222222")
                                                   << QStringLiteral("KADRIN222222222#?X22222222");
    QTest::newRow("symbols outside the alphabet") << QStringLiteral("SKADRIN01359BEOXW01359BEOXW")
                                                  << QStringLiteral("KADRIN01359BEOXW01359BEOXW");
    QTest::newRow("empty line") << QString() << QString();
    QTest::newRow("blanks only") << QString(40, QLatin1Char(' ')) << QString();
    QTest::newRow("no-break space is no blank")
        << QStringLiteral("SKADRIN22222\u00a0") + QString(15, QLatin1Char('2')) << QString();
    QTest::newRow("one character per code point")
        << QStringLiteral("SKADRIN222222222\U0001F6F0") + QStringLiteral("2222222222")
        << QStringLiteral("KADRIN222222222\U0001F6F0") + QStringLiteral("2222222222");
    QTest::newRow("sharp s stays one character")
        << QStringLiteral("SKADRIN222222222\u00df") + QStringLiteral("2222222222")
        << QStringLiteral("KADRIN222222222\u00df") + QStringLiteral("2222222222");
    QTest::newRow("dotless i upper-cases to I")
        << QStringLiteral("SKADR\u0131N") + twenty2 << clean;
    QTest::newRow("lone surrogate is one character")
        << QStringLiteral("SKADRIN222222222") + QChar(0xd800) + QStringLiteral("2222222222")
        << QStringLiteral("KADRIN222222222") + QChar(0xd800) + QStringLiteral("2222222222");
}

void TestBeaconFrame::recognize() {
    QFETCH(QString, line);
    QFETCH(QString, frame);
    const auto found = BeaconFrame::recognize(line);
    QCOMPARE(found.has_value(), !frame.isEmpty());
    if (found)
        QCOMPARE(found->text(), frame);
}

void TestBeaconFrame::lineBreaks_data() {
    QTest::addColumn<QString>("text");
    QTest::addColumn<QStringList>("lines");

    QTest::newRow("empty text") << QString() << QStringList();
    QTest::newRow("one line") << QStringLiteral("abc") << QStringList{QStringLiteral("abc")};
    QTest::newRow("CR LF") << QStringLiteral("a\r\nb")
                           << QStringList{QStringLiteral("a"), QStringLiteral("b")};
    QTest::newRow("LF") << QStringLiteral("a\nb")
                        << QStringList{QStringLiteral("a"), QStringLiteral("b")};
    QTest::newRow("lone CR stays")
        << QStringLiteral("a\rb\r") << QStringList{QStringLiteral("a\rb\r")};
    QTest::newRow("CR CR LF") << QStringLiteral("a\r\r\nb")
                              << QStringList{QStringLiteral("a\r"), QStringLiteral("b")};
    QTest::newRow("trailing CR LF gives empty last line")
        << QStringLiteral("a\r\n") << QStringList{QStringLiteral("a"), QString()};
    QTest::newRow("LF alone") << QStringLiteral("\n") << QStringList{QString(), QString()};
}

void TestBeaconFrame::lineBreaks() {
    QFETCH(QString, text);
    QFETCH(QStringList, lines);
    QStringList found;
    forEachLine(text, [&](QStringView line) { found.append(line.toString()); });
    QCOMPARE(found, lines);
}

QTEST_APPLESS_MAIN(TestBeaconFrame)
#include "tst_beaconframe.moc"
