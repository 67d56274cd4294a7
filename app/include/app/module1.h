#pragma once

#include "decoder/version.h"

#include <QString>

// State shared by the windows, fixed while the main window loads.
namespace Module1 {
// Prefix of screenshot file names: the program's directory and "/" unless
// conf.ini names another.
extern QString ImageDirectory;
// Full path of conf.ini beside the program.
extern QString ConfigPath;

inline constexpr const char *VersionText = kadrin::VersionText;
inline constexpr const char *VersionDate = kadrin::VersionDate;
} // namespace Module1
