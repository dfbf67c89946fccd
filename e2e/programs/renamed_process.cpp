// A plain program that gives itself another name: it rewrites the name of its
// own image in its loader data (the loader list entry of its main module, in
// its own memory), which is where another process reading its name with
// GetModuleFileNameExA looks. Any user's program can do this, so whatever
// name the tool's process sweep reads is outside text.
//   renamed_process.exe NAMEFILE READY [SECONDS]
//     takes the bytes of NAMEFILE (ANSI, line breaks included) as its name,
//     then creates READY holding its process id, and stays until ended, at
//     most SECONDS (120 unless given).
//   renamed_process.exe /show PID
//     prints the name of process PID's first module as GetModuleFileNameExA
//     reads it from the other process, between [ and ], and its length.
#include <windows.h>
#include <psapi.h>
#include <winternl.h>

#include <stdio.h>
#include <stdlib.h>
#include <string.h>

// The head of a loader list entry, as the system lays it out for both
// bitnesses; winternl.h keeps most of it private.
struct LoaderEntry {
    LIST_ENTRY inLoadOrder;
    LIST_ENTRY inMemoryOrder;
    LIST_ENTRY inInitializationOrder;
    void* dllBase;
    void* entryPoint;
    ULONG sizeOfImage;
    UNICODE_STRING fullDllName;
    UNICODE_STRING baseDllName;
};

// The new name lives as long as the process: the loader data points at it.
static WCHAR newName[1024];

static int Show(DWORD processId) {
    HANDLE process = OpenProcess(PROCESS_QUERY_INFORMATION | PROCESS_VM_READ, FALSE, processId);
    if (!process) {
        printf("cannot open process %lu: error %lu\n", (unsigned long)processId, (unsigned long)GetLastError());
        return 1;
    }
    HMODULE modules[64];
    DWORD needed = 0;
    char name[MAX_PATH];
    DWORD named = 0;
    if (EnumProcessModules(process, modules, sizeof(modules), &needed) && needed >= sizeof(HMODULE)) {
        named = GetModuleFileNameExA(process, modules[0], name, sizeof(name));
    }
    CloseHandle(process);
    if (!named) {
        printf("no name: error %lu\n", (unsigned long)GetLastError());
        return 1;
    }
    fwrite("[", 1, 1, stdout);
    fwrite(name, 1, named, stdout);
    printf("] %lu\n", (unsigned long)named);
    return 0;
}

static int Rename(const char* nameFile, const char* ready, DWORD seconds) {
    char bytes[512];
    DWORD read = 0;
    HANDLE file = CreateFileA(nameFile, GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
    if (file == INVALID_HANDLE_VALUE || !ReadFile(file, bytes, sizeof(bytes) - 1, &read, nullptr) || read == 0) {
        printf("cannot read %s: error %lu\n", nameFile, (unsigned long)GetLastError());
        return 1;
    }
    CloseHandle(file);
    int length = MultiByteToWideChar(CP_ACP, 0, bytes, (int)read, newName, (int)(sizeof(newName) / sizeof(newName[0])) - 1);
    if (length <= 0) {
        printf("cannot convert the name: error %lu\n", (unsigned long)GetLastError());
        return 1;
    }
    newName[length] = L'\0';

    void* image = GetModuleHandleW(nullptr);
    // The process's own PEB, as another process would find it.
    PROCESS_BASIC_INFORMATION basic;
    ULONG basicLength = 0;
    if (NtQueryInformationProcess(GetCurrentProcess(), ProcessBasicInformation, &basic, sizeof(basic),
                                  &basicLength) != 0 || !basic.PebBaseAddress) {
        printf("cannot find the process's PEB\n");
        return 1;
    }
    LIST_ENTRY* head = &basic.PebBaseAddress->Ldr->InMemoryOrderModuleList;
    int renamed = 0;
    for (LIST_ENTRY* link = head->Flink; link != head; link = link->Flink) {
        LoaderEntry* entry = CONTAINING_RECORD(link, LoaderEntry, inMemoryOrder);
        if (entry->dllBase != image) continue;
        USHORT bytesLong = (USHORT)(length * sizeof(WCHAR));
        entry->fullDllName.Buffer = newName;
        entry->fullDllName.Length = bytesLong;
        entry->fullDllName.MaximumLength = (USHORT)(bytesLong + sizeof(WCHAR));
        entry->baseDllName = entry->fullDllName;
        renamed = 1;
    }
    if (!renamed) {
        printf("no loader entry for the image\n");
        return 1;
    }

    // READY says the name is in place and which process bears it.
    HANDLE marker = CreateFileA(ready, GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
    if (marker == INVALID_HANDLE_VALUE) {
        printf("cannot create %s: error %lu\n", ready, (unsigned long)GetLastError());
        return 1;
    }
    char pid[32];
    int pidLength = snprintf(pid, sizeof(pid), "%lu", (unsigned long)GetCurrentProcessId());
    DWORD written = 0;
    WriteFile(marker, pid, (DWORD)pidLength, &written, nullptr);
    CloseHandle(marker);
    // Bounded, so that a scenario that forgets it leaves nothing behind for long.
    Sleep(seconds * 1000);
    return 0;
}

int main(int argc, char** argv) {
    if (argc == 3 && strcmp(argv[1], "/show") == 0) return Show((DWORD)strtoul(argv[2], nullptr, 10));
    if (argc == 3 || argc == 4) return Rename(argv[1], argv[2], argc == 4 ? (DWORD)strtoul(argv[3], nullptr, 10) : 120);
    fprintf(stderr, "usage: renamed_process.exe NAMEFILE READY [SECONDS] | /show PID\n");
    return 2;
}
