// The expiry ticker and the address watcher, run on their own threads against
// an injected address table and a message-only window that counts posts.
#include <winsock2.h>
#include <windows.h>
#include <process.h>

#include <gtest/gtest.h>

#include "core/app_messages.h"
#include "discovery/threads.h"
#include "app/fake_platform.h"
#include "core/globals.h"
#include "net/interface_table.h"

namespace {

LONG g_ipChanges = 0;
LONG g_ticks = 0;

LRESULT CALLBACK CountingProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam)
{
    if (message == WM_APP_IPCHANGE) {
        ++g_ipChanges;
        return 0;
    }
    if (message == WM_APP_TICK) {
        ++g_ticks;
        return 0;
    }
    return DefWindowProcW(window, message, wParam, lParam);
}

class AppThreadsTest : public ::testing::Test {
protected:
    static void SetUpTestSuite()
    {
        WNDCLASSW windowClass = {};
        windowClass.lpfnWndProc = CountingProc;
        windowClass.hInstance = GetModuleHandleW(nullptr);
        windowClass.lpszClassName = L"NdtCountingWindow";
        RegisterClassW(&windowClass);
    }

    void SetUp() override
    {
        g_ipChanges = 0;
        g_ticks = 0;
        g_subnetFilter = kAllInterfaces;
        g_autoRefresh = 0;
        g_stopEvent = CreateEventW(nullptr, TRUE, FALSE, nullptr);
        window = CreateWindowExW(0, L"NdtCountingWindow", L"", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr,
                                 GetModuleHandleW(nullptr), nullptr);
        ASSERT_NE(nullptr, window);
        g_mainWindow = window;
    }

    void TearDown() override
    {
        Stop();
        TeardownInterfaceTable();
        DestroyWindow(window);
        g_mainWindow = nullptr;
        CloseHandle(g_stopEvent);
        g_stopEvent = INVALID_HANDLE_VALUE;
    }

    void Start(unsigned(__stdcall* procedure)(void*))
    {
        thread = reinterpret_cast<HANDLE>(_beginthreadex(nullptr, 0, procedure, nullptr, 0, nullptr));
        ASSERT_NE(nullptr, thread);
    }

    // Signals the stop event and returns how long the thread took to end.
    DWORD Stop()
    {
        if (thread == nullptr) {
            return 0;
        }
        DWORD started = GetTickCount();
        SetEvent(g_stopEvent);
        EXPECT_EQ(static_cast<DWORD>(WAIT_OBJECT_0), WaitForSingleObject(thread, 5000));
        CloseHandle(thread);
        thread = nullptr;
        return GetTickCount() - started;
    }

    // Dispatches this thread's messages for the given time.
    static void Pump(DWORD milliseconds)
    {
        DWORD started = GetTickCount();
        for (;;) {
            DWORD elapsed = GetTickCount() - started;
            if (elapsed >= milliseconds) {
                return;
            }
            MsgWaitForMultipleObjects(0, nullptr, FALSE, milliseconds - elapsed, QS_ALLINPUT);
            MSG message;
            while (PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) {
                DispatchMessageW(&message);
            }
        }
    }

    // Pumps until at least count address changes arrived or the time is up.
    static void PumpUntilChanges(LONG count, DWORD milliseconds)
    {
        DWORD started = GetTickCount();
        while (g_ipChanges < count && GetTickCount() - started < milliseconds) {
            Pump(50);
        }
    }

    // A table of 192.168.1.5/24 and the watcher running on it.
    void WatchOneInterface()
    {
        fake.SetAddresses({{"192.168.1.5", "255.255.255.0", 7}});
        ASSERT_EQ(1, BuildInterfaceTable());
        Start(AddressWatcher);
        Pump(300);
    }

    FakePlatform fake;
    HWND window = nullptr;
    HANDLE thread = nullptr;
};

// Once a second for the count; four times a second with auto-refresh on,
// so that a row goes within 3.25 s of its device's last answer.
TEST_F(AppThreadsTest, TickerPostsAtItsPaceAndStopsPromptly)
{
    struct Pace {
        int32_t autoRefresh;
        LONG fewest;
        LONG most;
    };
    for (const Pace& pace : {Pace{0, 2, 3}, Pace{1, 8, 10}}) {
        SCOPED_TRACE(pace.autoRefresh != 0 ? "auto-refresh on" : "auto-refresh off");
        g_autoRefresh = pace.autoRefresh;
        g_ticks = 0;
        ResetEvent(g_stopEvent);
        Start(ExpiryTicker);
        Pump(2500);
        EXPECT_GE(g_ticks, pace.fewest);
        EXPECT_LE(g_ticks, pace.most);
        EXPECT_LT(Stop(), 1000u);
    }
}

