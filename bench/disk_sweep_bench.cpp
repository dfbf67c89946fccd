// How fast the fixed-disk sweep goes through a large tree on the simulated
// workstation (an NT one, walked by wide names), how it compares with a bare
// walk of the same tree and with the least work a sweep can do (list every
// folder, open and test every file, nothing more), and how many heap
// allocations it makes per clean file (there must be none: only the walk's
// buffers, once for the run, and the table of walked folders are allowed).
#include <benchmark/benchmark.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include <algorithm>
#include <chrono>
#include <new>
#include <string>
#include <vector>

#include "cleanup/disk_sweep.h"
#include "cleanup/signature_matcher.h"
#include "cleanup/walked_folders.h"
#include "cleanup/wide_walk.h"
#include "sim/workstation.h"

// ---- counting every heap allocation of the process ------------------------

extern "C" void* __libc_malloc(size_t size);
extern "C" void* __libc_calloc(size_t count, size_t size);
extern "C" void* __libc_realloc(void* block, size_t size);
extern "C" void __libc_free(void* block);

static bool g_counting = false;
static long g_allocations = 0;
static size_t g_allocatedBytes = 0;

extern "C" void* malloc(size_t size) {
    if (g_counting) {
        ++g_allocations;
        g_allocatedBytes += size;
    }
    return __libc_malloc(size);
}

extern "C" void* calloc(size_t count, size_t size) {
    if (g_counting) {
        ++g_allocations;
        g_allocatedBytes += count * size;
    }
    return __libc_calloc(count, size);
}

extern "C" void* realloc(void* block, size_t size) {
    if (g_counting) {
        ++g_allocations;
        g_allocatedBytes += size;
    }
    return __libc_realloc(block, size);
}

extern "C" void free(void* block) { __libc_free(block); }

// operator new goes through malloc above, so it is counted once.
void* operator new(size_t size) {
    void* block = malloc(size ? size : 1);
    if (!block) throw std::bad_alloc();
    return block;
}
void* operator new[](size_t size) { return operator new(size); }
void operator delete(void* block) noexcept { free(block); }
void operator delete[](void* block) noexcept { free(block); }
void operator delete(void* block, size_t) noexcept { free(block); }
void operator delete[](void* block, size_t) noexcept { free(block); }

// ---- the tree ----------------------------------------------------------------

