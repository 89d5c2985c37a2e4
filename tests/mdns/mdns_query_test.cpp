// The query objects' contract, the browse query's filter of repeated hosts,
// and what the record callbacks take from answers.
#include <gtest/gtest.h>

#include <stdlib.h>

#include <algorithm>
#include <memory>
#include <thread>

#include "browse/browse.h"
#include "mdns/fake_dns_client.h"

namespace {

VOID WINAPI CountAnswer(PVOID count, PMDNS_QUERY_HANDLE, PDNS_QUERY_RESULT)
{
    ++*static_cast<int*>(count);
}

DNS_QUERY_RESULT Result(PDNS_RECORD records, DNS_STATUS status = 0)
{
    DNS_QUERY_RESULT result = {};
    result.QueryStatus = status;
    result.pQueryRecords = records;
    return result;
}

TEST(MdnsQuery, StatusCodesAndTicks)
{
    FakeDnsClient fake;
    int answers = 0;
    mDNSQuery query;
    EXPECT_EQ(query.Stop(), 6u);
    EXPECT_EQ(query.Start(nullptr, DNS_TYPE_TEXT, CountAnswer, &answers, 3), 87u);
    EXPECT_EQ(query.Start(L"a.local", DNS_TYPE_TEXT, nullptr, &answers, 3), 87u);
    fake.startStatus = 1460;
    EXPECT_EQ(query.Start(L"a.local", DNS_TYPE_TEXT, CountAnswer, &answers, 3), 1460u);
    EXPECT_EQ(query.IsActive(), 0);
    EXPECT_TRUE(fake.Queries().empty());

    fake.startStatus = 0;
    ASSERT_EQ(query.Start(L"a.local", DNS_TYPE_TEXT, CountAnswer, &answers, 3), 0u);
    EXPECT_EQ(query.Start(L"b.local", DNS_TYPE_TEXT, CountAnswer, &answers, 3), 170u);
    ASSERT_EQ(fake.Running(), 1);
    FakeQuery started = fake.Queries()[0];
    EXPECT_EQ(started.name, L"a.local");
    EXPECT_EQ(started.interfaceIndex, 3u);
    EXPECT_NE(started.context, static_cast<PVOID>(&query));  // a slot's token, never the object
    EXPECT_EQ(query.startTick, query.lastAnswerTick.load());
    EXPECT_LT(query.TimeSinceStart(), 1000u);

    Sleep(1000);
    // A failed answer reaches the callback but is no answer for the clock;
    // its records are freed all the same.
    ASSERT_TRUE(fake.Deliver(L"a.local", DNS_TYPE_TEXT, {Txt(L"a", {L"k=v"})}, DNS_ERROR_RCODE_NAME_ERROR));
    EXPECT_GE(query.TimeSinceLastAnswer(), 950u);
    ASSERT_TRUE(fake.Deliver(L"a.local", DNS_TYPE_TEXT, {Txt(L"a", {L"k=v"})}));
    EXPECT_EQ(answers, 2);
    EXPECT_LT(query.TimeSinceLastAnswer(), 500u);
    EXPECT_GE(query.TimeSinceStart(), 950u);

    EXPECT_EQ(query.Stop(), 0u);
    EXPECT_EQ(fake.Running(), 0);
    EXPECT_EQ(query.Stop(), 6u);
    EXPECT_EQ(fake.ListsNotFreed(), 0);
}

LONG g_ownStarts = 0;
DNS_STATUS WINAPI OwnStart(PMDNS_QUERY_REQUEST, PMDNS_QUERY_HANDLE)
{
    ++g_ownStarts;
    return 0;
}
DNS_STATUS WINAPI OwnStop(PMDNS_QUERY_HANDLE) { return 0; }
VOID WINAPI OwnFree(PVOID, DNS_FREE_TYPE) {}

// An interface whose queries the system client keeps refusing moves to our
// own client; the others still ask the system first; without a system
// client, our own takes every query.
TEST(MdnsQuery, RefusingSystemClientGivesWayToOwnPerInterface)
{
    FakeDnsClient fake;
    fake.startStatus = ERROR_ACCESS_DENIED;
    g_platform.ownDnsStartMulticastQuery = OwnStart;
    g_platform.ownDnsStopMulticastQuery = OwnStop;
    g_platform.ownDnsFree = OwnFree;
    g_ownStarts = 0;
    int answers = 0;
    mDNSQuery query;
    for (int i = 1; i < kSystemRefusalsBeforeOwnClient; ++i) {
        EXPECT_EQ(query.Start(L"a.local", DNS_TYPE_TEXT, CountAnswer, &answers, 5), DWORD(ERROR_ACCESS_DENIED));
    }
    EXPECT_EQ(g_ownStarts, 0);
    for (int i = 0; i < 2; ++i) {
        ASSERT_EQ(query.Start(L"a.local", DNS_TYPE_TEXT, CountAnswer, &answers, 5), 0u);
        EXPECT_EQ(query.client, kOwnDnsClient);
        EXPECT_EQ(query.Stop(), 0u);
    }
    EXPECT_EQ(g_ownStarts, 2);
    EXPECT_EQ(fake.startAttempts, kSystemRefusalsBeforeOwnClient);
    EXPECT_EQ(query.Start(L"a.local", DNS_TYPE_TEXT, CountAnswer, &answers, 6), DWORD(ERROR_ACCESS_DENIED));
    EXPECT_EQ(fake.startAttempts, kSystemRefusalsBeforeOwnClient + 1);

    // A name the system client finds malformed (it may come from a device's
    // answer) says nothing about the client: the interface stays with it.
    for (DNS_STATUS status : {DNS_STATUS(ERROR_INVALID_PARAMETER), DNS_STATUS(DNS_ERROR_INVALID_NAME_CHAR),
                              DNS_STATUS(ERROR_INVALID_PARAMETER), DNS_STATUS(DNS_ERROR_INVALID_NAME)}) {
        fake.startStatus = status;
        EXPECT_EQ(query.Start(L"a\x01.local", DNS_TYPE_TEXT, CountAnswer, &answers, 9), DWORD(status));
    }
    EXPECT_EQ(g_ownStarts, 2);

    g_platform.dnsStartMulticastQuery = nullptr;
    ASSERT_EQ(query.Start(L"a.local", DNS_TYPE_TEXT, CountAnswer, &answers, 6), 0u);
    EXPECT_EQ(query.client, kOwnDnsClient);
    EXPECT_EQ(query.Stop(), 0u);
    EXPECT_EQ(g_ownStarts, 3);
}

// The user context of the stop test: on the heap and freed right after the
// query, so that a callback reaching it late touches freed memory.
struct Sink {
    Sink() : answers(0), block(false), entered(CreateEventW(nullptr, TRUE, FALSE, nullptr)) {}
    ~Sink() { CloseHandle(entered); }
    LONG answers;
    bool block;  // the next answer stays inside the callback for a while
    HANDLE entered;
};

VOID WINAPI SinkAnswer(PVOID context, PMDNS_QUERY_HANDLE, PDNS_QUERY_RESULT)
{
    Sink* sink = static_cast<Sink*>(context);
    if (sink->block) {
        SetEvent(sink->entered);
        Sleep(200);  // a Stop that does not wait for this callback returns meanwhile
    }
    InterlockedIncrement(&sink->answers);
}

// The system client promises nothing about callbacks around a stop. Whatever
// it does, only a running query's callback reaches the user, a Stop waits
// for one running on another thread, and every record list is freed once,
// by the client that made it: also when the query has moved to our own
// client meanwhile, and when the query object is gone and its memory reused.
TEST(MdnsQuery, CallbacksAroundStopReachOnlyARunningQuery)
{
    struct Case {
        const char* name;
        StopCallbacks stop;
        DNS_STATUS status;
        bool runningWhenStopped;  // an answer is inside its callback, on another thread
    };
    const Case cases[] = {
        {"none", StopCallbacks::kNone, 0, false},
        {"on the stopping thread", StopCallbacks::kOnStoppingThread, 0, false},
        {"cancelled on the stopping thread", StopCallbacks::kOnStoppingThread, ERROR_CANCELLED, false},
        {"on another thread inside the stop", StopCallbacks::kOnOtherThread, 0, false},
        {"late", StopCallbacks::kLate, 0, false},
        {"late and cancelled", StopCallbacks::kLate, ERROR_CANCELLED, false},
        {"running when stopped", StopCallbacks::kNone, 0, true},
    };
    const std::wstring name = L"a.local";
    const std::vector<FakeRecord> answer = {A(L"x.local", 1)};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        FakeDnsClient system;
        FakeDnsClient own(kOwnDnsClient);
        system.stopCallbacks = c.stop;
        system.stopAnswerStatus = c.status;
        system.lockWhileDelivering = false;
        std::unique_ptr<Sink> first(new Sink);
        std::unique_ptr<Sink> second(new Sink);
        std::unique_ptr<mDNSQuery> query(new mDNSQuery);
        ASSERT_EQ(query->Start(name.c_str(), DNS_TYPE_TEXT, SinkAnswer, first.get(), 7), 0u);
        ASSERT_EQ(query->client, kSystemDnsClient);
        ASSERT_TRUE(system.Deliver(name, DNS_TYPE_TEXT, answer));

        std::thread running;
        if (c.runningWhenStopped) {
            first->block = true;
            running = std::thread([&] { system.Deliver(name, DNS_TYPE_TEXT, answer); });
            ASSERT_EQ(WaitForSingleObject(first->entered, 5000), WAIT_OBJECT_0);
        }
        EXPECT_EQ(query->Stop(), 0u);
        // The running answer was counted before Stop returned: it waited.
        EXPECT_EQ(first->answers, c.runningWhenStopped ? 2 : 1);
        if (running.joinable()) {
            running.join();
        }

        // The system client refuses until the interface moves to our own,
        // where the same object runs again; a late system answer comes now.
        system.startStatus = ERROR_ACCESS_DENIED;
        DWORD status = ERROR_ACCESS_DENIED;
        for (int i = 0; i < kSystemRefusalsBeforeOwnClient && status != 0; ++i) {
            status = query->Start(name.c_str(), DNS_TYPE_TEXT, SinkAnswer, second.get(), 7);
        }
        ASSERT_EQ(status, 0u);
        ASSERT_EQ(query->client, kOwnDnsClient);
        ASSERT_TRUE(own.Deliver(name, DNS_TYPE_TEXT, answer));
        const bool late = c.stop == StopCallbacks::kLate;
        EXPECT_EQ(system.DeliverLate(name, DNS_TYPE_TEXT, answer, c.status), late);
        EXPECT_EQ(second->answers, 1);
        EXPECT_EQ(first->answers, c.runningWhenStopped ? 2 : 1);
        EXPECT_EQ(query->Stop(), 0u);

        // Another late answer after the query and its contexts are freed and
        // the memory is taken again: it may free its records, nothing more.
        query.reset();
        first.reset();
        second.reset();
        std::unique_ptr<unsigned char[]> reused(new unsigned char[sizeof(mDNSQuery)]);
        std::fill(reused.get(), reused.get() + sizeof(mDNSQuery), 0xA5);
        EXPECT_EQ(system.DeliverLate(name, DNS_TYPE_TEXT, answer, c.status), late);
        EXPECT_EQ(std::count(reused.get(), reused.get() + sizeof(mDNSQuery), 0xA5), ptrdiff_t(sizeof(mDNSQuery)));
        EXPECT_EQ(system.ListsNotFreed(), 0);
        EXPECT_EQ(system.badFrees, 0);
        EXPECT_EQ(own.ListsNotFreed(), 0);
        EXPECT_EQ(own.badFrees, 0);
        EXPECT_EQ(CallbackSlotsInUse(), 0u);
    }
}

