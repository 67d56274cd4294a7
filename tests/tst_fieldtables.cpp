// Every row of every field table at every position that uses it. The
// expected rows are written out here as the beacon format defines them,
// independently of the tables in the decoder.

#include "decoder/decodefield.h"
#include "history/telemetryrecord.h"

#include <QTest>

#include <algorithm>
#include <cmath>

namespace {

struct Row {
    const char *symbol;
    const char *text;
    double value;
};

struct Field {
    int position;
    const char *prefix;
    int channel; // 0: mode field
    const char *unknownOpening;
};

const Row BatteryVoltage[] = {{"2", "<= 3000 mV", 2958},         {"4", "3001 mV .. 3085 mV", 3042},
                              {"6", "3086 mV .. 3171 mV", 3128}, {"7", "3172 mV .. 3256 mV", 3214},
                              {"8", "3257 mV .. 3342 mV", 3299}, {"A", "3343 mV .. 3428 mV", 3385},
                              {"C", "3429 mV .. 3513 mV", 3471}, {"D", "3514 mV .. 3599 mV", 3556},
                              {"F", "3600 mV .. 3685 mV", 3642}, {"G", "3686 mV .. 3770 mV", 3728},
                              {"J", "3771 mV .. 3856 mV", 3813}, {"L", "3857 mV .. 3942 mV", 3899},
                              {"P", "3943 mV .. 4027 mV", 3985}, {"Q", "4028 mV .. 4113 mV", 4070},
                              {"Y", "4114 mV .. 4199 mV", 4156}, {"Z", ">= 4200 mV", 4242}};

const Row BatteryTemperature[] = {
    {"2", "<= -20 C", -22},    {"4", "-19 .. -15 C", -17}, {"6", "-14 .. -9 C", -11.5},
    {"7", "-8 .. -4 C", -6},   {"8", "-3 .. 2 C", -0.5},   {"A", "3 .. 8 C", 5.5},
    {"C", "9 .. 13 C", 11},    {"D", "14 .. 19 C", 16.5},  {"F", "20 .. 25 C", 22.5},
    {"G", "26 .. 30 C", 28},   {"J", "31 .. 36 C", 33.5},  {"L", "37 .. 42 C", 39.5},
    {"P", "43 .. 47 C", 45.5}, {"Q", "48 .. 53 C", 50.5},  {"Y", "54 .. 59 C", 56.5},
    {"Z", ">= 60 C", 62}};

const Row SolarPanelTemperature[] = {
    {"2", "<= -40 C", -45},       {"4", "-39 .. -31 C", -35}, {"6", "-30 .. -21 C", -25.5},
    {"7", "-20 .. -11 C", -15.5}, {"8", "-10 .. -1 C", -5.5}, {"A", "0 .. 9 C", 4.5},
    {"C", "10 .. 19 C", 14.5},    {"D", "20 .. 29 C", 24.5},  {"F", "30 .. 39 C", 34.5},
    {"G", "40 .. 49 C", 44.5},    {"J", "50 .. 59 C", 54.5},  {"L", "60 .. 69 C", 64.5},
    {"P", "70 .. 79 C", 74.5},    {"Q", "80 .. 89 C", 84.5},  {"Y", "90 .. 99 C", 94.5},
    {"Z", ">= 100 C", 105}};

const Row McuTemperature[] = {
    {"2", "<= -40 C", -45},     {"4", "-39 .. -32 C", -35.5}, {"6", "-31 .. -23 C", -27},
    {"7", "-22 .. -14 C", -18}, {"8", "-13 .. -5 C", -9},     {"A", "-4 .. 4 C", 0},
    {"C", "5 .. 13 C", 9},      {"D", "14 .. 22 C", 18},      {"F", "23 .. 30 C", 26.5},
    {"G", "31 .. 39 C", 35},    {"J", "47 .. 54 C", 50.5},    {"L", "55 .. 61 C", 58},
    {"P", "62 .. 69 C", 65.5},  {"Q", "70 .. 76 C", 73},      {"Y", "77 .. 84 C", 80.5},
    {"Z", ">= 85 C", 89}};

const Row GyroRate[] = {{"2", "<= -32 rad/s", -45},
                        {"4", "-31.9 .. -27.5 rad/s", -29.7},
                        {"6", "-27.4 .. -22.9 rad/s", -25.15},
                        {"7", "-22.8 .. -18.3 rad/s", -20.55},
                        {"8", "-18.2 .. -13.8 rad/s", -16},
                        {"A", "-13.7 .. -9.2 rad/s", -11.45},
                        {"C", "-9.1 .. -4.6 rad/s", -6.85},
                        {"D", "-4.5 .. -0.1 rad/s", -2.3},
                        {"F", "0 .. 4.5 rad/s", 2.25},
                        {"G", "4.6 .. 9.1 rad/s", 6.85},
                        {"J", "9.2 .. 13.7 rad/s", 11.45},
                        {"L", "13.8 .. 18.2 rad/s", 16},
                        {"P", "18.3 .. 22.8 rad/s", 20.55},
                        {"Q", "22.9 .. 27.4 rad/s", 25.15},
                        {"Y", "27.5 .. 31.9 rad/s", 29.7},
                        {"Z", ">= 32 rad/s", 33}};

const double None = std::nan("");

const Row SatelliteMode[] = {
    {"2", "Normal Mode", None}, {"4", "Safe-hold Mode", None}, {"6", "Emergency", None}};

const Row TorquerMode[] = {
    {"2", "sun tracking", None}, {"4", "nadir pointing", None}, {"6", "target pointing", None},
    {"7", "detumbling", None},   {"8", "idle  ", None},         {"A", "momentum dumping", None},
    {"C", "debug", None}};

const Row WheelMode[] = {
    {"2", "sun tracking", None}, {"4", "nadir pointing", None}, {"6", "target pointing", None},
    {"7", "detumbling", None},   {"8", "idle", None},           {"A", "momentum dumping", None},
    {"C", "debug", None}};

struct TableUse {
    const char *table;
    const Row *rows;
    int rowCount;
    std::initializer_list<Field> fields;
};

const TableUse Tables[] = {
    {"SatelliteModes", SatelliteMode, 3, {{7, "Satellite Mode", 0, ": unknown("}}},
    {"BatteryVoltageLevels",
     BatteryVoltage,
     16,
     {{8, "Battery Voltage Cell 1", 1, ": unknown("},
      {9, "Battery Voltage Cell 2", 2, ": unknown("}}},
    {"BatteryTemperatureLevels",
     BatteryTemperature,
     16,
     {{10, "Battery Temperature Cell 1", 3, ": unknown("},
      {11, "Battery Temperature Cell 2", 4, ": unknown("}}},
    {"SolarPanelTemperatureLevels",
     SolarPanelTemperature,
     16,
     {{12, "Solar Panel 1 Temperature", 5, ": unknown("},
      {13, "Solar Panel 2 Temperature", 6, ": unknown("},
      {14, "Solar Panel 3 Temperature", 7, ": unknown("},
      {15, "Solar Panel 4 Temperature", 8, ": unknown("}}},
    {"McuTemperatureLevels",
     McuTemperature,
     16,
     {{19, "MCU PWRS Temperature", 9, ": unknown("},
      {20, "MCU OBDH Temperature", 10, ": unknown("},
      {21, "MCU ADCS Temperature", 11, ": unknown("}}},
    {"MagneticTorquerModes", TorquerMode, 7, {{22, "Magnetic Torquers Mode", 0, ": unknown("}}},
    {"ReactionWheelModes", WheelMode, 7, {{23, "Reaction Wheels Mode", 0, ": unknown ("}}},
    {"GyroRateLevels",
     GyroRate,
     16,
     {{24, "Gyro X", 12, ": unknown("},
      {25, "Gyro Y", 13, ": unknown("},
      {26, "Gyro Z", 14, ": unknown("}}},
};

const char *const Alphabet[] = {"2", "4", "6", "7", "8", "A", "C", "D",
                                "F", "G", "J", "L", "P", "Q", "Y", "Z"};

// A frame of twenty "2"s with one symbol replaced.
BeaconFrame frameWith(int position, const QString &symbol) {
    QString line = QStringLiteral("SKADRIN") + QString(20, QLatin1Char('2'));
    line.replace(position, 1, symbol); // position p of the frame is index p of "S" + frame
    return *BeaconFrame::recognize(line);
}

// Report line of the field at a position: lines are the header, then the
// fields in frame order.
int reportLineOf(int position) {
    const int positions[] = {7, 8, 9, 10, 11, 12, 13, 14, 15, 19, 20, 21, 22, 23, 24, 25, 26};
    return int(std::find(std::begin(positions), std::end(positions), position) - positions) + 1;
}

} // namespace

