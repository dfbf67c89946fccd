// Every writable global of the tool is marked, and the fresh-process reset
// covers exactly those: a new global cannot slip past the tests that run the
// tool many times in one process.
#include <gtest/gtest.h>

#include <ctype.h>
#include <stdio.h>

#include <fstream>
#include <set>
#include <sstream>
#include <string>

#include "tests/test_support.h"

namespace {

const char* const kToolFolders[] = {"app", "trace", "support", "cleanup", "protection"};

// Writable data of the tool's objects, as the object files lay it out: the
// .data and .bss sections, less what is read-only once relocated
// (.data.rel.ro) and the compiler's own exception-handling reference.
std::set<std::string> WritableSymbols() {
    std::set<std::string> names;
    for (const char* folder : kToolFolders) {
        std::string command = std::string("objdump -t -C ") + KURRELFIX_OBJECT_DIR + "/" + folder +
                              "/*.o 2>/dev/null";
        FILE* pipe = popen(command.c_str(), "r");
        if (!pipe) continue;
        char line[1024];
        while (fgets(line, sizeof(line), pipe)) {
            // "address flags(7) section<TAB>size name"; objects only (flag O).
            std::string text(line);
            if (!text.empty() && text.back() == '\n') text.pop_back();
            size_t space = text.find(' ');
            if (space == std::string::npos || text.size() < space + 10 || text[space + 7] != 'O') continue;
            size_t sectionStart = space + 9;
            size_t tab = text.find('\t', sectionStart);
            if (tab == std::string::npos) continue;
            std::string section = text.substr(sectionStart, tab - sectionStart);
            size_t nameStart = text.find(' ', tab + 1);
            if (nameStart == std::string::npos) continue;
            std::string name = text.substr(nameStart + 1);
            bool writable = section.rfind(".data", 0) == 0 || section.rfind(".bss", 0) == 0;
            // Read-only once relocated, the compiler's own exception-handling
            // reference, and the sanitizer's markers are not the tool's state.
            if (!writable || section.rfind(".data.rel.ro", 0) == 0 || name.find("DW.ref.") != std::string::npos ||
                name.rfind("__odr_asan", 0) == 0 || name.rfind("__asan", 0) == 0 || name.rfind("__ubsan", 0) == 0)
                continue;
            const std::string anonymous = "(anonymous namespace)::";
            if (name.rfind(anonymous, 0) == 0) name = name.substr(anonymous.size());
            names.insert(name);
        }
        pclose(pipe);
    }
    return names;
}

// Names declared after the marker in the tool's sources.
std::set<std::string> MarkedNames() {
    std::set<std::string> names;
    for (const char* folder : kToolFolders) {
        std::string command = std::string("cat ") + KURRELFIX_SOURCE_DIR + "/" + folder +
                              "/*.cpp 2>/dev/null";
        FILE* pipe = popen(command.c_str(), "r");
        if (!pipe) continue;
        std::stringstream text;
        char buffer[4096];
        size_t got;
        while ((got = fread(buffer, 1, sizeof(buffer), pipe)) > 0) text.write(buffer, got);
        pclose(pipe);
        std::string all = text.str();
        // The declared name is the last word before "=", "[", "(" or ";".
        const std::string marker = "KF_PROCESS_STATE";
        for (size_t at = all.find(marker); at != std::string::npos; at = all.find(marker, at + 1)) {
            size_t end = all.find_first_of(";=[(", at + marker.size());
            if (end == std::string::npos) break;
            size_t last = end;
            while (last > at && (all[last - 1] == ' ' || all[last - 1] == '\t')) --last;
            size_t first = last;
            while (first > at && (isalnum(static_cast<unsigned char>(all[first - 1])) || all[first - 1] == '_'))
                --first;
            if (first < last && first > at + marker.size()) names.insert(all.substr(first, last - first));
        }
    }
    return names;
}

TEST(ProcessState, EveryWritableGlobalIsMarkedAndReset) {
    std::set<std::string> symbols = WritableSymbols();
    std::set<std::string> marked = MarkedNames();
    std::set<std::string> reset;
    for (const ProcessState& state : ProcessStateList()) reset.insert(state.name);

    ASSERT_FALSE(symbols.empty()) << "no object files under " << KURRELFIX_OBJECT_DIR;
    EXPECT_EQ(symbols, reset) << "the library's writable globals and the fresh-process reset differ";
    EXPECT_EQ(marked, reset) << "the KF_PROCESS_STATE markers and the fresh-process reset differ";
}

}  // namespace
