// The browse routine's timing against the fake DNS client: the browse runs
// on a thread of its own and the test answers as the devices would.
#include <gtest/gtest.h>

#include <string.h>

#include <atomic>
#include <mutex>
#include <thread>

#include "mdns/browse.h"
#include "mdns/fake_dns_client.h"
#include "mdns/reported_hosts.h"

namespace {

std::mutex g_foundLock;
std::vector<std::wstring> g_found;  // instance name, and "+txt" when it has TXT entries

int32_t CollectFound(const ResolvedService* service, HWND, HANDLE, ReportedHosts*)
{
    std::lock_guard<std::mutex> hold(g_foundLock);
    g_found.push_back(std::wstring(service->instanceName) + (service->txtEntries ? L"+txt" : L""));
    return 0;
}

DWORD WINAPI AnswerArp(IPAddr, IPAddr, PVOID mac, PULONG)
{
    memcpy(mac, "\x00\x11\x22\xAA\xBB\xCC", 6);
    return NO_ERROR;
}

class Browse : public ::testing::Test {
protected:
    void SetUp() override
    {
        g_found.clear();
        options_ = DefaultBrowseOptions();
        options_.abortEvent = abort_;
        options_.singlePass = 1;
        options_.interfaceIndex = 7;
        options_.foundCallback = CollectFound;
        InitReportedHosts(&reported_);
    }

    void TearDown() override
    {
        SetEvent(abort_);  // after a failed assertion the browse may still run
        if (thread_.joinable()) {
            thread_.join();
        }
        EXPECT_EQ(fake_.Running(), 0);
        EXPECT_EQ(fake_.ListsNotFreed(), 0);
        EXPECT_EQ(fake_.badFrees, 0);
        ReleaseReportedHosts(&reported_);
        CloseHandle(abort_);
    }

    void StartBrowse()
    {
        ResetEvent(abort_);
        done_ = false;
        thread_ = std::thread([this] {
            BrowseServices(&options_);
            done_ = true;
        });
    }

    // Milliseconds until the browse returns; it is aborted after timeoutMs.
    DWORD WaitForEnd(DWORD timeoutMs)
    {
        DWORD begin = GetTickCount();
        while (!done_) {
            if (GetTickCount() - begin > timeoutMs) {
                SetEvent(abort_);
                thread_.join();
                return 0xFFFFFFFFu;
            }
            Sleep(10);
        }
        thread_.join();
        return GetTickCount() - begin;
    }

    void Answer(const std::wstring& name, const std::vector<std::wstring>& txt = {L"vendor=Orvel"})
    {
        fake_.Deliver(InstanceName(name), DNS_TYPE_SRV, {Srv(80)});
        fake_.Deliver(InstanceName(name), DNS_TYPE_TEXT, {Txt(txt)});
    }

