// The service control manager of the simulated workstation.
#include "sim/workstation.h"

using sim::Current;

SC_HANDLE WINAPI OpenSCManagerA(LPCSTR machine, LPCSTR database, DWORD access) {
    SIM_FAILABLE(nullptr);
    if (machine || database || Current().platformId != VER_PLATFORM_WIN32_NT) {
        SetLastError(machine || database ? ERROR_INVALID_PARAMETER : ERROR_INVALID_FUNCTION);
        return nullptr;
    }
    sim::HandleEntry entry;
    entry.kind = sim::HandleKind::ScManager;
    entry.access = access;
    return reinterpret_cast<SC_HANDLE>(Current().NewHandle(entry));
}

SC_HANDLE WINAPI OpenServiceA(SC_HANDLE manager, LPCSTR name, DWORD access) {
    SIM_FAILABLE(nullptr);
    sim::Workstation& ws = Current();
    if (!ws.Lookup(reinterpret_cast<HANDLE>(manager), sim::HandleKind::ScManager)) {
        SetLastError(ERROR_INVALID_HANDLE);
        return nullptr;
    }
    auto it = ws.services.find(std::string_view(name));
    if (it == ws.services.end()) {
        SetLastError(ERROR_SERVICE_DOES_NOT_EXIST);
        return nullptr;
    }
    sim::HandleEntry entry;
    entry.kind = sim::HandleKind::Service;
    entry.access = access;
    entry.service = &it->first;
    return reinterpret_cast<SC_HANDLE>(ws.NewHandle(entry));
}

BOOL WINAPI QueryServiceStatus(SC_HANDLE service, LPSERVICE_STATUS status) {
    SIM_FAILABLE(FALSE);
    sim::Workstation& ws = Current();
    sim::HandleEntry* entry = ws.Lookup(reinterpret_cast<HANDLE>(service), sim::HandleKind::Service);
    if (!entry) {
        SetLastError(ERROR_INVALID_HANDLE);
        return FALSE;
    }
    if ((entry->access & SERVICE_QUERY_STATUS) == 0) {
        SetLastError(ERROR_ACCESS_DENIED);
        return FALSE;
    }
    *status = SERVICE_STATUS{};
    status->dwServiceType = 0x10;  // own process
    status->dwCurrentState = ws.services[*entry->service];
    return TRUE;
}

BOOL WINAPI CloseServiceHandle(SC_HANDLE handle) {
    SIM_FAILABLE(FALSE);
    sim::Workstation& ws = Current();
    HANDLE h = reinterpret_cast<HANDLE>(handle);
    if (!ws.Lookup(h, sim::HandleKind::Service) && !ws.Lookup(h, sim::HandleKind::ScManager)) {
        SetLastError(ERROR_INVALID_HANDLE);
        return FALSE;
    }
    ws.FreeHandle(h);
    return TRUE;
}
