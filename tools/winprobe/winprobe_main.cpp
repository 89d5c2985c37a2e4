// ndt_winprobe: reads and drives the running Network Discovery Tool from a
// second process in the same Wine prefix and desktop. One command per run;
// results are tab-separated lines on stdout; exit code 0 on success, 1 when
// the program's window is missing, 2 on a usage error, 3 when an action failed.
#include <windows.h>

#include <commctrl.h>
#include <fcntl.h>
#include <io.h>
#include <stdio.h>
#include <stdlib.h>

#include <string>
#include <vector>

#include "core/device_record.h"
#include "tools/winprobe/process_counts.h"
#include "tools/winprobe/program_windows.h"
#include "tools/winprobe/remote_list_view.h"

namespace {

const int kDeviceListId = 1000;
const int kRefreshId = 1001;
const int kAutoRefreshId = 1002;
const int kSubnetId = 1003;

enum ExitCode { kOk = 0, kNoWindow = 1, kUsage = 2, kFailed = 3 };

int Fail(ExitCode code, const wchar_t* message) {
    fwprintf(stderr, L"ndt_winprobe: %ls\n", message);
    return code;
}

bool ParseInt(const wchar_t* text, long* value) {
    wchar_t* end = nullptr;
    *value = wcstol(text, &end, 0);
    return end != text && *end == L'\0';
}

// The owner process of the main window, opened for list-view memory access.
class ProgramProcess {
public:
    explicit ProgramProcess(HWND main) {
        DWORD id = 0;
        GetWindowThreadProcessId(main, &id);
        handle_ = OpenProcess(PROCESS_VM_OPERATION | PROCESS_VM_READ | PROCESS_VM_WRITE |
                                  PROCESS_QUERY_INFORMATION, FALSE, id);
    }
    ~ProgramProcess() {
        if (handle_ != nullptr) CloseHandle(handle_);
    }
    ProgramProcess(const ProgramProcess&) = delete;
    ProgramProcess& operator=(const ProgramProcess&) = delete;
    HANDLE Handle() const { return handle_; }

private:
    HANDLE handle_;
};

// A kind followed by the rectangle's four edges.
std::vector<std::wstring> RectLine(const wchar_t* kind, const RECT& rect) {
    return {kind, Number(rect.left), Number(rect.top), Number(rect.right), Number(rect.bottom)};
}

void PrintCombo(HWND combo) {
    LRESULT count = SendMessageW(combo, CB_GETCOUNT, 0, 0);
    LRESULT selected = SendMessageW(combo, CB_GETCURSEL, 0, 0);
    for (LRESULT i = 0; i < count; ++i) {
        wchar_t text[256] = L"";
        LRESULT length = SendMessageW(combo, CB_GETLBTEXTLEN, i, 0);
        if (length >= 0 && length < 256) {
            SendMessageW(combo, CB_GETLBTEXT, i, reinterpret_cast<LPARAM>(text));
        }
        PrintLine({L"combo", Number(i), text, Number(i == selected ? 1 : 0)});
    }
}

// Columns, rows as shown, and the stored record behind each row.
bool PrintList(HWND list, HANDLE process) {
    RemoteListView view = {list, process};
    RECT client = {};
    GetClientRect(list, &client);
    PrintLine({L"listclient", Number(client.right - client.left)});
    MapWindowPoints(list, nullptr, reinterpret_cast<POINT*>(&client), 2);
    PrintLine(RectLine(L"listscreen", client));

    // Every column the list has, however many that is.
    HWND header = reinterpret_cast<HWND>(SendMessageW(list, LVM_GETHEADER, 0, 0));
    int columnCount = header != nullptr ? static_cast<int>(SendMessageW(header, HDM_GETITEMCOUNT, 0, 0)) : 0;
    bool ok = columnCount > 0;
    for (int column = 0; column < columnCount; ++column) {
        int width = 0;
        std::wstring header;
        if (!ReadColumn(view, column, &width, &header)) {
            ok = false;
            continue;
        }
        PrintLine({L"column", Number(column), Number(width), header});
    }
    LRESULT rows = SendMessageW(list, LVM_GETITEMCOUNT, 0, 0);
    for (int row = 0; row < rows; ++row) {
        std::vector<std::wstring> fields = {L"row", Number(row)};
        for (int column = 0; column < columnCount; ++column) {
            std::wstring text;
            ok = ReadItemText(view, row, column, &text) && ok;
            fields.push_back(text);
        }
        PrintLine(fields);
    }
    for (int row = 0; row < rows; ++row) {
        LPARAM param = 0;
        DeviceRecord record = {};
        if (!ReadItemParam(view, row, &param) ||
            !ReadRemote(process, reinterpret_cast<void*>(param), &record, sizeof(record))) {
            ok = false;
            continue;
        }
        record.portText[kPortTextChars - 1] = L'\0';
        LRESULT shown = SendMessageW(list, LVM_GETITEMSTATE, row, LVIS_SELECTED | LVIS_FOCUSED);
        PrintLine({L"rowstate", Number(row), Number(record.state), Number(record.lastSeen), record.portText,
                   Number((shown & LVIS_SELECTED) ? 1 : 0), Number((shown & LVIS_FOCUSED) ? 1 : 0)});
        RECT rect = {};
        if (ReadItemRect(view, row, &rect)) {
            MapWindowPoints(list, nullptr, reinterpret_cast<POINT*>(&rect), 2);
            std::vector<std::wstring> fields = RectLine(L"rowrect", rect);
            fields.insert(fields.begin() + 1, Number(row));
            PrintLine(fields);
        }
    }
    return ok;
}

int Dump(HWND main) {
    ProgramProcess process(main);
    if (process.Handle() == nullptr) return Fail(kFailed, L"cannot open the program's process");
    DWORD processId = 0;
    GetWindowThreadProcessId(main, &processId);
    RECT frame = {};
    GetWindowRect(main, &frame);

    PrintLine({L"caption", WindowText(main)});
    PrintLine({L"pid", Number(processId)});
    PrintLine(RectLine(L"rect", frame));
    RECT client = {};
    GetClientRect(main, &client);
    PrintLine(RectLine(L"client", client));
    RECT screen = {0, 0, GetSystemMetrics(SM_CXSCREEN), GetSystemMetrics(SM_CYSCREEN)};
    PrintLine(RectLine(L"screen", screen));
    PrintLine({L"zoomed", Number(IsZoomed(main) ? 1 : 0)});
    PrintLine({L"enabled", Number(IsWindowEnabled(main) ? 1 : 0)});
    PrintFocus(main);
    PrintControls(main);
    PrintCombo(GetDlgItem(main, kSubnetId));
    bool ok = PrintList(GetDlgItem(main, kDeviceListId), process.Handle());
    for (HWND window : VisibleTopLevelWindows(processId)) {
        PrintLine({L"window", HexHandle(window), WindowText(window)});
    }
    fflush(stdout);
    return ok ? kOk : Fail(kFailed, L"some list-view reads failed");
}

int Wait(long seconds) {
    DWORD deadline = GetTickCount() + static_cast<DWORD>(seconds) * 1000;
    for (;;) {
        HWND main = FindMainWindow();
        if (main != nullptr && IsWindowVisible(main)) return kOk;
        if (static_cast<LONG>(GetTickCount() - deadline) >= 0) {
            return Fail(kNoWindow, L"the main window did not appear");
        }
        Sleep(100);
    }
}

// Waits for a top-level window of the program with this caption and prints it
// with its controls (message boxes, About box).
int WaitBox(const std::wstring& caption, long seconds) {
    DWORD deadline = GetTickCount() + static_cast<DWORD>(seconds) * 1000;
    for (;;) {
        DWORD processId = FindProgramProcessId();
        HWND box = processId != 0 ? FindWindowByCaption(processId, caption) : nullptr;
        if (box != nullptr) {
            PrintLine({L"window", HexHandle(box), WindowText(box)});
            PrintLine({L"pid", Number(processId)});
            PrintControls(box);
            fflush(stdout);
            return kOk;
        }
        if (static_cast<LONG>(GetTickCount() - deadline) >= 0) {
            return Fail(kNoWindow, L"no window with that caption appeared");
        }
        Sleep(100);
    }
}

// Presses the box's OK button; a box without one gets the command directly.
int CloseBox(const std::wstring& caption) {
    DWORD processId = FindProgramProcessId();
    HWND box = processId != 0 ? FindWindowByCaption(processId, caption) : nullptr;
    if (box == nullptr) return Fail(kNoWindow, L"no window of the program with that caption");
    HWND ok = GetDlgItem(box, IDOK);
    bool posted = ok != nullptr
                      ? PostMessageW(ok, BM_CLICK, 0, 0)
                      : PostMessageW(box, WM_COMMAND, MAKEWPARAM(IDOK, BN_CLICKED), 0);
    return posted ? kOk : Fail(kFailed, L"cannot post to the box");
}

// Only the number of rows: one message, cheap enough to poll.
int Count(HWND main) {
    DWORD_PTR rows = 0;
    if (!SendMessageTimeoutW(GetDlgItem(main, kDeviceListId), LVM_GETITEMCOUNT, 0, 0, SMTO_NORMAL, 5000,
                             &rows)) {
        return Fail(kFailed, L"the list does not answer");
    }
    PrintLine({L"count", Number(static_cast<DWORD>(rows))});
    return kOk;
}

// Clicks Refresh and times, from the click (milliseconds): the first answer of
// the window that shows an empty list (the clearing, during which the window
// answers nothing), and the first that shows at least `rows` rows again.
// Also the longest the window took to answer one read meanwhile.
int RefreshTime(HWND main, long rows, long seconds) {
    HWND list = GetDlgItem(main, kDeviceListId);
    LARGE_INTEGER frequency = {};
    LARGE_INTEGER start = {};
    QueryPerformanceFrequency(&frequency);
    auto elapsed = [&]() {
        LARGE_INTEGER now = {};
        QueryPerformanceCounter(&now);
        return static_cast<DWORD>((now.QuadPart - start.QuadPart) * 1000 / frequency.QuadPart);
    };
    QueryPerformanceCounter(&start);
    if (!PostMessageW(main, WM_COMMAND, MAKEWPARAM(kRefreshId, BN_CLICKED),
                      reinterpret_cast<LPARAM>(GetDlgItem(main, kRefreshId)))) {
        return Fail(kFailed, L"post failed");
    }
    DWORD limit = static_cast<DWORD>(seconds) * 1000;
    DWORD cleared = 0;
    DWORD listed = 0;
    DWORD longest = 0;
    DWORD most = 0;
    bool isCleared = false;
    bool isListed = false;
    while (elapsed() < limit) {
        DWORD before = elapsed();
        DWORD_PTR count = 0;
        if (!SendMessageTimeoutW(list, LVM_GETITEMCOUNT, 0, 0, SMTO_NORMAL, limit, &count)) {
            return Fail(kFailed, L"the list does not answer");
        }
        DWORD after = elapsed();
        longest = after - before > longest ? after - before : longest;
        if (!isCleared && count == 0) {
            isCleared = true;
            cleared = after;
        }
        if (isCleared) {
            most = static_cast<DWORD>(count) > most ? static_cast<DWORD>(count) : most;
            if (count >= static_cast<DWORD_PTR>(rows)) {
                listed = after;
                isListed = true;
                break;
            }
        }
        Sleep(2);
    }
    PrintLine({L"cleared", isCleared ? Number(cleared) : L"-"});
    PrintLine({L"listed", isListed ? Number(listed) : L"-"});
    PrintLine({L"longest", Number(longest)});
    PrintLine({L"rows", Number(most)});
    fflush(stdout);
    return kOk;
}

// Which of the given addresses have a row: one LVM_FINDITEMW each, so that a
// long list can be polled for a few devices without reading it all.
int Find(HWND main, int count, wchar_t** addresses) {
    ProgramProcess process(main);
    if (process.Handle() == nullptr) return Fail(kFailed, L"cannot open the program's process");
    HWND list = GetDlgItem(main, kDeviceListId);
    const size_t kTextOffset = sizeof(LVFINDINFOW);
    const size_t kTextChars = 64;
    RemoteBuffer block(process.Handle(), kTextOffset + kTextChars * sizeof(wchar_t));
    if (!block.Valid()) return Fail(kFailed, L"cannot reach the program's memory");
    for (int i = 0; i < count; ++i) {
        wchar_t text[kTextChars] = L"";
        lstrcpynW(text, addresses[i], static_cast<int>(kTextChars));
        LVFINDINFOW find = {};
        find.flags = LVFI_STRING;
        find.psz = static_cast<wchar_t*>(block.At(kTextOffset));
        DWORD_PTR row = 0;
        if (!block.Write(0, &find, sizeof(find)) || !block.Write(kTextOffset, text, sizeof(text)) ||
            !SendMessageTimeoutW(list, LVM_FINDITEMW, static_cast<WPARAM>(-1),
                                 reinterpret_cast<LPARAM>(block.At(0)), SMTO_NORMAL, 5000, &row)) {
            return Fail(kFailed, L"the list does not answer");
        }
        PrintLine({L"find", text, Number(static_cast<int>(row))});
    }
    fflush(stdout);
    return kOk;
}

int Handles(HWND main) {
    DWORD processId = 0;
    GetWindowThreadProcessId(main, &processId);
    DWORD handles = 0;
    DWORD threads = 0;
    if (!CountProcessHandles(processId, &handles)) return Fail(kFailed, L"cannot count handles");
    if (!CountProcessThreads(processId, &threads)) return Fail(kFailed, L"cannot count threads");
    PrintLine({L"handles", Number(handles)});
    PrintLine({L"threads", Number(threads)});
    return kOk;
}

// Posts a full double-click at a point of the list's client area.
int DoubleClick(HWND list, POINT point) {
    LPARAM where = MAKELPARAM(point.x, point.y);
    bool posted = PostMessageW(list, WM_LBUTTONDOWN, MK_LBUTTON, where) &&
                  PostMessageW(list, WM_LBUTTONUP, 0, where) &&
                  PostMessageW(list, WM_LBUTTONDBLCLK, MK_LBUTTON, where) &&
                  PostMessageW(list, WM_LBUTTONUP, 0, where);
    return posted ? kOk : Fail(kFailed, L"cannot post the clicks");
}

int DoubleClickRow(HWND main, long row) {
    ProgramProcess process(main);
    if (process.Handle() == nullptr) return Fail(kFailed, L"cannot open the program's process");
    HWND list = GetDlgItem(main, kDeviceListId);
    RemoteListView view = {list, process.Handle()};
    RECT rect = {};
    if (!ReadItemRect(view, static_cast<int>(row), &rect)) return Fail(kFailed, L"no such row");
    POINT centre = {(rect.left + rect.right) / 2, (rect.top + rect.bottom) / 2};
    return DoubleClick(list, centre);
}

// A point below the last row (or in the middle of an empty list).
int DoubleClickEmpty(HWND main) {
    ProgramProcess process(main);
    if (process.Handle() == nullptr) return Fail(kFailed, L"cannot open the program's process");
    HWND list = GetDlgItem(main, kDeviceListId);
    RemoteListView view = {list, process.Handle()};
    RECT client = {};
    GetClientRect(list, &client);
    POINT point = {client.right / 4, client.bottom / 2};
    LRESULT rows = SendMessageW(list, LVM_GETITEMCOUNT, 0, 0);
    RECT last = {};
    if (rows > 0 && ReadItemRect(view, static_cast<int>(rows - 1), &last)) {
        if (last.bottom + 4 >= client.bottom) return Fail(kFailed, L"no empty space below the rows");
        point.y = (last.bottom + client.bottom) / 2;
    }
    return DoubleClick(list, point);
}

int SelectSubnet(HWND main, long index) {
    HWND combo = GetDlgItem(main, kSubnetId);
    if (SendMessageW(combo, CB_SETCURSEL, index, 0) != index) return Fail(kFailed, L"no such entry");
    PostMessageW(main, WM_COMMAND, MAKEWPARAM(kSubnetId, CBN_SELCHANGE), reinterpret_cast<LPARAM>(combo));
    return kOk;
}

int SetAutoRefresh(HWND main, long on) {
    HWND box = GetDlgItem(main, kAutoRefreshId);
    SendMessageW(box, BM_SETCHECK, on ? BST_CHECKED : BST_UNCHECKED, 0);
    PostMessageW(main, WM_COMMAND, MAKEWPARAM(kAutoRefreshId, BN_CLICKED), reinterpret_cast<LPARAM>(box));
    return kOk;
}

// The clipboard's Unicode text, read from this second process.
int Clipboard() {
    if (!OpenClipboard(nullptr)) return Fail(kFailed, L"cannot open the clipboard");
    HANDLE data = GetClipboardData(CF_UNICODETEXT);
    const wchar_t* text = data != nullptr ? static_cast<const wchar_t*>(GlobalLock(data)) : nullptr;
    if (text != nullptr) {
        int size = WideCharToMultiByte(CP_UTF8, 0, text, -1, nullptr, 0, nullptr, nullptr);
        std::string bytes(size > 0 ? static_cast<size_t>(size) : 0, '\0');
        if (size > 0) WideCharToMultiByte(CP_UTF8, 0, text, -1, &bytes[0], size, nullptr, nullptr);
        fwrite(bytes.data(), 1, size > 0 ? static_cast<size_t>(size - 1) : 0, stdout);
        GlobalUnlock(data);
    }
    CloseClipboard();
    return text != nullptr ? kOk : Fail(kFailed, L"no text on the clipboard");
}

// Asks the window for a size (the program may hold it at its minimum).
int Resize(HWND main, long width, long height) {
    ShowWindow(main, SW_RESTORE);
    return SetWindowPos(main, nullptr, 0, 0, width, height, SWP_NOMOVE | SWP_NOZORDER) ? kOk
                                                                                     : Fail(kFailed, L"cannot resize");
}

// A control's text by its id, and whether it is shown: what a person reads
// there (a link's text with its markup).
int ControlText(HWND main, long id) {
    HWND control = GetDlgItem(main, static_cast<int>(id));
    if (control == nullptr) return Fail(kFailed, L"no control with that id");
    PrintLine({L"text", Number(id), Number(IsWindowVisible(control) ? 1 : 0), WindowText(control)});
    return kOk;
}

int Usage() {
    fwprintf(stderr,
             L"usage: ndt_winprobe wait SECONDS | dump | command ID | select-subnet INDEX |\n"
             L"       auto-refresh 0|1 | close | dblclick ROW | dblclick-empty | handles | count |\n"
             L"       close-box CAPTION | wait-box CAPTION SECONDS | refresh-time ROWS SECONDS |\n"
             L"       find ADDRESS... | clipboard | maximize | resize WIDTH HEIGHT | text ID\n");
    return kUsage;
}

int Run(int argc, wchar_t** argv) {
    if (argc < 2) return Usage();
    std::wstring command = argv[1];
    long number = 0;
    bool hasNumber = argc >= 3 && ParseInt(argv[2], &number);

    if (command == L"wait") return hasNumber ? Wait(number) : Usage();
    if (command == L"close-box") return argc == 3 ? CloseBox(argv[2]) : Usage();
    if (command == L"wait-box") {
        long seconds = 0;
        return argc == 4 && ParseInt(argv[3], &seconds) ? WaitBox(argv[2], seconds) : Usage();
    }

    HWND main = FindMainWindow();
    if (main == nullptr) return Fail(kNoWindow, L"the main window does not exist");
    if (command == L"dump") return Dump(main);
    if (command == L"handles") return Handles(main);
    if (command == L"count") return Count(main);
    if (command == L"find") return Find(main, argc - 2, argv + 2);
    if (command == L"close") return PostMessageW(main, WM_CLOSE, 0, 0) ? kOk : Fail(kFailed, L"post failed");
    if (command == L"dblclick-empty") return DoubleClickEmpty(main);
    if (command == L"clipboard") return Clipboard();
    if (command == L"maximize") {
        ShowWindowAsync(main, SW_MAXIMIZE);  // its result is the old visibility, not success
        return kOk;
    }
    if (command == L"resize") {
        long width = 0, height = 0;
        return argc == 4 && ParseInt(argv[2], &width) && ParseInt(argv[3], &height) ? Resize(main, width, height)
                                                                                    : Usage();
    }
    if (!hasNumber) return Usage();
    if (command == L"command") {
        return PostMessageW(main, WM_COMMAND, MAKEWPARAM(number, 0), 0) ? kOk : Fail(kFailed, L"post failed");
    }
    if (command == L"text") return ControlText(main, number);
    if (command == L"select-subnet") return SelectSubnet(main, number);
    if (command == L"auto-refresh") return SetAutoRefresh(main, number);
    if (command == L"dblclick") return DoubleClickRow(main, number);
    if (command == L"refresh-time") {
        long seconds = 0;
        return argc == 4 && ParseInt(argv[3], &seconds) ? RefreshTime(main, number, seconds) : Usage();
    }
    return Usage();
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
    // Plain "\n" line ends on the Unix pipe that the tests read.
    _setmode(_fileno(stdout), _O_BINARY);
    return Run(argc, argv);
}