    FakeDnsClient fake_;
    HANDLE abort_ = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    BrowseOptions options_;
    ReportedHosts reported_;
    std::thread thread_;
    std::atomic<bool> done_{false};
};

// Newest first; answers first looked at after their 2000 ms limit do not
// count; and silence does not end the pass while instances are queued or in
// progress (a is resolved well after 2 s without a new host).
TEST_F(Browse, NewestFirstWithLimitsAndNoSilentLoss)
{
    StartBrowse();
    ASSERT_TRUE(fake_.WaitForStarts(kBrowseName, DNS_TYPE_PTR, 1, 2000));
    for (const wchar_t* name : {L"a", L"b", L"c"}) {
        ASSERT_TRUE(fake_.Deliver(kBrowseName, DNS_TYPE_PTR, Announcement(name, name, 1)));
    }
    ASSERT_TRUE(fake_.WaitForStarts(InstanceName(L"c"), DNS_TYPE_TEXT, 1, 2000));
    EXPECT_EQ(fake_.Queries().size(), 3u);  // browse, SRV and TXT of c only
    Answer(L"c");
    ASSERT_TRUE(fake_.WaitForStarts(InstanceName(L"b"), DNS_TYPE_SRV, 1, 2000));
    Sleep(2300);
    Answer(L"b");
    // TXT starts after SRV: waiting for it makes sure both can be answered.
    ASSERT_TRUE(fake_.WaitForStarts(InstanceName(L"a"), DNS_TYPE_TEXT, 1, 3000));
    Answer(L"a");
    EXPECT_NE(WaitForEnd(5000), 0xFFFFFFFFu);
    const std::vector<std::wstring> expected = {InstanceName(L"c") + L"+txt", InstanceName(L"a") + L"+txt"};
    EXPECT_EQ(g_found, expected);
    EXPECT_EQ(fake_.Starts(kBrowseName, DNS_TYPE_PTR), 1);  // no restarts without auto-refresh
}

TEST_F(Browse, BothLookupsOffHandsInstancesOverAtOnce)
{
    options_.resolveSrv = 0;
    options_.resolveTxt = 0;
    StartBrowse();
    ASSERT_TRUE(fake_.WaitForStarts(kBrowseName, DNS_TYPE_PTR, 1, 2000));
    ASSERT_TRUE(fake_.Deliver(kBrowseName, DNS_TYPE_PTR, Announcement(L"x", L"x", 1)));
    EXPECT_NE(WaitForEnd(5000), 0xFFFFFFFFu);
    EXPECT_EQ(g_found, std::vector<std::wstring>{InstanceName(L"x")});
    EXPECT_EQ(fake_.Queries().size(), 1u);
}

// While an instance waits for its answers, and while the browse query keeps
// failing to start (retried, not given up), the abort ends it within a cycle.
TEST_F(Browse, AbortEndsWithinOneCycle)
{
    for (uint32_t interfaceIndex : {7u, 0xFFFFFFFFu}) {
        options_.interfaceIndex = interfaceIndex;
        LONG attempts = fake_.startAttempts;
        StartBrowse();
        if (interfaceIndex == 7) {
            ASSERT_TRUE(fake_.WaitForStarts(kBrowseName, DNS_TYPE_PTR, 1, 2000));
            ASSERT_TRUE(fake_.Deliver(kBrowseName, DNS_TYPE_PTR, Announcement(L"x", L"x", 1)));
            ASSERT_TRUE(fake_.WaitForStarts(InstanceName(L"x"), DNS_TYPE_SRV, 1, 2000));
        } else {
            Sleep(700);
            EXPECT_GE(fake_.startAttempts - attempts, 2);
        }
        SetEvent(abort_);
        EXPECT_LT(WaitForEnd(5000), 1000u);
    }
}

// With auto-refresh, repeats of a reported host re-post its record with a
// fresh lastSeen about once a second, and the browse query is restarted so
// that devices keep answering, without reporting the host again.
TEST_F(Browse, AutoRefreshKeepsReportedHostsFresh)
{
    PostedRecords posted;
    g_platform.sendArp = AnswerArp;  // restored with the fake
    options_.reportedHosts = &reported_;
    options_.foundCallback = nullptr;  // the real conversion
    options_.singlePass = 0;
    StartBrowse();
    ASSERT_TRUE(fake_.WaitForStarts(kBrowseName, DNS_TYPE_PTR, 1, 2000));
    const std::vector<FakeRecord> announcement = Announcement(L"S", L"speaker1", Ipv4(192, 168, 77, 20));
    ASSERT_TRUE(fake_.Deliver(kBrowseName, DNS_TYPE_PTR, announcement));
    ASSERT_TRUE(fake_.WaitForStarts(InstanceName(L"S"), DNS_TYPE_TEXT, 1, 2000));
    Answer(L"S", {L"vendor=Orvel", L"model=X200"});
    for (DWORD begin = GetTickCount(); GetTickCount() - begin < 4000; Sleep(100)) {
        fake_.Deliver(kBrowseName, DNS_TYPE_PTR, announcement);  // misses while restarting
    }
    SetEvent(abort_);
    EXPECT_LT(WaitForEnd(5000), 1000u);

    std::vector<DeviceRecord> records = posted.Collect();
    ASSERT_GE(records.size(), 3u);
    EXPECT_LE(records.size(), 7u);
    for (size_t i = 0; i < records.size(); ++i) {
        EXPECT_STREQ(records[i].ipText, L"192.168.77.20");
        EXPECT_STREQ(records[i].description, L"Orvel X200");
        if (i > 0) {
            EXPECT_GE(records[i].lastSeen - records[i - 1].lastSeen, kRefreshIntervalMs - 50);
        }
    }
    EXPECT_EQ(fake_.Starts(InstanceName(L"S"), DNS_TYPE_SRV), 1);
    EXPECT_GE(fake_.Starts(kBrowseName, DNS_TYPE_PTR), 4);
}

// A restart of the browse query is not an answer: the pass still ends in silence.
TEST_F(Browse, RestartsDoNotHoldOffSilence)
{
    options_.reportedHosts = &reported_;
    StartBrowse();
    DWORD took = WaitForEnd(6000);
    EXPECT_GE(took, 1900u);
    EXPECT_LT(took, 4000u);
    EXPECT_GE(fake_.Starts(kBrowseName, DNS_TYPE_PTR), 2);
}

}  // namespace
