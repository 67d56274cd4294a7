// Listening and recordings in the window: audio made by kadrin-cwgen, fed
// through the same stream a sound card's audio takes, or written to a file.

#include "app/audiosession.h"
#include "app/beaconedit.h"
#include "app/form1.h"
#include "app/sourceswitch.h"
#include "cwgen/generator.h"
#include "listen/audiosource.h"
#include "windowtest.h"

#include <QBuffer>
#include <QDockWidget>
#include <QProcess>
#include <QProgressDialog>
#include <QPushButton>
#include <QRegularExpression>
#include <QScreen>
#include <QTemporaryDir>
#include <QTest>

using namespace windowtest;

namespace {

const QString Frame = QStringLiteral("S KADRIN 2J6467YDPYZJ72P48QD7");
const QString Call = QStringLiteral("CQ DE QX0ZZ <SK>");
// 2026-12-05 21:07:50 UTC, when listening starts.
constexpr qint64 Started = 1796504870000;

QAudioFormat format(int rate, int channels, QAudioFormat::SampleFormat sample) {
    QAudioFormat f;
    f.setSampleRate(rate);
    f.setChannelCount(channels);
    f.setSampleFormat(sample);
    return f;
}

} // namespace

class TestListen : public QObject {
    Q_OBJECT
private slots:
    void init();
    void cleanup();
    void mixesToMono_data();
    void mixesToMono();
    void listensLineByLine();
    void refusesWhatItCannotHear();
    void opensARecording();
    void cancelsARecording();
    void cutRecordingKeepsItsLines();
    void listensWhileAMessageIsOpen();

private:
    BeaconEdit *text2() { return window->findChild<BeaconEdit *>(QStringLiteral("Text2")); }
    QString menuText(const char *name) {
        return window->findChild<QAction *>(QLatin1String(name))->text();
    }
    QString status() { return statusText(window.get()); }
    QStringList boxLines() {
        QStringList lines;
        for (int i = 0; i < text2()->lineCount(); ++i)
            lines.append(text2()->line(i));
        return lines;
    }
    // A recording of the texts in clean noise, gapSeconds before, between and after them.
    QString recording(const QString &name, const QStringList &texts, double gapSeconds = 2.5);

    QTemporaryDir dir;
    std::unique_ptr<Form1> window;
};

void TestListen::init() {
    window = std::make_unique<Form1>(Configuration{QStringLiteral("/tmp/"), true});
    window->show();
    QVERIFY(QTest::qWaitForWindowExposed(window.get()));
}

void TestListen::cleanup() {
    forgetAnswers();
    text2()->setModified(false);
    window.reset();
}

QString TestListen::recording(const QString &name, const QStringList &texts, double gapSeconds) {
    cwgen::Settings settings;
    settings.snrDb = 10;
    settings.gapSeconds = gapSeconds;
    settings.seed = 7;
    cwgen::Generator generator;
    const QString path = dir.filePath(name);
    QString error;
    if (!generator.plan(settings, texts) || !cwgen::writeFile(generator, path, &error))
        return QString();
    return path;
}

// Full scale is 1 in every format; channels are averaged.
void TestListen::mixesToMono_data() {
    QTest::addColumn<QAudioFormat::SampleFormat>("sample");
    QTest::addColumn<QByteArray>("frame"); // one stereo frame: left, right
    QTest::addColumn<float>("mono");
    QTest::newRow("unsigned 8 bit") << QAudioFormat::UInt8 << QByteArray("\xc0\x80", 2) << 0.25f;
    QTest::newRow("16 bit") << QAudioFormat::Int16 << QByteArray("\x00\x80\x00\x40", 4) << -0.25f;
    QTest::newRow("32 bit") << QAudioFormat::Int32 << QByteArray("\0\0\0\x40\0\0\0\x40", 8) << 0.5f;
    QTest::newRow("float") << QAudioFormat::Float << QByteArray("\0\0\x80\x3f\0\0\0\0", 8) << 0.5f;
}

