// The wait loop of a console run, and its Ctrl+C handler.
#include "console/loop.h"

#include <atomic>

namespace {

// Messages handled between two looks at the clock and at Ctrl+C, so that a
// flood of answers can hold up neither.
constexpr int kMessagesPerLook = 64;
// How often a quiet run asks whether its output pipe still has a reader.
constexpr DWORD kProbeIntervalMs = 250;
// A console window's close gives its handler this long before the system
// ends the process; the run is taken down well within it.
constexpr DWORD kCloseGraceMs = 4000;

// Set by the console control handler (on a thread of its own) and read by
// the loop; created before the handler is installed and kept for the life
// of the process, since the handler may run at any moment.
HANDLE g_quitEvent = nullptr;
HANDLE g_finishedEvent = nullptr;
std::atomic<bool> g_quitRequested{false};

BOOL WINAPI OnConsoleControl(DWORD type)
{
    g_quitRequested = true;
    SetEvent(g_quitEvent);
    if (type == CTRL_CLOSE_EVENT || type == CTRL_LOGOFF_EVENT || type == CTRL_SHUTDOWN_EVENT) {
        // Returning lets the system end the process at once: first let the
        // run take discovery down.
        WaitForSingleObject(g_finishedEvent, kCloseGraceMs);
    }
    return TRUE;
}

DWORD TickClock()
{
    return GetTickCount();
}

void DispatchSome()
{
    MSG message;
    for (int handled = 0; handled < kMessagesPerLook && PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE);
         ++handled) {
        DispatchMessageW(&message);
    }
}

}  // namespace

bool ScanTimeLeft(const ScanDeadline& deadline, DWORD* waitMs)
{
    if (deadline.limitMs == 0) {
        *waitMs = INFINITE;
        return true;
    }
    DWORD elapsed = deadline.clock() - deadline.start;
    if (elapsed >= deadline.limitMs) {
        return false;
    }
    *waitMs = deadline.limitMs - elapsed;
    return true;
}

bool InstallScanQuitHandler()
{
    g_quitEvent = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    g_finishedEvent = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    if (g_quitEvent == nullptr || g_finishedEvent == nullptr) {
        return false;
    }
    SetConsoleCtrlHandler(OnConsoleControl, TRUE);
    return true;
}

void ScanFinished()
{
    if (g_finishedEvent != nullptr) {
        SetEvent(g_finishedEvent);
    }
}

ScanLoopEnd RunScanLoop(DWORD limitMs, ScanPrinter* view)
{
    ScanDeadline deadline = {TickClock, GetTickCount(), limitMs};
    DWORD lastProbe = deadline.start;
    for (;;) {
        if (g_quitRequested) {
            return kScanLoopQuit;
        }
        if (view->WriteStatus() != NO_ERROR) {
            return kScanLoopOutputLost;
        }
        DWORD timeout = INFINITE;
        if (!ScanTimeLeft(deadline, &timeout)) {
            return kScanLoopTimeUp;
        }
        DWORD now = GetTickCount();
        if (now - lastProbe >= kProbeIntervalMs) {
            view->ProbeOutput();
            lastProbe = now;
        }
        timeout = timeout < kProbeIntervalMs ? timeout : kProbeIntervalMs;
        DWORD wait = MsgWaitForMultipleObjectsEx(1, &g_quitEvent, timeout, QS_ALLINPUT, MWMO_INPUTAVAILABLE);
        if (wait == WAIT_FAILED) {
            Sleep(10);  // never expected; keeps the loop from spinning
        }
        DispatchSome();
    }
}
