#include "cleanup/user_hives.h"

#include <string.h>

#include "app/outcome.h"
#include "support/ascii_text.h"
#include "trace/trace_log.h"

namespace {

const char ClassesSuffix[] = "_Classes";
const size_t ClassesSuffixLength = sizeof(ClassesSuffix) - 1;

int IsClassesName(const char* name) {
    size_t length = strlen(name);
    return length > ClassesSuffixLength && SameAsciiTextIgnoringCase(name + length - ClassesSuffixLength, ClassesSuffix);
}

// The next name of any kind; 1 with it, 0 at the end or on failure.
int NextName(DWORD* index, char name[UserKeyNameSize]) {
    DWORD size = UserKeyNameSize;
    LONG status = RegEnumKeyExA(HKEY_USERS, *index, name, &size, nullptr, nullptr, nullptr, nullptr);
    ++*index;
    if (status == ERROR_SUCCESS) {
        name[size < UserKeyNameSize ? size : UserKeyNameSize - 1] = '\0';
        return 1;
    }
    if (status != ERROR_NO_MORE_ITEMS) {
        // The hives not listed are not looked at: that is no clean result.
        TraceMsg(TraceModule, TraceAllTypes, TraceError, "RegEnumKeyEx error %d, HKEY_USERS\n", (int)status);
        CountFailure();
    }
    return 0;
}

}  // namespace

int NextUserKey(UserKeyKind kind, DWORD* index, char name[UserKeyNameSize]) {
    while (NextName(index, name)) {
        if (IsClassesName(name) == (kind == UserClassesKey ? 1 : 0)) return 1;
    }
    name[0] = '\0';
    return 0;
}

size_t CountUserKeys(UserKeyKind kind) {
    size_t count = 0;
    DWORD index = 0;
    char name[UserKeyNameSize];
    while (NextName(&index, name)) {
        if (IsClassesName(name) == (kind == UserClassesKey ? 1 : 0)) ++count;
    }
    return count;
}