void TestListen::mixesToMono() {
    QFETCH(QAudioFormat::SampleFormat, sample);
    QFETCH(QByteArray, frame);
    QFETCH(float, mono);
    QList<float> out;
    appendMono(frame.constData(), 1, format(8000, 2, sample), out);
    QCOMPARE(out, QList<float>{mono});
}

// Lines come as their transmissions end, with the time of their first
// element counted from the start; each is in the listen log of its own UTC
// day as soon as it is in the box. The stream comes in pieces that end
// inside a sample. Its end stops listening and says so.
void TestListen::listensLineByLine() {
    QProcess writer;
    // Pieces of 30,001 bytes, each ending inside a sample, a moment apart.
    writer.start(
        "sh", {"-c",
               QStringLiteral("\"$0\" --text '%1' --text '%2' --snr 10 --gap 2.5 --seed 7 --rate "
                              "11025 --channels 2 - > \"$1\"; n=0; while [ $((n * 30001)) -lt "
                              "$(stat -c %s \"$1\") ]; do dd if=\"$1\" bs=30001 skip=$n count=1 "
                              "2>/dev/null; n=$((n+1)); sleep 0.002; done")
                   .arg(Frame, Call),
               KADRIN_CWGEN_PATH, dir.filePath("pcm")});
    QVERIFY(writer.waitForStarted());
    ListenSession &session = window->sources().audio().listenSession();
    session.setFolder(dir.filePath("data"));
    session.setClock([] { return Started + (2 * 3600 + 52 * 60) * 1000; }); // 23:59:50
    // What the logs hold on disk as each line is handed on.
    const auto logOf = [this](const char *day) {
        return QString::fromUtf8(
            readFile(dir.filePath(QString("data/listen-2026-12-0%1.log").arg(day))));
    };
    QStringList logged;
    connect(&session, &ListenSession::lineCopied, this,
            [&] { logged << logOf("5") + QLatin1Char('|') + logOf("6"); });
    BoxSeen told;
    answerBox(QMessageBox::Ok, &told);
    QVERIFY(window->sources().audio().listen(
        std::make_unique<PcmStream>("cwgen", &writer, format(11025, 2, QAudioFormat::Int16))));
    QCOMPARE(menuText("MnuListen"), "Stop Listening");
    QVERIFY(status().contains(dir.filePath("data/listen-2026-12-05.log")));

    QTRY_VERIFY_WITH_TIMEOUT(!window->sources().audio().listening(), 30000);
    QCOMPARE(menuText("MnuListen"), "Listen...");
    QTRY_COMPARE_WITH_TIMEOUT(told.text, "Listening stopped: cwgen: the audio stream ended",
                              DialogWaitMs);
    // The generator keys the frame from 2.5 s and the call from 27.02 s
    // (its own list of what it sent).
    writer.waitForFinished();
    const QList<QByteArray> sent = writer.readAllStandardError().split('\n');
    QCOMPARE(sent.value(1).left(7), QByteArray("27.0200"));
    const QString first = "2026-12-05 23:59:52  " + Frame;
    const QString second = "2026-12-06 00:00:17  " + Call;
    QCOMPARE(boxLines(), (QStringList{first, second, QString()}));
    QCOMPARE(logged, (QStringList{first + "\n|", first + "\n|" + second + '\n'}));
    const QString tooltip =
        tooltipAt(text2()->viewport(), {40, text2()->fontMetrics().lineSpacing() / 2});
    QVERIFY2(tooltip.startsWith("frame 1, 2026-12-05 23:59:52 UTC\nSNR "), qPrintable(tooltip));
    QVERIFY2(tooltip.endsWith(" dB, tone 800 Hz"), qPrintable(tooltip));
}

