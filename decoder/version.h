#pragma once

// The program's fixed version constants.
namespace kadrin {
inline constexpr char VersionText[] = "Ver. 0.1";
inline constexpr char VersionDate[] = "30 June 2014";
} // namespace kadrin
