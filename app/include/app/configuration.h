#pragma once

#include "archive/envelope.h"

#include <QByteArray>
#include <QHash>
#include <QString>

// Settings read from conf.ini beside the program.
struct Configuration {
    explicit Configuration(QString images = QString(), bool button = true)
        : imageDirectory(std::move(images)), screenshotButtonVisible(button) {}

    QString imageDirectory; // prefix of screenshot file names
    bool screenshotButtonVisible = true;
    // Sharing followed frames with a telemetry database (SiDS): used when
    // all five are set; the journal is optional.
    QString sidsUrl, callsign, latitude, longitude, noradId, sidsJournal;
    // The archive every received frame is kept in: a file or a
    // postgresql:// URL; empty: kadrin/archive.sqlite in the data folder.
    QString archive;
    // The History window's limits of a channel (1 to 14).
    QHash<int, ChannelLimits> limits;
    // Network Passes: the network's observations and the telemetry
    // database's shared frames (NORAD_ID names the satellite).
    QString networkUrl, sharedUrl;
    // The token of the telemetry database: only from a conf.ini nobody but
    // its owner can read; tokenRefused says why one was not taken.
    QString sidsToken, tokenRefused;

    bool sharesFrames() const {
        return !sidsUrl.isEmpty() && !callsign.isEmpty() && !latitude.isEmpty() &&
               !longitude.isEmpty() && !noradId.isEmpty();
    }
};

// Applies the lines of a conf.ini text to the defaults, in file order, the
// last line of a key winning:
//   IMAGE_PATH = <prefix>   replaces imageDirectory (case kept)
//   SCREENSHOT = YES        shows the screenshot button; any other value hides it
//   SIDS_URL, CALLSIGN, LATITUDE, LONGITUDE, NORAD_ID, SIDS_JOURNAL
//                           the telemetry database frames are shared with
//   ARCHIVE = <file or URL> the archive received frames are kept in
//   NETWORK_URL, SHARED_URL the network of stations and the telemetry
//                           database Network Passes reads from
//   SIDS_TOKEN              the telemetry database's token (refused when
//                           others may read the file)
//   LIMIT_<CHANNEL> = <low>, <high>   a charted channel's limits, the
//                           channel named as the chart's captions are, in
//                           capitals with _ for blanks: LIMIT_SOLAR_3_TEMP
// Keys and the SCREENSHOT value compare case-insensitively; key and value are
// stripped of blanks (tabs stay). Lines end with LF, CR LF or a lone CR. A
// line starting with "#" is a comment; an empty line, a line without "=" and
// an unknown key are ignored. A UTF-8 byte-order mark at the start is
// skipped; bytes that are not UTF-8 read as U+FFFD.
Configuration parseConfiguration(const QByteArray &content, Configuration defaults);

// Reads the file at path, if it is a regular file of at most MaxSize bytes;
// anything else (missing, unreadable, a FIFO, a device, too large) leaves
// the defaults without a word. An IMAGE_PATH that is not absolute is taken
// relative to the file's folder. The file is never written.
Configuration readConfiguration(const QString &path, Configuration defaults);
inline constexpr qint64 MaxConfigurationSize = 1 << 20;