// What is kept for late callbacks is bounded: a start beyond the slots fails
// without asking a client, and a stop or a failed start gives its slot back.
TEST(MdnsQuery, CallbackSlotsAreBounded)
{
    FakeDnsClient fake;
    int answers = 0;
    std::vector<std::unique_ptr<mDNSQuery>> queries;
    for (uint32_t i = 0; i <= kCallbackSlots; ++i) {
        queries.emplace_back(new mDNSQuery);
    }
    fake.startStatus = ERROR_ACCESS_DENIED;
    EXPECT_EQ(queries[0]->Start(L"a.local", DNS_TYPE_A, CountAnswer, &answers, 3), DWORD(ERROR_ACCESS_DENIED));
    fake.startStatus = 0;
    for (uint32_t i = 0; i < kCallbackSlots; ++i) {
        ASSERT_EQ(queries[i]->Start(L"a.local", DNS_TYPE_A, CountAnswer, &answers, 3), 0u);
    }
    EXPECT_EQ(queries.back()->Start(L"a.local", DNS_TYPE_A, CountAnswer, &answers, 3),
              DWORD(ERROR_NO_SYSTEM_RESOURCES));
    EXPECT_EQ(fake.startAttempts, LONG(kCallbackSlots + 1));
    EXPECT_EQ(queries[0]->Stop(), 0u);
    EXPECT_EQ(queries.back()->Start(L"a.local", DNS_TYPE_A, CountAnswer, &answers, 3), 0u);
    queries.clear();
    EXPECT_EQ(CallbackSlotsInUse(), 0u);
}

