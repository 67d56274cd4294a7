#include "app/audiosession.h"

#include "app/waterfallview.h"

#include "cwaudio/recordingtime.h"
#include "listen/audiosource.h"

#include <QAudioDevice>
#include <QDockWidget>
#include <QFileInfo>
#include <QInputDialog>
#include <QMainWindow>
#include <QMediaDevices>
#include <QProgressDialog>
#include <QWidget>

AudioSession::AudioSession(QWidget *dialogParent) : QObject(dialogParent), parent_(dialogParent) {
    connect(&listen_, &ListenSession::lineCopied, this, [this](const CopiedLogLine &line) {
        remember(line);
        emit linesArrived({line.line});
    });
    connect(&listen_, &ListenSession::figuresChanged, this, [this](const CopyFigures &figures) {
        if (!listen_.active())
            return;
        emit status(QStringLiteral("Listening to %1, %2; %3")
                        .arg(listen_.sourceName(), whereLinesGo(), figuresText(figures)));
        emit toneChanged(shownTone(figures));
    });
    connect(&listen_, &ListenSession::samples, this, [this](const QList<float> &mono, double rate) {
        if (!streamShown_) {
            streamShown_ = true;
            emit signalStarted(rate);
        }
        emit samples(mono);
    });
    connect(&listen_, &ListenSession::activeChanged, this, [this](bool active) {
        streamShown_ = false;
        emit listeningChanged(active);
    });
    connect(&listen_, &ListenSession::failed, this, [this](const QString &why) {
        emit status(QStringLiteral("Listening stopped: ") + why);
        emit failed(QStringLiteral("Listening stopped: %1").arg(why));
    });
    connect(&listen_, &ListenSession::logFailed, this, [this](const QString &why) {
        emit linesOnlyInBox();
        emit failed(QStringLiteral("Copied lines cannot be written to the listen log; they are "
                                   "only in the box until it is saved: %1")
                        .arg(why));
    });
    connect(&recording_, &RecordingCopy::progress, this, [this](int percent) {
        if (progress_)
            progress_->setValue(percent);
    });
    connect(&recording_, &RecordingCopy::glimpse, this,
            [this](const QList<float> &mono, double rate, bool first) {
                if (first)
                    emit signalStarted(rate);
                emit samples(mono);
            });
    connect(&recording_, &RecordingCopy::finished, this, &AudioSession::copied);
}

void AudioSession::showSignalIn(QMainWindow *window) {
    dock_ = new QDockWidget(QStringLiteral("Signal"), window);
    dock_->setObjectName(QStringLiteral("SignalDock"));
    dock_->setFeatures(QDockWidget::DockWidgetClosable | QDockWidget::DockWidgetMovable |
                       QDockWidget::DockWidgetFloatable);
    waterfall_ = new WaterfallView(dock_);
    dock_->setWidget(waterfall_);
    window->addDockWidget(Qt::BottomDockWidgetArea, dock_);
    dock_->hide();
    connect(this, &AudioSession::signalStarted, this, [this, window](double rate) {
        if (dock_->isHidden() && !dock_->isFloating()) {
            // The window's own area keeps its size and its controls their
            // places: the window is as high as that area, the menu bar and
            // the panel, however often the panel was closed and shown again.
            if (innerHeight_ == 0) {
                innerHeight_ = window->centralWidget()->height();
                window->centralWidget()->setMinimumHeight(innerHeight_);
            }
            dock_->show();
            window->resize(window->width(), window->height() - window->centralWidget()->height() +
                                                innerHeight_ + dock_->sizeHint().height());
        }
        waterfall_->start(rate);
    });
    connect(this, &AudioSession::samples, this,
            [this](const QList<float> &mono) { waterfall_->addSamples(mono.constData(), mono.size()); });
    connect(this, &AudioSession::toneChanged, waterfall_, &WaterfallView::setTone);
    connect(this, &AudioSession::listeningChanged, this, [this](bool active) {
        if (!active)
            waterfall_->stop();
    });
}

bool AudioSession::isAudioFile(const QString &path) {
    static const QStringList suffixes = {QStringLiteral("wav"), QStringLiteral("flac"),
                                         QStringLiteral("ogg"), QStringLiteral("oga"),
                                         QStringLiteral("opus")};
    return suffixes.contains(QFileInfo(path).suffix().toLower());
}

QString AudioSession::audioFilter() {
    return QStringLiteral("Recordings (*.wav *.flac *.ogg *.oga *.opus);;All files (*)");
}

