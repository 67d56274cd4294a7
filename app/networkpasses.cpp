#include "app/networkpasses.h"

#include "decoder/utctime.h"

#include <QCoreApplication>
#include <QDateTime>
#include <QDateTimeEdit>
#include <QDialog>
#include <QDialogButtonBox>
#include <QFormLayout>
#include <QProgressDialog>
#include <QRegularExpression>
#include <QStandardPaths>

NetworkPasses::NetworkPasses(const Configuration &configuration, QWidget *parent)
    : QObject(parent), configuration_(configuration), parent_(parent) {
    connect(&process_, &QProcess::readyReadStandardError, this, &NetworkPasses::readErrors);
    connect(&process_, &QProcess::finished, this, [this] {
        readErrors();
        emit stored();
        next();
    });
    connect(&process_, &QProcess::errorOccurred, this, [this](QProcess::ProcessError error) {
        if (error == QProcess::FailedToStart) {
            queue_.clear();
            emit failed(QStringLiteral("kadrin-decode could not be started: %1").arg(process_.errorString()));
            if (progress_)
                progress_->reset();
        }
    });
}

QString NetworkPasses::decoderPath() {
    const QString here = QCoreApplication::applicationDirPath();
    QString path = QStandardPaths::findExecutable(QStringLiteral("kadrin-decode"), {here, here + QStringLiteral("/../cli")});
    return path.isEmpty() ? QStandardPaths::findExecutable(QStringLiteral("kadrin-decode")) : path;
}

void NetworkPasses::ask(const QString &archive) {
    QDialog dialog(parent_);
    dialog.setWindowTitle(QStringLiteral("Network Passes"));
    auto *form = new QFormLayout(&dialog);
    const QDateTime now = QDateTime::currentDateTimeUtc();
    auto *from = new QDateTimeEdit(now.addDays(-1), &dialog);
    auto *to = new QDateTimeEdit(now, &dialog);
    for (QDateTimeEdit *edit : {from, to}) {
        edit->setTimeSpec(Qt::UTC);
        edit->setDisplayFormat(QStringLiteral("yyyy-MM-dd HH:mm 'UTC'"));
    }
    from->setObjectName(QStringLiteral("from"));
    to->setObjectName(QStringLiteral("to"));
    form->addRow(QStringLiteral("From:"), from);
    form->addRow(QStringLiteral("To:"), to);
    auto *buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, &dialog);
    form->addRow(buttons);
    connect(buttons, &QDialogButtonBox::accepted, &dialog, &QDialog::accept);
    connect(buttons, &QDialogButtonBox::rejected, &dialog, &QDialog::reject);
    if (dialog.exec() == QDialog::Accepted)
        start(from->dateTime().toSecsSinceEpoch(), to->dateTime().toSecsSinceEpoch(), archive);
}

bool NetworkPasses::start(qint64 from, qint64 to, const QString &archive) {
    if (running()) {
        emit failed(QStringLiteral("Network passes are being copied already."));
        return false;
    }
    const QString norad = configuration_.noradId;
    if (norad.isEmpty() || (configuration_.networkUrl.isEmpty() && configuration_.sharedUrl.isEmpty())) {
        emit failed(QStringLiteral("conf.ini names no network to read: set NORAD_ID and NETWORK_URL "
                                   "(and SHARED_URL with SIDS_TOKEN for the frames stations shared)."));
        return false;
    }
    const QStringList common = {QStringLiteral("--norad"), norad, QStringLiteral("--from"),
                                QString::fromLatin1(isoUtcTime(from)), QStringLiteral("--to"),
                                QString::fromLatin1(isoUtcTime(to)), QStringLiteral("--store"),
                                QStringLiteral("--archive"), archive, QStringLiteral("--copy")};
    if (!configuration_.networkUrl.isEmpty())
        queue_.append(QStringList{QStringLiteral("--network"), configuration_.networkUrl} + common);
    if (!configuration_.sharedUrl.isEmpty() && !configuration_.sidsToken.isEmpty())
        queue_.append(QStringList{QStringLiteral("--shared"), configuration_.sharedUrl} + common);
    else if (!configuration_.sharedUrl.isEmpty())
        said_.append(configuration_.tokenRefused.isEmpty() ? QStringLiteral("no SIDS_TOKEN: shared frames not read")
                                                           : configuration_.tokenRefused);
    if (queue_.isEmpty()) {
        emit failed(said_.join(QLatin1Char('\n')));
        said_.clear();
        return false;
    }
    progress_ = new QProgressDialog(QStringLiteral("Listing the observations..."), QStringLiteral("Cancel"), 0, 0, parent_);
    progress_->setWindowTitle(QStringLiteral("Network Passes"));
    progress_->setAttribute(Qt::WA_DeleteOnClose);
    progress_->setMinimumDuration(0);
    connect(progress_, &QProgressDialog::canceled, this, [this] {
        queue_.clear();
        process_.terminate(); // what was copied so far is stored
    });
    steps_ = 1;
    done_ = 0;
    next();
    return true;
}

void NetworkPasses::next() {
    if (queue_.isEmpty()) {
        const QString summary = said_.join(QStringLiteral("; "));
        said_.clear();
        if (progress_)
            progress_->reset();
        emit finished(summary);
        return;
    }
    const QStringList arguments = queue_.takeFirst();
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    // The token goes by the environment: a command line is seen by all.
    env.insert(QStringLiteral("KADRIN_SIDS_TOKEN"), configuration_.sidsToken);
    process_.setProcessEnvironment(env);
    process_.setStandardOutputFile(QProcess::nullDevice());
    process_.start(decoder_, arguments);
}

void NetworkPasses::readErrors() {
    pending_ += process_.readAllStandardError();
    static const QRegularExpression listed(QStringLiteral("^kadrin-decode: --network: (\\d+) observations listed"));
    static const QRegularExpression skipped(QStringLiteral("^kadrin-decode: --network: (\\d+) observations? w"));
    qsizetype end;
    while ((end = pending_.indexOf('\n')) >= 0) {
        const QString line = QString::fromUtf8(pending_.left(end));
        pending_.remove(0, end + 1);
        if (const auto m = listed.match(line); m.hasMatch()) {
            steps_ = 1 + 2 * m.captured(1).toInt(); // the listing, each download and copy
            done_ = 1;
        } else if (const auto m = skipped.match(line); m.hasMatch()) {
            done_ += 2 * m.captured(1).toInt();
        } else if (line.startsWith(QLatin1String("kadrin-decode: observation "))) {
            ++done_;
            if (line.contains(QLatin1String(" copied")))
                emit stored(); // stored with its observation, in one transaction
        }
        if (!line.contains(QLatin1String("recording at hand")))
            said_.append(line.mid(15));
        emit status(line.mid(15));
        if (progress_) {
            progress_->setLabelText(line.mid(15));
            progress_->setMaximum(steps_);
            progress_->setValue(std::min(done_, steps_ - 1));
        }
    }
}