namespace {

const int kDepth = 8;            // folders eight deep below C:\Bench
const int kBranches = 3;         // subfolders of each folder above the last level
const int kFilesPerFolder = 10;  // in every folder

struct Tree {
    sim::Workstation* ws = nullptr;
    long files = 0;
    long folders = 0;
};

uint32_t g_seed = 12345;
uint32_t NextRandom() {
    g_seed = g_seed * 1103515245u + 12345u;
    return g_seed >> 8;
}

// Mixed sizes: many small files, a good share between 2 and 8 KiB (opened,
// but too short for the worm's region), and some long enough to have their
// region read and checked against every table entry.
size_t FileSize() {
    uint32_t pick = NextRandom() % 100;
    if (pick < 45) return NextRandom() % 2048;
    if (pick < 85) return 2048 + NextRandom() % 6144;
    return 8192 + NextRandom() % 8192;
}

std::string FileName(int index) {
    char name[64];
    switch (index % 4) {
        case 0:
            snprintf(name, sizeof(name), "A%03d.DLL", index);  // already 8.3
            break;
        case 1:
            snprintf(name, sizeof(name), "file%05u.txt", NextRandom() % 100000);
            break;
        case 2:
            snprintf(name, sizeof(name), "Report %d final.docx", index);
            break;
        default:
            snprintf(name, sizeof(name), ".cache%d", index);
            break;
    }
    return name;
}

void Fill(sim::Workstation& ws, const std::string& folder, int level, Tree* tree) {
    ++tree->folders;
    for (int i = 0; i < kFilesPerFolder; ++i) {
        std::vector<uint8_t> bytes(FileSize(), static_cast<uint8_t>(NextRandom()));
        for (size_t at = 0; at < bytes.size(); at += 61) bytes[at] = static_cast<uint8_t>(NextRandom());
        ws.FileBytes(folder + "\\" + FileName(i), bytes);
        ++tree->files;
    }
    if (level == kDepth) return;
    for (int b = 0; b < kBranches; ++b) {
        std::string sub = folder + (b == 0 ? "\\Folder " : "\\D") + std::to_string(b);
        ws.Dir(sub);
        Fill(ws, sub, level + 1, tree);
    }
}

long g_seenFiles = 0;
long g_seenFolders = 0;
int CountEntry(const char*, const WIN32_FIND_DATAA*, int isDirectory, const WCHAR*) {
    if (isDirectory) {
        ++g_seenFolders;
    } else {
        ++g_seenFiles;
    }
    return 0;
}

Tree& TheTree() {
    static Tree tree;
    if (!tree.ws) {
        tree.ws = new sim::Workstation();  // the current machine for the whole run
        for (int b = 0; b < kBranches; ++b) {
            std::string top = "C:\\Bench\\Top " + std::to_string(b);
            tree.ws->Dir(top);
            Fill(*tree.ws, top, 1, &tree);
        }
        // A first walk gives every long name its 8.3 alias, as Windows has
        // them from the start, and a first sweep gives each function its
        // place in the machine's call counts. After that the machine itself
        // allocates nothing, and what is counted is the tool's.
        g_seenFiles = g_seenFolders = 0;
        WalkDirectory("C:\\", CountEntry);
        tree.files = g_seenFiles;
        tree.folders = g_seenFolders;
        SweepFixedDisks(DeleteIfInfected);
    }
    return tree;
}

const double MaxOverLeastWork = 1.10;

double Seconds(void (*walk)()) {
    auto start = std::chrono::steady_clock::now();
    walk();
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

void BareWalk() { benchmark::DoNotOptimize(WalkDirectory("C:\\", nullptr)); }
void Sweep() { benchmark::DoNotOptimize(SweepFixedDisks(DeleteIfInfected)); }

// The least a sweep of the tree can do: list every folder by its wide path,
// and open and test every file, with one path buffer and nothing else.
WCHAR g_leastPath[WideWalkPathUnits];
long g_leastMatched = 0;
void LeastWorkOf(size_t end) {
    WIN32_FIND_DATAW found;
    g_leastPath[end] = '*';
    g_leastPath[end + 1] = 0;
    HANDLE search = FindFirstFileW(g_leastPath, &found);
    if (search == INVALID_HANDLE_VALUE) return;
    do {
        size_t length = 0;
        while (found.cFileName[length]) ++length;
        bool folder = (found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
        if (folder && found.cFileName[0] == '.' &&
            (length == 1 || (length == 2 && found.cFileName[1] == '.')))
            continue;
        memcpy(g_leastPath + end, found.cFileName, length * sizeof(WCHAR));
        g_leastPath[end + length] = 0;
        if (folder) {
            g_leastPath[end + length] = '\\';
            LeastWorkOf(end + length + 1);
            continue;
        }
        HANDLE file = CreateFileW(g_leastPath, GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
        if (file == INVALID_HANDLE_VALUE) continue;
        int index = -1;
        MatchSignaturesOfOpenFile(file, SignatureTable, &index);
        if (index >= 0) ++g_leastMatched;
        CloseHandle(file);
    } while (FindNextFileW(search, &found));
    FindClose(search);
}
void LeastWork() {
    const char root[] = "\\\\?\\C:\\";
    size_t end = 0;
    for (; root[end]; ++end) g_leastPath[end] = static_cast<WCHAR>(root[end]);
    LeastWorkOf(end);
}

void BM_BareWalk(benchmark::State& state) {
    Tree& tree = TheTree();
    for (auto _ : state) BareWalk();
    state.counters["files"] = static_cast<double>(tree.files);
    state.counters["files_per_s"] =
        benchmark::Counter(static_cast<double>(tree.files), benchmark::Counter::kIsIterationInvariantRate);
}

void BM_LeastWork(benchmark::State& state) {
    Tree& tree = TheTree();
    for (auto _ : state) LeastWork();
    state.counters["files_per_s"] =
        benchmark::Counter(static_cast<double>(tree.files), benchmark::Counter::kIsIterationInvariantRate);
}

void BM_DiskSweep(benchmark::State& state) {
    Tree& tree = TheTree();

    // The yardsticks, best of three each: the bare walk of the same tree,
    // and the least work a sweep of it can do.
    double bare = 1e9;
    double least = 1e9;
    for (int i = 0; i < 3; ++i) {
        bare = std::min(bare, Seconds(BareWalk));
        least = std::min(least, Seconds(LeastWork));
    }

    // One sweep with every allocation counted. The walk has its buffers once
    // for the run, and the table of walked folders its buffers, doubled
    // whenever it would be more than half full. Anything beyond that is
    // spent on files.
    g_allocations = 0;
    g_allocatedBytes = 0;
    g_counting = true;
    Sweep();
    g_counting = false;
    long walked = tree.folders + 1;  // and the root
    long tableBuffers = 0;
    for (long slots = 0, count = 1; count <= walked; ++count) {
        if (count * 2 > slots) {
            slots = slots ? slots * 2 : static_cast<long>(WalkedFoldersFirstCapacity);
            ++tableBuffers;
        }
    }
    long perFileAllocations = g_allocations - WideWalkBufferCount - tableBuffers;

    // The sweep, best of three as its yardsticks, in the benchmark's loop.
    double each = 1e9;
    for (auto _ : state) {
        for (int i = 0; i < 3; ++i) each = std::min(each, Seconds(Sweep));
    }

    state.counters["files"] = static_cast<double>(tree.files);
    state.counters["folders"] = static_cast<double>(tree.folders);
    state.counters["files_per_s"] = static_cast<double>(tree.files) / each;
    state.counters["vs_bare_walk"] = each / bare;
    state.counters["vs_least_work"] = each / least;
    state.counters["allocs_per_sweep"] = static_cast<double>(g_allocations);
    state.counters["bytes_per_sweep"] = static_cast<double>(g_allocatedBytes);
    state.counters["allocs_per_clean_file"] =
        static_cast<double>(perFileAllocations) / static_cast<double>(tree.files);
    // The walk's own work (names in both forms, the identity of folders,
    // the callback) may cost a tenth of what listing and testing cost.
    if (each / least > MaxOverLeastWork) {
        fprintf(stderr, "the sweep took %.3f s, the least work %.3f s\n", each, least);
        state.SkipWithError("the sweep costs more than 1.10 times the least work");
    }
    if (perFileAllocations != 0) {
        fprintf(stderr, "%ld allocations in one sweep of %ld folders and %ld files\n",
                g_allocations, tree.folders, tree.files);
        state.SkipWithError("the sweep allocated on the way through files");
    }
}

}  // namespace

BENCHMARK(BM_BareWalk)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_LeastWork)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_DiskSweep)->Unit(benchmark::kMillisecond)->Iterations(1);

BENCHMARK_MAIN();
