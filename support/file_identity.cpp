#include "support/file_identity.h"

int ReadFileIdentity(HANDLE file, FileIdentity* identity, DWORD* attributes, DWORD* error) {
    BY_HANDLE_FILE_INFORMATION information;
    if (!GetFileInformationByHandle(file, &information)) {
        *error = GetLastError();
        return 0;
    }
    identity->volumeSerial = information.dwVolumeSerialNumber;
    identity->indexHigh = information.nFileIndexHigh;
    identity->indexLow = information.nFileIndexLow;
    if (attributes) *attributes = information.dwFileAttributes;
    return 1;
}

int SameFileIdentity(const FileIdentity& a, const FileIdentity& b) {
    return a.volumeSerial == b.volumeSerial && a.indexHigh == b.indexHigh && a.indexLow == b.indexLow;
}
