// The browse routine's timing against the fake DNS client: the browse runs
// on a thread of its own and the test answers as the devices would.
#include <gtest/gtest.h>

#include <string.h>

#include <algorithm>
#include <atomic>
#include <mutex>
#include <thread>

#include "browse/browse.h"
#include "mdns/fake_dns_client.h"
#include "browse/reported_hosts.h"

namespace {

std::mutex g_foundLock;
std::vector<std::wstring> g_found;  // instance name, and "+txt" when it has TXT entries
std::vector<uint32_t> g_foundAddresses;
std::vector<DWORD> g_foundTicks;
std::atomic<int32_t> g_foundResult{0};  // what CollectFound answers
std::vector<uint32_t> g_heard;  // the addresses handed to CollectHeard

int32_t CollectFound(const ResolvedService* service, HWND, HANDLE, ReportedHosts*, uint32_t)
{
    std::lock_guard<std::mutex> hold(g_foundLock);
    g_found.push_back(std::wstring(service->instanceName) + (service->txtCount > 0 ? L"+txt" : L""));
    g_foundAddresses.push_back(service->address);
    g_foundTicks.push_back(GetTickCount());
    return g_foundResult;
}

void CollectHeard(uint32_t address, const InterfaceSubnet&)
{
    std::lock_guard<std::mutex> hold(g_foundLock);
    g_heard.push_back(address);
}

std::vector<std::wstring> Found()
{
    std::lock_guard<std::mutex> hold(g_foundLock);
    return g_found;
}

std::atomic<bool> g_wanted{true};

bool Wanted(void*)
{
    return g_wanted;
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
        g_foundAddresses.clear();
        g_foundTicks.clear();
        g_heard.clear();
        g_foundResult = 0;
        options_ = DefaultBrowseOptions();
        options_.abortEvent = abort_;
        options_.singlePass = 1;
        options_.interfaceIndex = 7;
        options_.foundCallback = CollectFound;
        options_.minPassMs = 0;  // a pass may end at its first silence
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

    // The SRV answer carries its target's A record, as responders send it.
    void Answer(const std::wstring& name, uint32_t address, const std::vector<std::wstring>& txt = {L"vendor=Orvel"})
    {
        fake_.Deliver(InstanceName(name), DNS_TYPE_SRV, {Srv(name, name, 80), A(name + L".local", address)});
        fake_.Deliver(InstanceName(name), DNS_TYPE_TEXT, {Txt(name, txt)});
    }

    FakeDnsClient fake_;
    HANDLE abort_ = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    BrowseOptions options_;
    ReportedHosts reported_;
    std::thread thread_;
    std::atomic<bool> done_{false};
};

// Instances that the browse answer describes in full are reported at once,
// without queries of their own and without waiting out a cycle.
TEST_F(Browse, CompleteAnswersNeedNoQueries)
{
    StartBrowse();
    ASSERT_TRUE(fake_.WaitForStarts(kBrowseName, DNS_TYPE_PTR, 1, 2000));
    DWORD begin = GetTickCount();
    std::vector<FakeRecord> answer;
    for (const wchar_t* name : {L"a", L"b", L"c"}) {
        std::vector<FakeRecord> one = FullAnswer(name, name, 1, {L"vendor=Orvel"});
        answer.insert(answer.end(), one.begin(), one.end());
    }
    ASSERT_TRUE(fake_.Deliver(kBrowseName, DNS_TYPE_PTR, answer));
    while (Found().size() < 3 && GetTickCount() - begin < 2000) {
        Sleep(5);
    }
    EXPECT_LT(GetTickCount() - begin, 200u);
    EXPECT_NE(WaitForEnd(5000), 0xFFFFFFFFu);
    std::vector<std::wstring> found = Found();
    std::sort(found.begin(), found.end());
    const std::vector<std::wstring> expected = {InstanceName(L"a") + L"+txt", InstanceName(L"b") + L"+txt",
                                                InstanceName(L"c") + L"+txt"};
    EXPECT_EQ(found, expected);
    EXPECT_EQ(fake_.Queries().size(), 1u);
}

// The others are resolved up to kMaxParallelLookups at a time, each with its
// own 2000 ms limit (answers first looked at after it do not count); an
// instance lost that way counts again at its host's next answer.
TEST_F(Browse, ParallelLookupsWithLimitsAndLostHostsFoundAgain)
{
    options_.singlePass = 0;
    StartBrowse();
    ASSERT_TRUE(fake_.WaitForStarts(kBrowseName, DNS_TYPE_PTR, 1, 2000));
    std::vector<std::wstring> names;
    const size_t total = kMaxParallelLookups + 2;
    for (size_t i = 0; i < total; ++i) {
        names.push_back(L"d" + std::to_wstring(i));
        ASSERT_TRUE(fake_.Deliver(kBrowseName, DNS_TYPE_PTR, Announcement(names.back(), names.back(), 1)));
    }
    Sleep(300);
    int started = 0;
    for (const std::wstring& name : names) {
        started += fake_.Starts(InstanceName(name), DNS_TYPE_TEXT);
    }
    EXPECT_EQ(started, kMaxParallelLookups);
    // All but d0 answer (whichever were started first); d0 waits past its limit.
    for (DWORD begin = GetTickCount(); Found().size() < total - 1 && GetTickCount() - begin < 3000; Sleep(50)) {
        for (size_t i = 1; i < names.size(); ++i) {
            if (fake_.Starts(InstanceName(names[i]), DNS_TYPE_TEXT) == 1) {
                Answer(names[i], 1);
            }
        }
    }
    ASSERT_TRUE(fake_.WaitForStarts(InstanceName(L"d0"), DNS_TYPE_SRV, 1, 3000));
    Sleep(2300);
    Answer(L"d0", 1);
    EXPECT_EQ(Found().size(), total - 1);
    for (DWORD begin = GetTickCount();
         fake_.Starts(InstanceName(L"d0"), DNS_TYPE_TEXT) < 2 && GetTickCount() - begin < 3000; Sleep(50)) {
        fake_.Deliver(kBrowseName, DNS_TYPE_PTR, Announcement(L"d0", L"d0", 1));
    }
    Answer(L"d0", 1);
    for (DWORD begin = GetTickCount(); Found().size() < total && GetTickCount() - begin < 3000; Sleep(50)) {
    }
    SetEvent(abort_);
    EXPECT_NE(WaitForEnd(5000), 0xFFFFFFFFu);
    std::vector<std::wstring> found = Found();
    EXPECT_EQ(found.size(), total);
    EXPECT_EQ(std::count(found.begin(), found.end(), InstanceName(L"d0") + L"+txt"), 1);
}

// An answer split over packets: a PTR alone still yields its instance, and
// an SRV answer without its target's address is followed by a query for
// it; of several addresses the one in the interface's subnet is taken.
TEST_F(Browse, SplitAnswersAreResolvedWithAnAddressQuery)
{
    options_.interfaceAddress = Ipv4(192, 168, 77, 10);
    options_.interfaceMask = Ipv4(255, 255, 255, 0);
    StartBrowse();
    ASSERT_TRUE(fake_.WaitForStarts(kBrowseName, DNS_TYPE_PTR, 1, 2000));
    ASSERT_TRUE(fake_.Deliver(kBrowseName, DNS_TYPE_PTR, {Ptr(InstanceName(L"s"))}));
    ASSERT_TRUE(fake_.WaitForStarts(InstanceName(L"s"), DNS_TYPE_SRV, 1, 2000));
    ASSERT_TRUE(fake_.Deliver(InstanceName(L"s"), DNS_TYPE_SRV, {Srv(L"s", L"s", 80)}));
    ASSERT_TRUE(fake_.Deliver(InstanceName(L"s"), DNS_TYPE_TEXT, {Txt(L"s", {L"vendor=Orvel"})}));
    ASSERT_TRUE(fake_.WaitForStarts(L"s.local", DNS_TYPE_A, 1, 2000));
    ASSERT_TRUE(fake_.Deliver(L"s.local", DNS_TYPE_A,
                              {A(L"s.local", Ipv4(10, 1, 1, 1)), A(L"S.LOCAL", Ipv4(192, 168, 77, 20))}));
    EXPECT_NE(WaitForEnd(5000), 0xFFFFFFFFu);
    EXPECT_EQ(g_found, std::vector<std::wstring>{InstanceName(L"s") + L"+txt"});
    EXPECT_EQ(g_foundAddresses, std::vector<uint32_t>{Ipv4(192, 168, 77, 20)});
}

// A device that keeps answering but whose hardware address is never learnt
// is tried again only after a pause that doubles: 1 s after its first
// failure, 2 s after its second. Without the pause it would be looked up
// again on every answer after each failure (about every 1.5 s).
TEST_F(Browse, FailedInstancesPauseBeforeTheyAreTriedAgain)
{
    g_foundResult = kServiceAwaitingMac;
    options_.singlePass = 0;
    StartBrowse();
    ASSERT_TRUE(fake_.WaitForStarts(kBrowseName, DNS_TYPE_PTR, 1, 2000));
    int answered = 0;
    for (DWORD begin = GetTickCount(); GetTickCount() - begin < 4500; Sleep(50)) {
        fake_.Deliver(kBrowseName, DNS_TYPE_PTR, Announcement(L"m", L"m", 1));
        int started = fake_.Starts(InstanceName(L"m"), DNS_TYPE_SRV);
        if (started > answered && fake_.Starts(InstanceName(L"m"), DNS_TYPE_TEXT) == started) {
            Answer(L"m", 1);
            answered = started;
        }
    }
    SetEvent(abort_);
    EXPECT_NE(WaitForEnd(5000), 0xFFFFFFFFu);
    // Looked up at about 0 s and 2.5 s; the third would come after 5.5 s.
    EXPECT_EQ(fake_.Starts(InstanceName(L"m"), DNS_TYPE_SRV), 2);
}

// A stream of new hosts neither grows the browse without bound nor keeps it
// from ending once its worker no longer wants it.
TEST_F(Browse, FloodOfNewHostsEndsWhenNoLongerWanted)
{
    g_wanted = true;
    options_.keepBrowsing = Wanted;
    StartBrowse();
    ASSERT_TRUE(fake_.WaitForStarts(kBrowseName, DNS_TYPE_PTR, 1, 2000));
    for (int i = 0; i < 50000; ++i) {
        std::wstring name = L"f" + std::to_wstring(i);
        fake_.Deliver(kBrowseName, DNS_TYPE_PTR, Announcement(name, name, 1));
    }
    EXPECT_LE(fake_.Running(), 1 + 2 * kMaxParallelLookups);
    g_wanted = false;
    EXPECT_LT(WaitForEnd(5000), 1000u);
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

// A browse reserves in our own client the queries it may hold, for its time.
TEST_F(Browse, ReservesItsQueriesInOurClientForItsTime)
{
    static std::atomic<int> reserved{0};
    g_platform.ownReserveQueries = [](int queries) { reserved += queries; };  // restored with the fake
    StartBrowse();
    ASSERT_TRUE(fake_.WaitForStarts(kBrowseName, DNS_TYPE_PTR, 1, 2000));
    EXPECT_EQ(reserved, kQueriesPerBrowse);
    SetEvent(abort_);
    EXPECT_LT(WaitForEnd(5000), 1000u);
    EXPECT_EQ(reserved, 0);
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
    const std::vector<FakeRecord> announcement = Announcement(L"S", L"S", Ipv4(192, 168, 77, 20));
    ASSERT_TRUE(fake_.Deliver(kBrowseName, DNS_TYPE_PTR, announcement));
    ASSERT_TRUE(fake_.WaitForStarts(InstanceName(L"S"), DNS_TYPE_TEXT, 1, 2000));
    Answer(L"S", Ipv4(192, 168, 77, 20), {L"vendor=Orvel", L"model=X200"});
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

// With auto-refresh, a reported host that falls quiet is asked for its
// address before its row would go, and its answer re-posts its record.
TEST_F(Browse, QuietReportedHostsAreAskedBeforeTheirRowsGo)
{
    PostedRecords posted;
    g_platform.sendArp = AnswerArp;  // restored with the fake
    options_.reportedHosts = &reported_;
    options_.foundCallback = nullptr;  // the real conversion
    options_.singlePass = 0;
    options_.minPassMs = 10000;
    StartBrowse();
    ASSERT_TRUE(fake_.WaitForStarts(kBrowseName, DNS_TYPE_PTR, 1, 2000));
    const uint32_t address = Ipv4(192, 168, 77, 20);
    ASSERT_TRUE(fake_.Deliver(kBrowseName, DNS_TYPE_PTR, FullAnswer(L"S", L"S", address, {L"vendor=Orvel"})));
    ASSERT_TRUE(fake_.WaitForStarts(L"S.local", DNS_TYPE_A, 1, 4000));
    ASSERT_TRUE(fake_.Deliver(L"S.local", DNS_TYPE_A, {A(L"S.local", address)}));
    SetEvent(abort_);
    EXPECT_LT(WaitForEnd(5000), 1000u);
    std::vector<DeviceRecord> records = posted.Collect();
    ASSERT_EQ(records.size(), 2u);
    EXPECT_GE(records[1].lastSeen - records[0].lastSeen, kConfirmAfterMs);
    EXPECT_LT(records[1].lastSeen - records[0].lastSeen, kRowLifeMs);
}

// Silence ends a pass only once the browse question has had its repeats.
TEST_F(Browse, SilenceEndsAPassNotBeforeItsMinimum)
{
    options_.minPassMs = 3000;
    StartBrowse();
    DWORD took = WaitForEnd(6000);
    EXPECT_GE(took, 2900u);
    EXPECT_LT(took, 4500u);
}

// A lookup that ran out of time is asked again by the browse itself once
// its pause is over, without waiting for the instance's next browse answer.
TEST_F(Browse, LostLookupsAreAskedAgainAfterTheirPause)
{
    options_.singlePass = 0;
    StartBrowse();
    ASSERT_TRUE(fake_.WaitForStarts(kBrowseName, DNS_TYPE_PTR, 1, 2000));
    ASSERT_TRUE(fake_.Deliver(kBrowseName, DNS_TYPE_PTR, Announcement(L"r", L"r", 1)));
    ASSERT_TRUE(fake_.WaitForStarts(InstanceName(L"r"), DNS_TYPE_TEXT, 2, 5000));
    Answer(L"r", 1);
    for (DWORD begin = GetTickCount(); Found().empty() && GetTickCount() - begin < 2000; Sleep(20)) {
    }
    SetEvent(abort_);
    EXPECT_NE(WaitForEnd(5000), 0xFFFFFFFFu);
    EXPECT_EQ(Found(), std::vector<std::wstring>{InstanceName(L"r") + L"+txt"});
}

}  // namespace

// An instance reported before that stays silent is asked directly soon
// after the pass starts; one that does not answer then is forgotten.
TEST_F(Browse, SilentRememberedInstancesAreAskedDirectly)
{
    NameIndex remembered;
    ASSERT_TRUE(InitNameIndex(&remembered, kMaxRememberedInstances, kDnsNameChars - 1));
    int32_t evicted;
    for (const wchar_t* name : {L"q", L"gone"}) {
        AddName(&remembered, InstanceName(name).c_str(), 0, &evicted);
    }
    options_.rememberedInstances = &remembered;
    StartBrowse();
    ASSERT_TRUE(fake_.WaitForStarts(InstanceName(L"q"), DNS_TYPE_TEXT, 1, 2000));
    Answer(L"q", 1);
    EXPECT_NE(WaitForEnd(8000), 0xFFFFFFFFu);
    EXPECT_EQ(Found(), std::vector<std::wstring>{InstanceName(L"q") + L"+txt"});
    EXPECT_EQ(fake_.Starts(InstanceName(L"gone"), DNS_TYPE_SRV), 2);  // and once more after its pause
    EXPECT_NE(FindName(&remembered, InstanceName(L"q").c_str(), 0), -1);
    EXPECT_EQ(FindName(&remembered, InstanceName(L"gone").c_str(), 0), -1);
    ReleaseNameIndex(&remembered);
}

// A Refresh during a pass (its trigger is the restart event) starts a fresh
// pass within a cycle, and that pass reports a host the first one reported.
TEST_F(Browse, RestartEventStartsAFreshPassAtOnce)
{
    HANDLE restart = CreateEventW(nullptr, FALSE, FALSE, nullptr);
    options_.restartEvent = restart;
    StartBrowse();
    ASSERT_TRUE(fake_.WaitForStarts(kBrowseName, DNS_TYPE_PTR, 1, 2000));
    ASSERT_TRUE(fake_.Deliver(kBrowseName, DNS_TYPE_PTR, FullAnswer(L"a", L"a", 1, {L"vendor=Orvel"})));
    for (DWORD waited = 0; Found().empty() && waited < 2000; waited += 5) {
        Sleep(5);
    }
    SetEvent(restart);
    DWORD begin = GetTickCount();
    ASSERT_TRUE(fake_.WaitForStarts(kBrowseName, DNS_TYPE_PTR, 2, 2000));
    EXPECT_LT(GetTickCount() - begin, 400u);
    ASSERT_TRUE(fake_.Deliver(kBrowseName, DNS_TYPE_PTR, FullAnswer(L"a", L"a", 1, {L"vendor=Orvel"})));
    EXPECT_NE(WaitForEnd(5000), 0xFFFFFFFFu);
    const std::vector<std::wstring> twice = {InstanceName(L"a") + L"+txt", InstanceName(L"a") + L"+txt"};
    EXPECT_EQ(Found(), twice);
    CloseHandle(restart);
}

// A device whose browse answer gives its address but not the rest is handed
// over before its lookups start, so that its hardware address is learnt
// meanwhile; one described in full is not. Once resolved, a device whose
// hardware address is not known yet is looked at again soon, then less and
// less often, for a second.
TEST_F(Browse, DevicesHeardEarlyAndMacRetriesBackOff)
{
    g_foundResult = kServiceAwaitingMac;
    options_.deviceHeard = CollectHeard;
    StartBrowse();
    ASSERT_TRUE(fake_.WaitForStarts(kBrowseName, DNS_TYPE_PTR, 1, 2000));
    ASSERT_TRUE(fake_.Deliver(kBrowseName, DNS_TYPE_PTR, FullAnswer(L"f", L"f", 21, {L"vendor=Orvel"})));
    ASSERT_TRUE(fake_.Deliver(kBrowseName, DNS_TYPE_PTR, Announcement(L"m", L"m", 20)));
    ASSERT_TRUE(fake_.WaitForStarts(InstanceName(L"m"), DNS_TYPE_TEXT, 1, 2000));
    Answer(L"m", 20);
    EXPECT_NE(WaitForEnd(5000), 0xFFFFFFFFu);
    EXPECT_EQ(g_heard, std::vector<uint32_t>{20});
    std::vector<DWORD> tries;
    for (size_t i = 0; i < g_found.size(); ++i) {
        if (g_found[i] == InstanceName(L"m") + L"+txt") {
            tries.push_back(g_foundTicks[i]);
        }
    }
    // At 0, 10, 30, 70, 150, 250 ... 950 ms; a loaded machine may skip a few.
    ASSERT_GE(tries.size(), 5u);
    EXPECT_LE(tries.size(), 14u);
    EXPECT_LT(tries[1] - tries[0], 60u);
    EXPECT_GE(tries.back() - tries[tries.size() - 2], 90u);
}