TEST_F(AppThreadsTest, WatcherLeavesTheTableAloneWithoutAChange)
{
    fake.SetAddresses({{"127.0.0.1", "255.0.0.0", 1}, {"192.168.1.5", "255.255.255.0", 7}});
    ASSERT_EQ(1, BuildInterfaceTable());
    InterfaceEntry* entries = g_interfaceTable.entries;
    HANDLE socketMutex = entries[0].socketMutex;
    LONG readsBefore = fake.addressReads;
    Start(AddressWatcher);
    Pump(1500);
    EXPECT_EQ(0, g_ipChanges);
    // About once a second, not on every pass: each read is costly under Wine.
    EnterCriticalSection(&fake.lock);
    LONG reads = fake.addressReads - readsBefore;
    LeaveCriticalSection(&fake.lock);
    EXPECT_GE(reads, 1);
    EXPECT_LE(reads, 3);
    EXPECT_EQ(entries, g_interfaceTable.entries);
    EXPECT_EQ(socketMutex, g_interfaceTable.entries[0].socketMutex);
    EXPECT_LT(Stop(), 1000u);
}

TEST_F(AppThreadsTest, EachChangeGivesOneRebuildAndOneNotice)
{
    ASSERT_NO_FATAL_FAILURE(WatchOneInterface());

    fake.SetAddresses({{"192.168.1.5", "255.255.255.0", 7}, {"10.0.0.5", "255.0.0.0", 8}});
    PumpUntilChanges(1, 3000);
    Pump(1000);  // a second notice for the same change would arrive by now
    EXPECT_EQ(1, g_ipChanges);
    LockInterfaceTable();
    EXPECT_EQ(2u, g_interfaceTable.count);
    UnlockInterfaceTable();

    fake.SetAddresses({{"10.0.0.5", "255.0.0.0", 8}});
    PumpUntilChanges(2, 3000);
    Pump(1000);
    EXPECT_EQ(2, g_ipChanges);
    LockInterfaceTable();
    ASSERT_EQ(1u, g_interfaceTable.count);
    EXPECT_EQ(Ipv4("10.0.0.5"), g_interfaceTable.entries[0].address);
    UnlockInterfaceTable();
    EXPECT_TRUE(fake.boxes.empty());
}

TEST_F(AppThreadsTest, ChangeToLoopbackOnlyReportsFromTheWatcherAndStillNotifies)
{
    ASSERT_NO_FATAL_FAILURE(WatchOneInterface());

    fake.SetAddresses({{"127.0.0.1", "255.0.0.0", 1}});
    PumpUntilChanges(1, 3000);
    Pump(600);
    EXPECT_EQ(1, g_ipChanges);
    EXPECT_EQ(0u, g_interfaceTable.count);
    EnterCriticalSection(&fake.lock);
    ASSERT_EQ(1u, fake.boxes.size());
    EXPECT_EQ(L"No network interfaces detected", fake.boxes[0].text);
    EXPECT_EQ(L"Error", fake.boxes[0].caption);
    LeaveCriticalSection(&fake.lock);
}

TEST_F(AppThreadsTest, NotificationRebuildsOnceAndRearms)
{
    ASSERT_NO_FATAL_FAILURE(WatchOneInterface());
    // The table itself is unchanged, so only the notification can cause this.
    fake.SignalAddressChange();
    PumpUntilChanges(1, 3000);
    Pump(600);
    EXPECT_EQ(1, g_ipChanges);
    EXPECT_EQ(2, fake.notifyCalls);  // armed, then re-armed once
    EXPECT_EQ(1, fake.cancelCalls);
}

TEST_F(AppThreadsTest, NotificationRightAfterAPolledRebuildIsItsEcho)
{
    ASSERT_NO_FATAL_FAILURE(WatchOneInterface());
    fake.SetAddresses({{"192.168.1.5", "255.255.255.0", 7}, {"10.0.0.5", "255.0.0.0", 8}});
    PumpUntilChanges(1, 3000);
    fake.SignalAddressChange();
    Pump(1000);
    EXPECT_EQ(1, g_ipChanges);
    EXPECT_EQ(2, fake.notifyCalls);
}

TEST_F(AppThreadsTest, FailedFirstArmingStillPolls)
{
    fake.notifyResult = ERROR_NOT_SUPPORTED;
    ASSERT_NO_FATAL_FAILURE(WatchOneInterface());
    fake.SetAddresses({{"10.0.0.5", "255.0.0.0", 8}});
    PumpUntilChanges(1, 3000);
    EXPECT_EQ(1, g_ipChanges);
    EXPECT_LT(Stop(), 700u);
}

TEST_F(AppThreadsTest, WatcherStopsWithinAPass)
{
    fake.SetAddresses({{"192.168.1.5", "255.255.255.0", 7}});
    ASSERT_EQ(1, BuildInterfaceTable());
    Start(AddressWatcher);
    Pump(400);
    EXPECT_LT(Stop(), 700u);
}

}  // namespace