class TestFieldTables : public QObject {
    Q_OBJECT
private slots:
    void everyRow_data();
    void everyRow();
    void unknownSymbols_data();
    void unknownSymbols();
};

void TestFieldTables::everyRow_data() {
    QTest::addColumn<int>("position");
    QTest::addColumn<QString>("symbol");
    QTest::addColumn<QString>("statement");
    QTest::addColumn<int>("channel");
    QTest::addColumn<double>("value");

    for (const TableUse &use : Tables) {
        for (int level = 0; level < use.rowCount; ++level) {
            const Row &row = use.rows[level];
            for (const Field &field : use.fields) {
                const QString statement =
                    QLatin1String(field.prefix) + QLatin1String(": ") + QLatin1String(row.text);
                QTest::addRow("%s %s at %d", use.table, row.symbol, field.position)
                    << field.position << QString::fromLatin1(row.symbol) << statement
                    << field.channel << row.value;
                if (QChar(QLatin1Char(row.symbol[0])).isLetter())
                    QTest::addRow("%s lower-case %s at %d", use.table, row.symbol, field.position)
                        << field.position << QString::fromLatin1(row.symbol).toLower() << statement
                        << field.channel << row.value;
            }
        }
    }
}

void TestFieldTables::everyRow() {
    QFETCH(int, position);
    QFETCH(QString, symbol);
    QFETCH(QString, statement);
    QFETCH(int, channel);
    QFETCH(double, value);

    TelemetryRecord record;
    DecodeFrame(frameWith(position, symbol), record);
    QCOMPARE(record.reportLines().value(reportLineOf(position)), statement);
    if (channel > 0)
        QCOMPARE(record.Values[channel], value);
    // Nothing else than the field's own channel depends on this symbol.
    TelemetryRecord allTwos;
    DecodeFrame(frameWith(position, QStringLiteral("2")), allTwos);
    for (int c = 0; c < TelemetryRecord::ChannelCount; ++c)
        if (c != channel)
            QCOMPARE(record.Values[c], allTwos.Values[c]);
}

