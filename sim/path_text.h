// Small text helpers for Windows paths and key names, shared by the files of
// the simulated workstation.
#ifndef KURRELFIX_SIM_PATH_TEXT_H
#define KURRELFIX_SIM_PATH_TEXT_H

#include <string_view>

namespace sim {

inline char Upper(char c) { return (c >= 'a' && c <= 'z') ? static_cast<char>(c - 'a' + 'A') : c; }

inline bool IsSeparator(char c) { return c == '\\' || c == '/'; }

// Splits "C:\a\b" into its components after the drive; f returns false to stop.
template <typename F>
void ForEachComponent(std::string_view rest, F f) {
    size_t i = 0;
    while (i < rest.size()) {
        while (i < rest.size() && IsSeparator(rest[i])) ++i;
        size_t start = i;
        while (i < rest.size() && !IsSeparator(rest[i])) ++i;
        if (i > start) {
            if (!f(rest.substr(start, i - start))) return;
        }
    }
}

}  // namespace sim

#endif