// Each host and each instance of the browsed service gets through once,
// their names compared as DNS compares them.
TEST(MdnsQuery, BrowseFilterLetsEachHostThroughOnce)
{
    FakeDnsClient fake;
    const std::wstring longName = std::wstring(300, L'h') + L".local";
    const std::wstring longCut = longName.substr(0, kDnsNameChars - 1);
    FakeRecord otherService = {DNS_TYPE_PTR, L"_other._tcp.local", L"o._other._tcp.local", 0, {}};
    FakeRecord upperCase = {DNS_TYPE_PTR, L"_LUMARISNET._TCP.LOCAL", InstanceName(L"z"), 0, {}};
    FakeRecord additional = Ptr(InstanceName(L"w"));
    additional.section = DNSREC_ADDITIONAL;
    struct Step {
        std::vector<FakeRecord> records;
        int32_t dropped;
        std::wstring newestSeen;
    };
    const Step steps[] = {
        {{Ptr(InstanceName(L"x"))}, 0, InstanceName(L"x")},  // no A record: the instance is new
        {{Ptr(InstanceName(L"X"))}, 1, InstanceName(L"x")},
        {Announcement(L"x", L"device", 1), 0, L"device.local"},
        {Announcement(L"x", L"device", 1), 1, L"device.local"},
        {{A(L"Device.LOCAL", 2)}, 1, L"device.local"},
        {{otherService, additional}, 1, L"device.local"},
        {{upperCase}, 0, InstanceName(L"z")},
        // Every new name of an answer is remembered: its repeat is dropped.
        {{A(L"one.local", 1), A(L"two.local", 2)}, 0, L"two.local"},
        {{A(L"one.local", 1), A(L"two.local", 2)}, 1, L"two.local"},
        {{A(longName, 3)}, 0, longCut},
        {{A(longName, 3)}, 1, longCut},  // recognised although cut
    };
    int answers = 0;
    mDNSPTRQuery query;
    ASSERT_EQ(query.Start(kBrowseName, DNS_TYPE_PTR, CountAnswer, &answers, 3), 0u);
    for (const Step& step : steps) {
        DNS_QUERY_RESULT result = Result(fake.MakeList(step.records));
        EXPECT_EQ(query.FilterResults(nullptr, nullptr, &result), step.dropped);
        const wchar_t* newest = NewestName(&query.seenNames);
        EXPECT_EQ(newest ? std::wstring(newest) : L"", step.newestSeen);
        FreeList(result.pQueryRecords);
    }

    // A stream of invented hosts: the set stays bounded, and the oldest
    // names give way, so a real host seen long ago counts as new again.
    for (int i = 0; i < 50000; ++i) {
        DNS_QUERY_RESULT result = Result(fake.MakeList({A(L"fake" + std::to_wstring(i) + L".local", 9)}));
        ASSERT_EQ(query.FilterResults(nullptr, nullptr, &result), 0);
        FreeList(result.pQueryRecords);
    }
    EXPECT_EQ(query.seenNames.count, uint32_t(kMaxSeenNames));
    DNS_QUERY_RESULT again = Result(fake.MakeList({A(L"device.local", 1)}));
    EXPECT_EQ(query.FilterResults(nullptr, nullptr, &again), 0);
    FreeList(again.pQueryRecords);

    // Through the completion: a dropped repeat is freed there and neither
    // reaches the callback nor counts as an answer.
    query.lastAnswerTick = query.startTick - 5000;
    ASSERT_TRUE(fake.Deliver(kBrowseName, DNS_TYPE_PTR, {A(L"device.local", 1)}));
    EXPECT_EQ(answers, 0);
    EXPECT_GE(query.TimeSinceLastAnswer(), 5000u);
    query.Stop();
    EXPECT_EQ(fake.ListsNotFreed(), 0);
}

