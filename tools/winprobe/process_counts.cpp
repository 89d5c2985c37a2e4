// Handle and thread counts of another process. Wine's GetProcessHandleCount
// reports 0 for every process; its list of all open handles is accurate, so
// that list serves as the second source.
#include "tools/winprobe/process_counts.h"

#include <stddef.h>
#include <tlhelp32.h>

#include <vector>

namespace {

// SystemExtendedHandleInformation of NtQuerySystemInformation; the layout is
// the published one, declared here because the SDK headers leave it out.
const ULONG kSystemExtendedHandleInformation = 64;
const LONG kStatusInfoLengthMismatch = static_cast<LONG>(0xC0000004);

struct HandleEntry {
    void* object;
    ULONG_PTR processId;
    ULONG_PTR handleValue;
    ULONG grantedAccess;
    USHORT creatorBackTraceIndex;
    USHORT objectTypeIndex;
    ULONG handleAttributes;
    ULONG reserved;
};

struct HandleList {
    ULONG_PTR count;
    ULONG_PTR reserved;
    HandleEntry entries[1];
};

typedef LONG(WINAPI* QuerySystemInformation)(ULONG, void*, ULONG, ULONG*);

bool CountFromSystemList(DWORD processId, DWORD* count) {
    HMODULE ntdll = GetModuleHandleW(L"ntdll.dll");
    if (ntdll == nullptr) return false;
    QuerySystemInformation query = reinterpret_cast<QuerySystemInformation>(
        reinterpret_cast<void*>(GetProcAddress(ntdll, "NtQuerySystemInformation")));
    if (query == nullptr) return false;

    std::vector<unsigned char> buffer(1 << 16);
    for (int attempt = 0; attempt < 8; ++attempt) {
        ULONG needed = 0;
        LONG status = query(kSystemExtendedHandleInformation, buffer.data(),
                            static_cast<ULONG>(buffer.size()), &needed);
        if (status == kStatusInfoLengthMismatch) {
            buffer.resize(needed > buffer.size() ? needed + 4096 : buffer.size() * 2);
            continue;
        }
        if (status < 0) return false;
        const HandleList* list = reinterpret_cast<const HandleList*>(buffer.data());
        size_t room = (buffer.size() - offsetof(HandleList, entries)) / sizeof(HandleEntry);
        size_t total = list->count < room ? list->count : room;
        DWORD found = 0;
        for (size_t i = 0; i < total; ++i) {
            if (list->entries[i].processId == processId) ++found;
        }
        *count = found;
        return true;
    }
    return false;
}

}  // namespace

bool CountProcessHandles(DWORD processId, DWORD* count) {
    HANDLE process = OpenProcess(PROCESS_QUERY_INFORMATION, FALSE, processId);
    if (process != nullptr) {
        DWORD handles = 0;
        BOOL counted = GetProcessHandleCount(process, &handles);
        CloseHandle(process);
        if (counted && handles > 0) {
            *count = handles;
            return true;
        }
    }
    return CountFromSystemList(processId, count);
}

bool CountProcessThreads(DWORD processId, DWORD* count) {
    HANDLE snapshot = CreateToolhelp32Snapshot(TH32CS_SNAPTHREAD, 0);
    if (snapshot == INVALID_HANDLE_VALUE) return false;
    DWORD threads = 0;
    THREADENTRY32 entry = {};
    entry.dwSize = sizeof(entry);
    for (BOOL more = Thread32First(snapshot, &entry); more; more = Thread32Next(snapshot, &entry)) {
        if (entry.th32OwnerProcessID == processId) ++threads;
    }
    CloseHandle(snapshot);
    *count = threads;
    return true;
}