// A source that cannot start is named with the reason; the typed text stays.
void TestListen::refusesWhatItCannotHear() {
    text2()->setPlainText("typed");
    QBuffer line;
    QVERIFY(line.open(QIODevice::ReadOnly));
    BoxSeen told;
    answerBox(QMessageBox::Ok, &told);
    QVERIFY(!window->sources().audio().listen(
        std::make_unique<PcmStream>("line in", &line, format(96000, 1, QAudioFormat::Int16))));
    QTRY_VERIFY_WITH_TIMEOUT(told.seen, DialogWaitMs);
    QCOMPARE(told.text, "line in: the audio format is not one the copier reads "
                        "(8 to 48 kHz, 8, 16 or 32 bit)");
    QCOMPARE(menuText("MnuListen"), "Listen...");
    QCOMPARE(boxLines(), QStringList{"typed"});
}

// Open Recording copies in the background and then replaces the text; the
// question is asked first when the text was typed meanwhile, and a copy the
// operator does not let in is kept for the next Open Recording of the file.
// The file's name gives the times, the status line what was found; the text
// is saved beside the recording, never over it unasked; the signal panel
// goes under the window's own area, which keeps its height.
void TestListen::opensARecording() {
    const QString path = recording("pass_2026-12-05T21-07-50.flac", {Frame, Call});
    QVERIFY(!path.isEmpty());
    answerDialog(path);
    window->findChild<QAction *>("MnuRecording")->trigger();
    QTest::keyClicks(text2(), "x"); // the window stays usable
    BoxSeen asked;
    answerBox(QMessageBox::Cancel, &asked);
    QTRY_VERIFY_WITH_TIMEOUT(asked.seen, 20000);
    QCOMPARE(asked.text, "Save the beacon text?");
    QCOMPARE(boxLines(), QStringList{"x"});
    QVERIFY(status().startsWith("The copy of pass_2026-12-05T21-07-50.flac was not shown"));
    answerBox(QMessageBox::Discard);
    window->sources().openRecording(path);
    QCOMPARE(boxLines(), (QStringList{"2026-12-05 21:07:52  " + Frame,
                                      "2026-12-05 21:08:17  " + Call, QString()}));
    QVERIFY2(status().startsWith("Opened pass_2026-12-05T21-07-50.flac: tone 800 Hz, 20 WPM, SNR "),
             qPrintable(status()));
    QVERIFY(status().endsWith("2 lines, 1 frame; in " + dir.path()));

    QString offered;
    whenShown<QFileDialog>([&](QFileDialog *dialog) {
        offered = dialog->selectedFiles().value(0);
        dialog->reject();
    });
    window->findChild<QAction *>("MnuSave")->trigger();
    QCOMPARE(offered, dir.filePath("pass_2026-12-05T21-07-50.txt"));
    const qint64 size = QFileInfo(path).size();
    BoxSeen warned;
    answerDialog(path);
    answerBox(QMessageBox::Yes); // the file dialog's own question: replace it
    answerBox(QMessageBox::No, &warned);
    window->findChild<QAction *>("MnuSave")->trigger();
    QCOMPARE(warned.text, path + " is the recording this text was copied from. "
                                 "Replace the recording by the beacon text?");
    QCOMPARE(QFileInfo(path).size(), size);

    // No blank band opens in the window's own area, and the window fits the screen.
    QCOMPARE(window->centralWidget()->height(), 783);
    QVERIFY(window->screen()->availableGeometry().contains(window->frameGeometry()));
    const int height = window->height();
    window->findChild<QDockWidget *>("SignalDock")->close();
    window->sources().openRecording(path);
    QTRY_VERIFY_WITH_TIMEOUT(status().startsWith("Opened "), 20000);
    QCOMPARE(window->height(), height);
}

