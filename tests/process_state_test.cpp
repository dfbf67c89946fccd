// Every writable global of the tool is marked, and the fresh-process reset
// covers exactly those: a new global cannot slip past the tests that run the
// tool many times in one process.
#include <gtest/gtest.h>

#include <stdio.h>

#include <fstream>
#include <regex>
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
        // "address flags section size name"; objects only (flag O).
        std::regex entry(R"(^[0-9a-f]+ .{6}O (\.data\S*|\.bss\S*)\s+[0-9a-f]+ (.*)$)");
        while (fgets(line, sizeof(line), pipe)) {
            std::string text(line);
            if (!text.empty() && text.back() == '\n') text.pop_back();
            std::smatch match;
            if (!std::regex_match(text, match, entry)) continue;
            std::string section = match[1], name = match[2];
            if (section.rfind(".data.rel.ro", 0) == 0 || name.find("DW.ref.") != std::string::npos)
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
    // The declared name is the last word before "=", "[", "(" or ";".
    std::regex marked(R"(KF_PROCESS_STATE\s+[^;=\[\(]*?(\w+)\s*[;=\[\(])");
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
        for (std::sregex_iterator it(all.begin(), all.end(), marked), end; it != end; ++it)
            names.insert((*it)[1]);
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
