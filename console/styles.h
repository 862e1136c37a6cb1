#pragma once
// The program's version text and terminal style sequences (ESC + an SGR
// command). They are written byte for byte whatever the output is connected
// to; the mixed parameter forms are intended.

#include <string_view>

namespace cobrix {

inline constexpr std::string_view VERSION = "1.0.1";

inline constexpr std::string_view RED = "\x1b[1;31m";
inline constexpr std::string_view BLUE = "\x1b[1;34m";
inline constexpr std::string_view CYAN = "\x1b[1;36m";
inline constexpr std::string_view GREEN = "\x1b[0;32m";
inline constexpr std::string_view RESET = "\x1b[0;0m";
inline constexpr std::string_view BOLD = "\x1b[;1m";
inline constexpr std::string_view REVERSE = "\x1b[;7m";
inline constexpr std::string_view YELLOW = "\x1b[0;93m";

}  // namespace cobrix