// One instance per PTR target; each takes only the SRV and TXT records of
// its own name and the address of its own SRV target, so no instance can
// carry another device's data.
TEST(MdnsQuery, BrowseAnswerPairsEachInstanceWithItsOwnRecords)
{
    FakeDnsClient fake;
    const FakeRecord ptr = Ptr(InstanceName(L"Speaker"));
    std::vector<FakeRecord> three;
    for (const wchar_t* name : {L"d1", L"d2", L"d3"}) {
        three.push_back(Ptr(InstanceName(name)));
    }
    for (int i = 1; i <= 3; ++i) {
        std::wstring name = L"d" + std::to_wstring(i);
        three.push_back(Srv(name, L"h" + std::to_wstring(i), 80));
        three.push_back(Txt(name, {L"model=" + name}));
    }
    for (int i = 1; i <= 3; ++i) {
        three.push_back(A(L"h" + std::to_wstring(i) + L".local", uint32_t(i)));
    }
    struct Case {
        std::vector<FakeRecord> records;
        // instance:host:address:model, newest first; "-" for a host not paired
        std::vector<std::wstring> queued;
    };
    const std::wstring speaker = InstanceName(L"Speaker");
    FakeRecord otherService = {DNS_TYPE_PTR, L"_other._tcp.local", L"o._other._tcp.local", 0, {}};
    FakeRecord additional = ptr;
    additional.section = DNSREC_ADDITIONAL;
    FakeRecord upperCase = ptr;
    upperCase.owner = L"_LumarisNet._TCP.Local";
    const uint32_t inSubnet = Ipv4(192, 168, 77, 20);
    const Case cases[] = {
        {{ptr, A(L"speaker1.local", 1)}, {speaker + L":-"}},
        // Only PTR records of the browsed name that answer make instances;
        // names ignore ASCII case.
        {{otherService, A(L"speaker1.local", 1)}, {}},
        {{additional, A(L"speaker1.local", 1)}, {}},
        {{A(L"SPEAKER1.LOCAL", 1), upperCase}, {speaker + L":-"}},
        // Of a host's several addresses, the one in the interface's subnet.
        {{ptr, Srv(L"Speaker", L"m", 80), Txt(L"Speaker", {L"model=X"}), A(L"m.local", Ipv4(10, 0, 0, 1)),
          A(L"M.local", inSubnet)},
         {speaker + L":M:" + std::to_wstring(inSubnet) + L":model=X"}},
        {{A(L"speaker1.sub.local", 1), ptr}, {speaker + L":-"}},
        {{Srv(L"Speaker", L"a", 80), ptr, A(L"a.local", 1)}, {}},
        {{A(L"device.localnet.local", 1), ptr, A(L"a.local", 1)}, {}},
        {FullAnswer(L"Speaker", L"speaker1", 7, {L"model=X"}), {speaker + L":speaker1:7:model=X"}},
        // The SRV names a host whose address the answer does not carry: the
        // instance waits for its lookups, holding no texts meanwhile.
        {{ptr, Srv(L"Speaker", L"b", 80), Txt(L"Speaker", {L"model=X"}), A(L"a.local", 1)}, {speaker + L":-"}},
        {three,
         {InstanceName(L"d3") + L":h3:3:model=d3", InstanceName(L"d2") + L":h2:2:model=d2",
          InstanceName(L"d1") + L":h1:1:model=d1"}},
        {{}, {}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.queued.empty() ? L"not queued" : c.queued[0]);
        BrowseContext context = {};
        wcscpy(context.domain, L".local");
        wcscpy(context.browseName, kBrowseName);
        context.heardOn = {Ipv4(192, 168, 77, 10), Ipv4(255, 255, 255, 0)};
        DNS_QUERY_RESULT result = Result(fake.MakeList(c.records));
        OnBrowseAnswer(&context, nullptr, &result);
        FreeList(result.pQueryRecords);
        std::vector<std::wstring> queued;
        auto pop = [&context] {
            InstanceQueue& queue = context.queue;
            return PopNewestInstance(queue.ready.count > 0 ? &queue.ready : &queue.pending);
        };
        while (InstancePtr instance = pop()) {
            const ResolvedService& s = instance->service;
            std::wstring line = std::wstring(s.instanceName) + L":";
            line += instance->srvAnswered ? std::wstring(s.hostName) + L":" + std::to_wstring(s.address) : L"-";
            for (const std::wstring& text : TxtStrings(&s)) {
                line += L":" + text;
            }
            queued.push_back(line);
        }
        EXPECT_EQ(queued, c.queued);
        EXPECT_EQ(context.queue.wake.WaitFor(0), !c.queued.empty());
    }
}

