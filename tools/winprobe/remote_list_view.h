// Reading a list view that lives in another process. List-view messages carry
// pointers that the system does not translate between processes, so every
// structure they point to is placed in the owner's memory (VirtualAllocEx)
// and read back from there (ReadProcessMemory).
#pragma once

#include <windows.h>

#include <string>

// A block of memory inside another process; freed when this object ends.
class RemoteBuffer {
public:
    RemoteBuffer(HANDLE process, size_t size);
    ~RemoteBuffer();
    RemoteBuffer(const RemoteBuffer&) = delete;
    RemoteBuffer& operator=(const RemoteBuffer&) = delete;

    bool Valid() const { return address_ != nullptr; }
    // Address as the owning process sees it.
    void* At(size_t offset) const { return static_cast<char*>(address_) + offset; }
    bool Write(size_t offset, const void* data, size_t size) const;
    bool Read(size_t offset, void* data, size_t size) const;

private:
    HANDLE process_;
    void* address_;
};

// A list view of another process, with the handle needed to reach its memory.
struct RemoteListView {
    HWND list;
    HANDLE process;  // PROCESS_VM_OPERATION | PROCESS_VM_READ | PROCESS_VM_WRITE
};

bool ReadItemText(const RemoteListView& view, int row, int subItem, std::wstring* text);
bool ReadItemParam(const RemoteListView& view, int row, LPARAM* param);
bool ReadItemRect(const RemoteListView& view, int row, RECT* rect);
bool ReadColumn(const RemoteListView& view, int column, int* width, std::wstring* header);
// Any block of the other process's memory, e.g. the record an item points to.
bool ReadRemote(HANDLE process, const void* address, void* data, size_t size);