void TestFieldTables::unknownSymbols_data() {
    QTest::addColumn<int>("position");
    QTest::addColumn<QString>("symbol");
    QTest::addColumn<QString>("statement");
    QTest::addColumn<int>("channel");

    for (const TableUse &use : Tables) {
        QStringList outside = {QStringLiteral("0"), QStringLiteral("1"),     QStringLiteral("3"),
                               QStringLiteral("5"), QStringLiteral("9"),     QStringLiteral("B"),
                               QStringLiteral("E"), QStringLiteral("O"),     QStringLiteral("X"),
                               QStringLiteral("#"), QStringLiteral("\u00c9")};
        for (int level = use.rowCount; level < 16; ++level)
            outside.append(QLatin1String(Alphabet[level])); // symbols a mode field does not use
        for (const Field &field : use.fields)
            for (const QString &symbol : outside)
                QTest::addRow("%s at %d", qPrintable(symbol), field.position)
                    << field.position << symbol
                    << QLatin1String(field.prefix) + QLatin1String(field.unknownOpening) + symbol +
                           QLatin1Char(')')
                    << field.channel;
    }
    QTest::newRow("lower-case x shown upper-case")
        << 11 << QStringLiteral("x") << QStringLiteral("Battery Temperature Cell 2: unknown(X)")
        << 4;
}

void TestFieldTables::unknownSymbols() {
    QFETCH(int, position);
    QFETCH(QString, symbol);
    QFETCH(QString, statement);
    QFETCH(int, channel);

    TelemetryRecord record;
    record.Values.fill(7.0); // whatever an earlier frame left there
    DecodeFrame(frameWith(position, symbol), record);
    QCOMPARE(record.reportLines().value(reportLineOf(position)), statement);
    if (channel > 0)
        QVERIFY2(std::isnan(record.Values[channel]), "an unknown symbol has no value");
    QCOMPARE(record.Values[0], 0.0);
    for (int c = 15; c < TelemetryRecord::ChannelCount; ++c)
        QCOMPARE(record.Values[c], 0.0);
}

QTEST_APPLESS_MAIN(TestFieldTables)
#include "tst_fieldtables.moc"