// The queue of instances keeps the newest; the oldest give way.
TEST(MdnsQuery, PendingInstancesAreBounded)
{
    InstanceQueue queue = {};
    for (int i = 0; i < kMaxPendingInstances + 5; ++i) {
        InstancePtr instance = MakeServiceInstance();
        instance->service.address = uint32_t(i);
        PushInstance(&queue, &queue.pending, std::move(instance));
    }
    EXPECT_EQ(queue.pending.count, unsigned(kMaxPendingInstances));
    uint32_t expected = kMaxPendingInstances + 4;
    while (InstancePtr instance = PopNewestInstance(&queue.pending)) {
        EXPECT_EQ(instance->service.address, expected--);
    }
    EXPECT_EQ(expected, 4u);
}

TEST(MdnsQuery, SrvPairsItsTargetAndTxtReplacesBounded)
{
    FakeDnsClient fake;
    InstancePtr owner = MakeServiceInstance();
    ServiceInstance* instance = owner.get();
    wcscpy(instance->service.instanceName, InstanceName(L"S").c_str());
    const std::wstring longText(300, L'm');
    DNS_QUERY_RESULT failed = Result(fake.MakeList({Txt(L"S", {L"a=1"})}), DNS_ERROR_RCODE_SERVER_FAILURE);
    OnTxtAnswer(instance, nullptr, &failed);
    EXPECT_EQ(instance->txtAnswered, 0);
    EXPECT_EQ(fake.ListsNotFreed(), 1);  // the callbacks borrow the records
    FreeList(failed.pQueryRecords);

    // Another instance's TXT does not count; a repeat replaces the strings.
    DNS_QUERY_RESULT other = Result(fake.MakeList({Txt(L"T", {L"vendor=Orvel"})}));
    OnTxtAnswer(instance, nullptr, &other);
    EXPECT_EQ(instance->txtAnswered, 0);
    DNS_QUERY_RESULT first = Result(fake.MakeList({Txt(L"S", {L"vendor=Other", longText})}));
    OnTxtAnswer(instance, nullptr, &first);
    DNS_QUERY_RESULT second = Result(fake.MakeList({Txt(L"S", {L"vendor=Orvel", L"fw=1"}), Txt(L"S", {L"no"})}));
    OnTxtAnswer(instance, nullptr, &second);
    EXPECT_EQ(TxtStrings(&instance->service), (std::vector<std::wstring>{L"vendor=Orvel", L"fw=1"}));
    EXPECT_EQ(instance->txtAnswered, 1);
    DNS_QUERY_RESULT cut = Result(fake.MakeList({Txt(L"S", {longText})}));
    OnTxtAnswer(instance, nullptr, &cut);
    EXPECT_EQ(TxtStrings(&instance->service), std::vector<std::wstring>{longText.substr(0, kTxtTextChars - 1)});

    // A TXT bomb: no more strings than one packet could carry.
    DNS_QUERY_RESULT bomb = Result(fake.MakeList({Txt(L"S", std::vector<std::wstring>(20000, L""))}));
    OnTxtAnswer(instance, nullptr, &bomb);
    EXPECT_EQ(instance->service.txtCount, uint32_t(kMaxTxtUnits));

    // The SRV counts only with the address of its own target.
    DNS_QUERY_RESULT unpaired = Result(fake.MakeList({Srv(L"S", L"b", 8080), A(L"a.local", 1)}));
    OnSrvAnswer(instance, nullptr, &unpaired);
    EXPECT_EQ(instance->srvAnswered, 0);
    DNS_QUERY_RESULT srv = Result(fake.MakeList({Srv(L"T", L"a", 9), Srv(L"S", L"b", 8080), A(L"a.local", 1),
                                                 A(L"b.local", 2)}));
    OnSrvAnswer(instance, nullptr, &srv);
    EXPECT_EQ(instance->srvAnswered, 1);
    EXPECT_EQ(instance->service.port, 8080);
    EXPECT_STREQ(instance->service.hostName, L"b");
    EXPECT_EQ(instance->service.address, 2u);
    owner.reset();
    for (DNS_QUERY_RESULT* result : {&other, &first, &second, &cut, &bomb, &unpaired, &srv}) {
        FreeList(result->pQueryRecords);
    }
    EXPECT_EQ(fake.ListsNotFreed(), 0);
}

}  // namespace