// Cancel stops the copy where it is (the status line says how far it got);
// the text is left as it was.
void TestListen::cancelsARecording() {
    const QString path = recording("long.wav", {Call}, 300); // ten minutes of noise around it
    QVERIFY(!path.isEmpty());
    text2()->setPlainText("kept");
    text2()->setModified(false);
    window->sources().openRecording(path);
    auto *progress = window->findChild<QProgressDialog *>("RecordingProgress");
    QVERIFY(progress && progress->isVisible());
    progress->findChild<QPushButton *>()->click();
    const QRegularExpressionMatch cancelled =
        QRegularExpression(QStringLiteral("^Copying %1 cancelled after (\\d+):\\d\\d of audio$")
                               .arg(QRegularExpression::escape(path)))
            .match(status());
    QVERIFY2(cancelled.hasMatch() && cancelled.captured(1).toInt() < 10, qPrintable(status()));
    // A log opened while a recording is copied wins: the copy is cancelled.
    const QString log = dir.filePath("opened.log");
    QVERIFY(writeFile(log, "opened\n"));
    window->sources().openRecording(path);
    window->sources().openLog(log);
    QTest::qWait(300);
    QCOMPARE(boxLines(), (QStringList{"opened", QString()}));
    QCOMPARE(status(), "Opened " + log);
}

// A recording cut short: the lines copied before the cut are shown, then a
// message says what happened; no progress box is left behind it.
void TestListen::cutRecordingKeepsItsLines() {
    const QString path = recording("cut.flac", {Frame, Call});
    QVERIFY(QFile::resize(path, QFileInfo(path).size() * 3 / 4)); // in the call, after the frame
    QString told;
    bool progressShown = true;
    whenShown<QMessageBox>([&](QMessageBox *box) {
        auto *progress = window->findChild<QProgressDialog *>("RecordingProgress");
        progressShown = progress && progress->isVisible();
        told = box->text();
        box->accept();
    });
    window->sources().openRecording(path);
    QTRY_VERIFY_WITH_TIMEOUT(!told.isEmpty(), 20000);
    QVERIFY(!progressShown);
    QVERIFY2(told.startsWith(path + ": cannot read: damaged audio after "), qPrintable(told));
    QCOMPARE(boxLines().value(0), Frame);
}

// Lines that cannot go into the listen log are the box's only copy: they
// count as unsaved and the status line says so. The message saying it
// comes with the line already in the box, and listening goes on while it
// is open.
void TestListen::listensWhileAMessageIsOpen() {
    const QString folder = dir.filePath("blocked");
    QVERIFY(QDir().mkpath(folder + "/listen-2026-12-05.log")); // a folder in its place
    // The input stays open after the calls, as a sound card's does. The call
    // is keyed 4.5 s in: a key edge on a whole second is dated either side.
    QProcess writer;
    writer.start("sh", {"-c",
                        QStringLiteral("\"$0\" --text '%1' --snr 10 --gap 4.5 - && sleep 0.3 && "
                                       "\"$0\" --text TEST --snr 10 --gap 4 - && sleep 60")
                            .arg(Call),
                        KADRIN_CWGEN_PATH});
    ListenSession &session = window->sources().audio().listenSession();
    session.setFolder(folder);
    session.setFiguresInterval(50);
    session.setClock([] { return Started; });
    QStringList atMessage;
    bool secondWhileOpen = false;
    QString message;
    whenShown<QMessageBox>([&](QMessageBox *box) {
        atMessage = boxLines();
        message = box->text();
        secondWhileOpen = QTest::qWaitFor([&] { return text2()->lineCount() == 3; }, DialogWaitMs);
        box->accept();
    });
    QVERIFY(window->sources().audio().listen(
        std::make_unique<PcmStream>("cwgen", &writer, format(8000, 1, QAudioFormat::Int16))));
    QTRY_VERIFY_WITH_TIMEOUT(!message.isEmpty(), DialogWaitMs);
    QVERIFY(message.startsWith("Copied lines cannot be written"));
    QCOMPARE(atMessage, (QStringList{"2026-12-05 21:07:54  " + Call, QString()}));
    QVERIFY(secondWhileOpen);
    QTRY_VERIFY(status().contains("lines only in the box"));
    window->sources().audio().stopListening();
    QVERIFY(text2()->isModified());
}

QTEST_MAIN(TestListen)
#include "tst_listen.moc"
