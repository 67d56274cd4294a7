#include "app/configuration.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QStringDecoder>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

// Strips blanks (U+0020) only, at both ends.
QStringView stripBlanks(QStringView text) {
    qsizetype begin = 0;
    qsizetype end = text.size();
    while (begin < end && text[begin] == u' ')
        ++begin;
    while (end > begin && text[end - 1] == u' ')
        --end;
    return text.mid(begin, end - begin);
}

void applyLine(QStringView line, Configuration &configuration) {
    if (line.isEmpty() || line.front() == u'#')
        return;
    const qsizetype equals = line.indexOf(u'=');
    if (equals < 0)
        return;
    const QStringView key = stripBlanks(line.left(equals));
    const QStringView value = stripBlanks(line.mid(equals + 1));
    if (key.compare(QLatin1String("SCREENSHOT"), Qt::CaseInsensitive) == 0) {
        configuration.screenshotButtonVisible =
            value.compare(QLatin1String("YES"), Qt::CaseInsensitive) == 0;
        return;
    }
    for (int channel = 1; channel <= ArchiveChannels; ++channel) {
        if (key.compare(limitKey(channel), Qt::CaseInsensitive) == 0) {
            if (const auto limits = parseLimits(value.toString()))
                configuration.limits.insert(channel, *limits);
            return;
        }
    }
    const std::pair<const char *, QString Configuration::*> texts[] = {
        {"IMAGE_PATH", &Configuration::imageDirectory}, {"SIDS_URL", &Configuration::sidsUrl},
        {"CALLSIGN", &Configuration::callsign},         {"LATITUDE", &Configuration::latitude},
        {"LONGITUDE", &Configuration::longitude},       {"NORAD_ID", &Configuration::noradId},
        {"SIDS_JOURNAL", &Configuration::sidsJournal},  {"ARCHIVE", &Configuration::archive},
        {"NETWORK_URL", &Configuration::networkUrl},    {"SHARED_URL", &Configuration::sharedUrl},
        {"SIDS_TOKEN", &Configuration::sidsToken}};
    for (const auto &[name, member] : texts)
        if (key.compare(QLatin1String(name), Qt::CaseInsensitive) == 0)
            configuration.*member = value.toString();
}

} // namespace

Configuration parseConfiguration(const QByteArray &content, Configuration defaults) {
    QStringDecoder decoder(QStringDecoder::Utf8, QStringDecoder::Flag::Stateless);
    const QString text = decoder(content); // the decoder drops a leading byte-order mark
    Configuration configuration = std::move(defaults);
    qsizetype start = 0;
    const qsizetype size = text.size();
    while (start < size) {
        qsizetype end = start;
        while (end < size && text[end] != u'\n' && text[end] != u'\r')
            ++end;
        applyLine(QStringView(text).mid(start, end - start), configuration);
        if (end + 1 < size && text[end] == u'\r' && text[end + 1] == u'\n')
            ++end;
        start = end + 1;
    }
    return configuration;
}

Configuration readConfiguration(const QString &path, Configuration defaults) {
    // Opened without waiting (a FIFO would block) and checked on the open
    // file, so nothing can be swapped in between.
    const int fd = ::open(QFile::encodeName(path).constData(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0)
        return defaults;
    struct stat info {};
    QFile file;
    if (::fstat(fd, &info) != 0 || !S_ISREG(info.st_mode) || info.st_size > MaxConfigurationSize ||
        !file.open(fd, QIODevice::ReadOnly, QFileDevice::AutoCloseHandle)) {
        ::close(fd);
        return defaults;
    }
    const QByteArray content = file.read(MaxConfigurationSize + 1);
    if (content.size() > MaxConfigurationSize || file.error() != QFileDevice::NoError)
        return defaults;
    Configuration configuration = parseConfiguration(content, std::move(defaults));
    // A token in a file others can read is no secret: not used, and said.
    if (!configuration.sidsToken.isEmpty() && (info.st_mode & (S_IRGRP | S_IROTH))) {
        configuration.sidsToken.clear();
        configuration.tokenRefused =
            QStringLiteral("%1 can be read by others: its SIDS_TOKEN is not used (chmod 600 %1)").arg(path);
    }
    if (QDir::isRelativePath(configuration.imageDirectory))
        configuration.imageDirectory =
            QFileInfo(path).absolutePath() + QLatin1Char('/') + configuration.imageDirectory;
    return configuration;
}
