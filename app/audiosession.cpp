#include "app/audiosession.h"

#include "app/waterfallview.h"

#include "cwaudio/audiofile.h"
#include "cwaudio/recordingtime.h"
#include "listen/audiosource.h"

#include <QAudioDevice>
#include <QDockWidget>
#include <QFileInfo>
#include <QInputDialog>
#include <QLayout>
#include <QMainWindow>
#include <QMediaDevices>
#include <QProgressDialog>
#include <QScreen>
#include <QWidget>

AudioSession::AudioSession(QWidget *dialogParent) : QObject(dialogParent), parent_(dialogParent) {
    connect(&listen_, &ListenSession::lineCopied, this, [this](const CopiedLogLine &line) {
        remember(line);
        emit linesArrived({line.line});
    });
    connect(&listen_, &ListenSession::figuresChanged, this, [this](const CopyFigures &figures) {
        if (!listen_.active())
            return;
        emit status(QStringLiteral("Listening to %1: %2; %3")
                        .arg(listen_.sourceName(), figuresText(figures), whereLinesGo()));
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
            if (innerHeight_ == 0)
                innerHeight_ = window->centralWidget()->height();
            dock_->show();
            fitWindow(window);
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

// The window's own area keeps its size and its controls their places (no
// blank band opens in it): the panel goes under it, and the window grows by
// the panel's height as far as the screen's free area allows, the picture
// of the signal taking what height is left.
void AudioSession::fitWindow(QMainWindow *window) {
    QWidget *inner = window->centralWidget();
    inner->setFixedHeight(innerHeight_);
    window->layout()->activate(); // the panel now takes its height from the area
    const int wanted = window->height() - dock_->height() + dock_->sizeHint().height();
    const QRect free = window->screen()->availableGeometry();
    const int frame = window->frameGeometry().height() - window->height(); // the title bar
    window->resize(window->width(), std::min(wanted, free.height() - frame));
    if (window->frameGeometry().bottom() > free.bottom())
        window->move(window->x(), std::max(free.top(), free.bottom() + 1 - window->frameGeometry().height()));
}

QString AudioSession::audioFilter() {
    return QStringLiteral("Recordings (*.%1);;All files (*)")
        .arg(AudioFile::audioSuffixes().join(QStringLiteral(" *.")));
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
    if (!kept_.path.isEmpty() && QFileInfo(kept_.path) == QFileInfo(path) &&
        QFileInfo(path).lastModified() == kept_.modified) {
        const KeptCopy copy = std::exchange(kept_, {});
        return emit recordingCopied(copy.path, copy.lines, copy.status);
    }
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

void AudioSession::keepCopy(const QString &path, const QStringList &lines, const QString &status) {
    kept_ = {path, QFileInfo(path).lastModified(), lines, status};
    emit note(QStringLiteral("The copy of %1 was not shown, as the text was kept; Open Recording "
                             "of it again shows the copy at once")
                  .arg(QFileInfo(path).fileName()));
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
        emit note(QStringLiteral("Copying %1 cancelled after %2 of audio")
                      .arg(result.path, QLatin1String(clockDuration(result.figures.seconds))));
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
    // What was found first, where the file lies last: the status line may
    // be too short for the whole text.
    const QFileInfo file(result.path);
    QString text = QStringLiteral("Opened %1: %2").arg(file.fileName(), figuresText(result.figures));
    if (!result.timed)
        text += QLatin1String("; no start time in the file's name, so the lines have no time");
    for (const QString &said : {result.note, result.error})
        if (!said.isEmpty())
            text += QLatin1String("; ") + said;
    emit recordingCopied(result.path, lines, text + QLatin1String("; in ") + file.absolutePath());
    if (!result.error.isEmpty())
        emit failed(result.error + QLatin1String("\n\nThe lines copied before it are shown."));
}

void AudioSession::remember(const CopiedLogLine &line) {
    signal_.insert(line.line, {line.toneHz, line.snrDb});
}

std::optional<LineSignal> AudioSession::signalOf(const QString &line) const {
    const auto found = signal_.constFind(line);
    return found == signal_.constEnd() ? std::nullopt : std::optional<LineSignal>(*found);
}

QString AudioSession::noteOf(const QString &line) const {
    const auto found = signal_.constFind(line);
    if (found == signal_.constEnd())
        return QString();
    return QStringLiteral("SNR %1 dB, tone %2 Hz")
        .arg(found->snrDb, 0, 'f', 1)
        .arg(found->toneHz, 0, 'f', 0);
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
