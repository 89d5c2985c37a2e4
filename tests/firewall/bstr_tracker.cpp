// Import-slot redirection behind BstrTracker: the loader fills the executable's
// import address table with the oleaut32 entry points; replacing the two slots
// routes every call from this executable through the counting wrappers below.
#include "firewall/bstr_tracker.h"

#include <mutex>
#include <set>

namespace {

using AllocFunction = BSTR(WINAPI*)(const OLECHAR*);
using FreeFunction = void(WINAPI*)(BSTR);

std::mutex g_lock;
AllocFunction g_realAlloc = nullptr;
FreeFunction g_realFree = nullptr;
std::set<BSTR> g_live;
std::vector<std::wstring> g_texts;
int g_unknownFrees = 0;

BSTR WINAPI CountingSysAllocString(const OLECHAR* text)
{
    BSTR result = g_realAlloc(text);
    std::lock_guard<std::mutex> guard(g_lock);
    if (result != nullptr) {
        g_live.insert(result);
    }
    g_texts.push_back(text != nullptr ? text : L"");
    return result;
}

void WINAPI CountingSysFreeString(BSTR value)
{
    if (value != nullptr) {
        std::lock_guard<std::mutex> guard(g_lock);
        if (g_live.erase(value) == 0) {
            ++g_unknownFrees;
        }
    }
    g_realFree(value);
}

// Replaces every import slot of this executable holding `from` with `to`;
// returns how many were replaced.
int RedirectImports(void* from, void* to)
{
    BYTE* base = reinterpret_cast<BYTE*>(GetModuleHandleW(nullptr));
    const IMAGE_DOS_HEADER* dos = reinterpret_cast<const IMAGE_DOS_HEADER*>(base);
    const IMAGE_NT_HEADERS* nt = reinterpret_cast<const IMAGE_NT_HEADERS*>(base + dos->e_lfanew);
    const IMAGE_DATA_DIRECTORY& imports =
        nt->OptionalHeader.DataDirectory[IMAGE_DIRECTORY_ENTRY_IMPORT];
    if (imports.VirtualAddress == 0) {
        return 0;
    }

    int replaced = 0;
    const IMAGE_IMPORT_DESCRIPTOR* module =
        reinterpret_cast<const IMAGE_IMPORT_DESCRIPTOR*>(base + imports.VirtualAddress);
    for (; module->Name != 0; ++module) {
        IMAGE_THUNK_DATA* slot = reinterpret_cast<IMAGE_THUNK_DATA*>(base + module->FirstThunk);
        for (; slot->u1.Function != 0; ++slot) {
            if (reinterpret_cast<void*>(slot->u1.Function) != from) {
                continue;
            }
            DWORD protection = 0;
            if (!VirtualProtect(&slot->u1.Function, sizeof(slot->u1.Function), PAGE_READWRITE,
                                &protection)) {
                continue;
            }
            slot->u1.Function = reinterpret_cast<ULONG_PTR>(to);
            VirtualProtect(&slot->u1.Function, sizeof(slot->u1.Function), protection, &protection);
            ++replaced;
        }
    }
    return replaced;
}

void* ExportOf(const char* name)
{
    HMODULE oleaut = GetModuleHandleW(L"oleaut32.dll");
    return oleaut != nullptr ? reinterpret_cast<void*>(GetProcAddress(oleaut, name)) : nullptr;
}

}  // namespace

BstrTracker::BstrTracker() : installed_(false)
{
    void* alloc = ExportOf("SysAllocString");
    void* release = ExportOf("SysFreeString");
    if (alloc == nullptr || release == nullptr) {
        return;
    }
    {
        std::lock_guard<std::mutex> guard(g_lock);
        g_realAlloc = reinterpret_cast<AllocFunction>(alloc);
        g_realFree = reinterpret_cast<FreeFunction>(release);
        g_live.clear();
        g_texts.clear();
        g_unknownFrees = 0;
    }
    int allocSlots = RedirectImports(alloc, reinterpret_cast<void*>(CountingSysAllocString));
    int freeSlots = RedirectImports(release, reinterpret_cast<void*>(CountingSysFreeString));
    installed_ = allocSlots > 0 && freeSlots > 0;
}

BstrTracker::~BstrTracker()
{
    RedirectImports(reinterpret_cast<void*>(CountingSysAllocString),
                    reinterpret_cast<void*>(g_realAlloc));
    RedirectImports(reinterpret_cast<void*>(CountingSysFreeString),
                    reinterpret_cast<void*>(g_realFree));
}

size_t BstrTracker::LiveCount() const
{
    std::lock_guard<std::mutex> guard(g_lock);
    return g_live.size();
}

bool BstrTracker::IsLive(BSTR value) const
{
    std::lock_guard<std::mutex> guard(g_lock);
    return g_live.count(value) != 0;
}

int BstrTracker::UnknownFrees() const
{
    std::lock_guard<std::mutex> guard(g_lock);
    return g_unknownFrees;
}

std::vector<std::wstring> BstrTracker::AllocatedTexts() const
{
    std::lock_guard<std::mutex> guard(g_lock);
    return g_texts;
}
