// Cross-process list-view access: one remote block per call holds the
// structure the message points to, followed by its text buffer.
#include "tools/winprobe/remote_list_view.h"

#include <commctrl.h>

namespace {

const size_t kTextOffset = 512;  // past LVITEMW / LVCOLUMNW / RECT
const int kTextChars = 1024;
const size_t kBlockSize = kTextOffset + kTextChars * sizeof(wchar_t);

LRESULT Send(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    DWORD_PTR result = 0;
    if (!SendMessageTimeoutW(window, message, wParam, lParam, SMTO_ABORTIFHUNG, 5000, &result)) {
        return -1;
    }
    return static_cast<LRESULT>(result);
}

bool ReadRemoteText(const RemoteBuffer& block, std::wstring* text) {
    wchar_t buffer[kTextChars];
    if (!block.Read(kTextOffset, buffer, sizeof(buffer))) return false;
    buffer[kTextChars - 1] = L'\0';
    text->assign(buffer);
    return true;
}

}  // namespace

RemoteBuffer::RemoteBuffer(HANDLE process, size_t size)
    : process_(process),
      address_(VirtualAllocEx(process, nullptr, size, MEM_COMMIT | MEM_RESERVE, PAGE_READWRITE)) {}

RemoteBuffer::~RemoteBuffer() {
    if (address_ != nullptr) VirtualFreeEx(process_, address_, 0, MEM_RELEASE);
}

bool RemoteBuffer::Write(size_t offset, const void* data, size_t size) const {
    SIZE_T done = 0;
    return WriteProcessMemory(process_, At(offset), data, size, &done) && done == size;
}

bool RemoteBuffer::Read(size_t offset, void* data, size_t size) const {
    return ReadRemote(process_, At(offset), data, size);
}

bool ReadRemote(HANDLE process, const void* address, void* data, size_t size) {
    SIZE_T done = 0;
    return ReadProcessMemory(process, address, data, size, &done) && done == size;
}

bool ReadItemText(const RemoteListView& view, int row, int subItem, std::wstring* text) {
    RemoteBuffer block(view.process, kBlockSize);
    if (!block.Valid()) return false;
    LVITEMW item = {};
    item.iSubItem = subItem;
    item.pszText = static_cast<wchar_t*>(block.At(kTextOffset));
    item.cchTextMax = kTextChars;
    wchar_t empty = L'\0';
    if (!block.Write(0, &item, sizeof(item)) || !block.Write(kTextOffset, &empty, sizeof(empty))) {
        return false;
    }
    if (Send(view.list, LVM_GETITEMTEXTW, row, reinterpret_cast<LPARAM>(block.At(0))) < 0) {
        return false;
    }
    return ReadRemoteText(block, text);
}

bool ReadItemParam(const RemoteListView& view, int row, LPARAM* param) {
    RemoteBuffer block(view.process, sizeof(LVITEMW));
    if (!block.Valid()) return false;
    LVITEMW item = {};
    item.mask = LVIF_PARAM;
    item.iItem = row;
    if (!block.Write(0, &item, sizeof(item))) return false;
    if (Send(view.list, LVM_GETITEMW, 0, reinterpret_cast<LPARAM>(block.At(0))) <= 0) {
        return false;
    }
    if (!block.Read(0, &item, sizeof(item))) return false;
    *param = item.lParam;
    return true;
}

bool ReadItemRect(const RemoteListView& view, int row, RECT* rect) {
    RemoteBuffer block(view.process, sizeof(RECT));
    if (!block.Valid()) return false;
    RECT request = {};
    request.left = LVIR_BOUNDS;
    if (!block.Write(0, &request, sizeof(request))) return false;
    if (Send(view.list, LVM_GETITEMRECT, row, reinterpret_cast<LPARAM>(block.At(0))) <= 0) {
        return false;
    }
    return block.Read(0, rect, sizeof(*rect));
}

bool ReadColumn(const RemoteListView& view, int column, int* width, std::wstring* header) {
    RemoteBuffer block(view.process, kBlockSize);
    if (!block.Valid()) return false;
    LVCOLUMNW request = {};
    request.mask = LVCF_WIDTH | LVCF_TEXT;
    request.pszText = static_cast<wchar_t*>(block.At(kTextOffset));
    request.cchTextMax = kTextChars;
    wchar_t empty = L'\0';
    if (!block.Write(0, &request, sizeof(request)) ||
        !block.Write(kTextOffset, &empty, sizeof(empty))) {
        return false;
    }
    if (Send(view.list, LVM_GETCOLUMNW, column, reinterpret_cast<LPARAM>(block.At(0))) <= 0) {
        return false;
    }
    LVCOLUMNW answer = {};
    if (!block.Read(0, &answer, sizeof(answer))) return false;
    *width = answer.cx;
    if (answer.pszText == block.At(kTextOffset)) return ReadRemoteText(block, header);
    // The control may point pszText at its own copy of the text instead.
    wchar_t buffer[kTextChars];
    if (!ReadRemote(view.process, answer.pszText, buffer, sizeof(buffer))) return false;
    buffer[kTextChars - 1] = L'\0';
    header->assign(buffer);
    return true;
}
