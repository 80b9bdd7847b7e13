#pragma once

// The version both programs print and the HTTP client's user agent carries;
// the manual pages' headers name it too.
inline constexpr const char* ProgramVersion = "4.00";
