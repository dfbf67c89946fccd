// The host twin of matcher_check.exe: loads real files into a simulated
// workstation at the Windows paths that the Wine run used, and reports on
// them with the same matcher code.
//   matcher_check ROOT [--held WINPATH]... WINPATH...
// ROOT is the host folder that stands for drive C: (a Wine prefix's drive_c).
// A --held path is held open by another process granting no sharing, like
// the file that kurrel_worm.exe holds in the Wine run.
#include <stdio.h>
#include <string.h>
#include <sys/stat.h>

#include <string>
#include <vector>

#include "e2e/matcher_report.h"
#include "samples/worm_sample.h"
#include "sim/workstation.h"

namespace {

// "C:\a\b.bin" -> ROOT/a/b.bin; empty when the path is not on drive C:.
std::string HostPath(const std::string& root, const std::string& windowsPath) {
    if (windowsPath.size() < 3 || (windowsPath[0] != 'C' && windowsPath[0] != 'c') ||
        windowsPath[1] != ':' || windowsPath[2] != '\\')
        return std::string();
    std::string rest = windowsPath.substr(3);
    for (char& c : rest) {
        if (c == '\\') c = '/';
    }
    return root + "/" + rest;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 3) {
        fprintf(stderr, "usage: matcher_check ROOT [--held WINPATH]... WINPATH...\n");
        return 2;
    }
    std::string root = argv[1];
    std::vector<std::string> held, paths;
    for (int i = 2; i < argc; ++i) {
        if (strcmp(argv[i], "--held") == 0 && i + 1 < argc) {
            held.push_back(argv[++i]);
        } else {
            paths.push_back(argv[i]);
        }
    }
    sim::Workstation ws;
    for (const std::string& path : paths) {
        std::string hostPath = HostPath(root, path);
        struct stat info;
        if (hostPath.empty() || stat(hostPath.c_str(), &info) != 0) continue;
        if (S_ISDIR(info.st_mode)) {
            ws.Dir(path);
            continue;
        }
        std::vector<uint8_t> bytes;
        if (!worm_sample::ReadFileBytes(hostPath, &bytes)) {
            fprintf(stderr, "matcher_check: cannot read %s\n", hostPath.c_str());
            return 1;
        }
        ws.FileBytes(path, bytes);
    }
    for (const std::string& path : held) {
        if (ws.Exists(path)) ws.Hold(path, 0);
    }
    for (const std::string& path : paths) PrintMatchReport(path.c_str());
    return 0;
}