std::unique_ptr<AudioSource> AudioSession::chooseInput() {
    const QList<QAudioDevice> inputs = QMediaDevices::audioInputs();
    if (inputs.isEmpty()) {
        emit failed(QStringLiteral("There is no audio input on this machine."));
        return nullptr;
    }
    const QAudioDevice preferred = QMediaDevices::defaultAudioInput();
    QStringList names;
    int current = 0;
    for (const QAudioDevice &input : inputs) {
        if (input.id() == preferred.id())
            current = int(names.size());
        names.append(input.description());
    }
    bool ok = false;
    const QString chosen = QInputDialog::getItem(parent_, QStringLiteral("Listen"),
                                                 QStringLiteral("Audio input:"), names, current,
                                                 false, &ok);
    if (!ok)
        return nullptr;
    return std::make_unique<SoundCard>(inputs.at(int(names.indexOf(chosen))));
}

bool AudioSession::listen(std::unique_ptr<AudioSource> source) {
    QString error;
    if (listen_.start(std::move(source), &error)) {
        emit status(QStringLiteral("Listening to %1, %2").arg(listen_.sourceName(), whereLinesGo()));
        return true;
    }
    emit failed(error);
    return false;
}

void AudioSession::stopListening() {
    const QString name = listen_.sourceName();
    listen_.stop();
    emit status(QStringLiteral("Stopped listening to %1; %2")
                    .arg(name, listen_.logWorks()
                                   ? QStringLiteral("the lines are in ") + listen_.logPath()
                                   : QStringLiteral("lines not in the listen log: save the text")));
}

QString AudioSession::whereLinesGo() const {
    return listen_.logWorks() ? QStringLiteral("lines also in ") + listen_.logPath()
                              : QStringLiteral("the listen log cannot be written: lines only in the box");
}

void AudioSession::openRecording(const QString &path) {
    const std::optional<double> start = recordingStartFromName(path);
    recording_.start(path, start);
    if (!progress_) {
        progress_ = new QProgressDialog(parent_);
        progress_->setObjectName(QStringLiteral("RecordingProgress"));
        progress_->setWindowTitle(QStringLiteral("Open Recording"));
        progress_->setWindowModality(Qt::NonModal); // the window stays usable
        progress_->setMinimumDuration(0);
        progress_->setAutoClose(false);
        progress_->setAutoReset(false);
        connect(progress_, &QProgressDialog::canceled, &recording_, &RecordingCopy::cancel);
    }
    progress_->setLabelText(QStringLiteral("Copying %1").arg(QFileInfo(path).fileName()));
    progress_->setRange(0, 100);
    progress_->setValue(0);
    progress_->show();
    emit note(QStringLiteral("Copying %1").arg(path));
}

void AudioSession::cancelRecording() {
    recording_.cancel();
}

void AudioSession::copied(const RecordingResult &result) {
    if (progress_) {
        progress_->deleteLater();
        progress_ = nullptr;
    }
    if (waterfall_) {
        waterfall_->setTone(result.figures.toneHz);
        waterfall_->stop();
    }
    if (result.cancelled) {
        emit note(QStringLiteral("Copying %1 cancelled").arg(result.path));
        return;
    }
    if (!result.error.isEmpty() && result.lines.isEmpty()) {
        emit note(result.error);
        emit failed(result.error);
        return;
    }
    QStringList lines;
    for (const CopiedLogLine &line : result.lines) {
        remember(line);
        lines.append(line.line);
    }
    lines.append(QString()); // as a log that ends with a line break
    QString text = QStringLiteral("Opened %1: %2").arg(result.path, figuresText(result.figures));
    if (!result.timed)
        text += QLatin1String("; no start time in the file's name, so the lines have no time");
    if (!result.error.isEmpty())
        text += QLatin1String("; ") + result.error;
    emit recordingCopied(result.path, lines, text);
}

void AudioSession::remember(const CopiedLogLine &line) {
    snr_.insert(line.line, line.snrDb);
}

QString AudioSession::noteOf(const QString &line) const {
    const auto found = snr_.constFind(line);
    if (found == snr_.constEnd())
        return QString();
    return QStringLiteral("SNR %1 dB").arg(*found, 0, 'f', 1);
}

double AudioSession::shownTone(const CopyFigures &f) {
    // The tone of the last line copied: between transmissions the copier
    // may try a peak of the noise for a while.
    return f.lines > 0 ? f.toneHz : f.trackedHz;
}

QString AudioSession::figuresText(const CopyFigures &f) const {
    QString text;
    const double tone = shownTone(f);
    if (tone > 0)
        text = QStringLiteral("tone %1 Hz, ").arg(tone, 0, 'f', 0);
    else
        text = QStringLiteral("no tone found, ");
    if (f.lines > 0)
        text += QStringLiteral("%1 WPM, SNR %2 dB, ").arg(f.wpm, 0, 'f', 0).arg(f.snrDb, 0, 'f', 1);
    return text + QStringLiteral("%1 %2, %3 %4")
                      .arg(f.lines)
                      .arg(f.lines == 1 ? QStringLiteral("line") : QStringLiteral("lines"))
                      .arg(f.frames)
                      .arg(f.frames == 1 ? QStringLiteral("frame") : QStringLiteral("frames"));
}
