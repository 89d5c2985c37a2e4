// Our multicast DNS client over the lab network (pc0 192.168.77.10/24, pc1
// 10.77.0.10/16): a responder socket of the test hears the queries on pc0
// and answers them by multicast or by unicast to the asking socket.
#include <gtest/gtest.h>

#include <winsock2.h>
#include <ws2tcpip.h>
#include <windows.h>
#include <iphlpapi.h>

#include <algorithm>
#include <atomic>
#include <mutex>
#include <string>
#include <vector>

#include "dns/wire.h"
#include "querier/client.h"
#include "querier/internal.h"
#include "browse/browse.h"
#include "mdns_client/packet_builder.h"
#include "tools/winprobe/process_counts.h"

namespace {

const char kService[] = "_lumarisnet._tcp.local";
const wchar_t kServiceW[] = L"_lumarisnet._tcp.local";
const uint8_t kDevice[4] = {192, 168, 77, 20};
const char kPc0[] = "192.168.77.10";
const char kPc1[] = "10.77.0.10";

ULONG InterfaceIndexOf(const char* address)
{
    ULONG size = 0;
    GetIpAddrTable(nullptr, &size, FALSE);
    std::vector<uint8_t> buffer(size + 1);
    MIB_IPADDRTABLE* table = reinterpret_cast<MIB_IPADDRTABLE*>(buffer.data());
    if (size == 0 || GetIpAddrTable(table, &size, FALSE) != NO_ERROR) {
        return 0;
    }
    for (DWORD i = 0; i < table->dwNumEntries; ++i) {
        if (table->table[i].dwAddr == inet_addr(address)) {
            return table->table[i].dwIndex;
        }
    }
    return 0;
}

std::string Narrow(PCWSTR text)
{
    std::string result;
    for (; *text != 0; ++text) {
        result += char(*text);
    }
    return result;
}

// "section type owner data" for one delivered record.
std::string Describe(const DNS_RECORDW& r)
{
    std::string line = std::to_string(r.Flags.S.Section) + " " + std::to_string(r.wType) + " " + Narrow(r.pName);
    if (r.wType == DNS_TYPE_PTR) {
        line += " " + Narrow(r.Data.PTR.pNameHost);
    } else if (r.wType == DNS_TYPE_SRV) {
        line += " " + std::to_string(r.Data.SRV.wPort) + " " + Narrow(r.Data.SRV.pNameTarget);
    } else if (r.wType == DNS_TYPE_TEXT) {
        for (DWORD i = 0; i < r.Data.TXT.dwStringCount; ++i) {
            line += " " + Narrow(r.Data.TXT.pStringArray[i]);
        }
    } else if (r.wType == DNS_TYPE_A) {
        in_addr address;
        address.s_addr = r.Data.A.IpAddress;
        line += std::string(" ") + inet_ntoa(address);
    }
    return line;
}

const std::vector<std::string> kServiceLines = {
    "1 12 _lumarisnet._tcp.local Dev 1._lumarisnet._tcp.local",
    "3 33 Dev 1._lumarisnet._tcp.local 8080 dev1.local",
    "3 16 Dev 1._lumarisnet._tcp.local vendor=Orvel model=X200",
    "3 1 dev1.local 192.168.77.20",
};

// What the callbacks of one query saw.
struct Seen {
    std::mutex lock;
    std::vector<std::vector<std::string>> results;
    HANDLE arrived = CreateEventW(nullptr, FALSE, FALSE, nullptr);
    DWORD holdMs = 0;  // how long each callback takes
    std::atomic<bool> inside{false};
    std::atomic<DWORD> thread{0};  // the one the last callback ran on
    PMDNS_QUERY_HANDLE stopInCallback[2] = {nullptr, nullptr};
    DNS_STATUS stopStatus[2] = {1, 1};
    ~Seen() { CloseHandle(arrived); }
    size_t Count()
    {
        std::lock_guard<std::mutex> guard(lock);
        return results.size();
    }
};

VOID WINAPI Collect(PVOID context, PMDNS_QUERY_HANDLE, PDNS_QUERY_RESULT result)
{
    Seen* seen = static_cast<Seen*>(context);
    seen->inside = true;
    seen->thread = GetCurrentThreadId();
    std::vector<std::string> lines;
    for (PDNS_RECORD r = result->pQueryRecords; r != nullptr; r = r->pNext) {
        lines.push_back(Describe(*r));
    }
    MdnsClientFree(result->pQueryRecords, DnsFreeRecordList);
    for (int i = 0; i < 2; ++i) {
        if (seen->stopInCallback[i] != nullptr) {
            seen->stopStatus[i] = MdnsClientStopQuery(seen->stopInCallback[i]);
        }
    }
    {
        std::lock_guard<std::mutex> guard(seen->lock);
        seen->results.push_back(lines);
    }
    SetEvent(seen->arrived);
    Sleep(seen->holdMs);
    seen->inside = false;
}

struct Query {
    MDNS_QUERY_REQUEST request = {};
    MDNS_QUERY_HANDLE handle = {};
    DNS_STATUS Start(PCWSTR name, WORD type, ULONG interfaceIndex, Seen* seen)
    {
        request.Version = DNS_QUERY_REQUEST_VERSION1;
        request.Query = name;
        request.QueryType = type;
        request.InterfaceIndex = interfaceIndex;
        request.pQueryCallback = Collect;
        request.pQueryContext = seen;
        return MdnsClientStartQuery(&request, &handle);
    }
    DNS_STATUS Stop() { return MdnsClientStopQuery(&handle); }
};

// Plays a device on pc0: hears queries on 5353 and answers them.
class Responder {
public:
    Responder()
    {
        socket_ = socket(AF_INET, SOCK_DGRAM, IPPROTO_UDP);
        BOOL on = TRUE;
        setsockopt(socket_, SOL_SOCKET, SO_REUSEADDR, reinterpret_cast<const char*>(&on), sizeof(on));
        sockaddr_in local = Address("0.0.0.0", 5353);
        bind(socket_, reinterpret_cast<const sockaddr*>(&local), sizeof(local));
        ip_mreq group = {};
        group.imr_multiaddr.s_addr = inet_addr("224.0.0.251");
        group.imr_interface.s_addr = inet_addr(kPc0);
        ok_ = setsockopt(socket_, IPPROTO_IP, IP_ADD_MEMBERSHIP, reinterpret_cast<const char*>(&group),
                         sizeof(group)) == 0 &&
              setsockopt(socket_, IPPROTO_IP, IP_MULTICAST_IF,
                         reinterpret_cast<const char*>(&group.imr_interface), sizeof(in_addr)) == 0;
    }
    ~Responder() { closesocket(socket_); }
    bool ok() const { return ok_; }

    static sockaddr_in Address(const char* address, u_short port)
    {
        sockaddr_in result = {};
        result.sin_family = AF_INET;
        result.sin_addr.s_addr = inet_addr(address);
        result.sin_port = htons(port);
        return result;
    }

    // Waits for a query asking for `name` (among its questions) sent from
    // pc0's address; gives the asking socket, the arrival time and the
    // packet's number of questions and its known answers ("target ttl").
    bool AwaitQuery(const char* name, DWORD ms, sockaddr_in* asker = nullptr, DWORD* tick = nullptr,
                    unsigned* questions = nullptr, std::vector<std::string>* known = nullptr)
    {
        DWORD start = GetTickCount();
        for (DWORD elapsed = 0; elapsed < ms; elapsed = GetTickCount() - start) {
            fd_set readable;
            FD_ZERO(&readable);
            FD_SET(socket_, &readable);
            DWORD left = ms - elapsed;
            timeval timeout = {long(left / 1000), long(left % 1000) * 1000};
            if (select(0, &readable, nullptr, nullptr, &timeout) <= 0) {
                return false;
            }
            uint8_t packet[1500];
            sockaddr_in from;
            int fromLength = sizeof(from);
            int length = recvfrom(socket_, reinterpret_cast<char*>(packet), sizeof(packet), 0,
                                  reinterpret_cast<sockaddr*>(&from), &fromLength);
            DnsMessage message;
            if (length <= 0 || from.sin_addr.s_addr != inet_addr(kPc0) ||
                !DnsOpenMessage(packet, size_t(length), &message) || DnsIsResponse(message)) {
                continue;
            }
            size_t offset = kDnsHeaderBytes;
            for (unsigned i = 0; i < message.questionCount; ++i) {
                char asked[kDnsNameTextCapacity];
                if (!DnsReadName(packet, size_t(length), offset, asked, sizeof(asked), &offset)) {
                    break;
                }
                offset += 4;
                if (DnsNamesEqual(asked, name)) {
                    if (known != nullptr) *known = KnownAnswers(message);
                    if (asker != nullptr) *asker = from;
                    if (tick != nullptr) *tick = GetTickCount();
                    if (questions != nullptr) *questions = message.questionCount;
                    return true;
                }
            }
        }
        return false;
    }

    static std::vector<std::string> KnownAnswers(const DnsMessage& message)
    {
        std::vector<std::string> known;
        DnsRecordCursor cursor = {};
        DnsRecord record;
        while (cursor.index < message.answerCount) {
            if (DnsReadNextRecord(message, &cursor, &record) == kDnsRecordRead) {
                known.push_back(std::string(record.target) + " " + std::to_string(record.ttl));
            }
        }
        return known;
    }

    void Send(const Packet& packet, const sockaddr_in& to)
    {
        sendto(socket_, reinterpret_cast<const char*>(packet.data()), int(packet.size()), 0,
               reinterpret_cast<const sockaddr*>(&to), sizeof(to));
    }
    void Multicast(const Packet& packet) { Send(packet, Address("224.0.0.251", 5353)); }

    // From pc1's address, which is not on pc0's subnet.
    static void SendFromOffLink(const Packet& packet, const sockaddr_in& to)
    {
        SOCKET other = socket(AF_INET, SOCK_DGRAM, IPPROTO_UDP);
        sockaddr_in local = Address(kPc1, 0);
        bind(other, reinterpret_cast<const sockaddr*>(&local), sizeof(local));
        sendto(other, reinterpret_cast<const char*>(packet.data()), int(packet.size()), 0,
               reinterpret_cast<const sockaddr*>(&to), sizeof(to));
        closesocket(other);
    }

private:
    SOCKET socket_;
    bool ok_ = false;
};

Packet Answer() { return ServiceResponse(kService, "Dev 1", "dev1.local", kDevice); }

class MdnsClientTest : public ::testing::Test {
protected:
    static void SetUpTestSuite()
    {
        WSADATA data;
        WSAStartup(MAKEWORD(2, 2), &data);
    }
    static void TearDownTestSuite() { WSACleanup(); }
    void SetUp() override
    {
        pc0_ = InterfaceIndexOf(kPc0);
        pc1_ = InterfaceIndexOf(kPc1);
        ASSERT_TRUE(pc0_ != 0 && pc1_ != 0) << "run in a lab with --pc 192.168.77.10/24 --pc 10.77.0.10/16";
    }
    ULONG pc0_ = 0;
    ULONG pc1_ = 0;
};

TEST_F(MdnsClientTest, RefusesWhatItCannotQuery)
{
    Seen seen;
    Query query;
    EXPECT_EQ(ERROR_INVALID_PARAMETER, query.Start(kServiceW, DNS_TYPE_PTR, 0xFFFFFFFF, &seen));
    EXPECT_EQ(ERROR_INVALID_PARAMETER, query.Start(L"a..local", DNS_TYPE_PTR, pc0_, &seen));
    EXPECT_EQ(ERROR_INVALID_PARAMETER, query.Stop());
}

TEST_F(MdnsClientTest, DeliversEachAnsweringPacketOfItsInterfaceOnce)
{
    Responder responder;
    ASSERT_TRUE(responder.ok());
    Seen onPc0, onPc1;
    Query pc0Query, pc1Query;
    ASSERT_EQ(0, pc0Query.Start(kServiceW, DNS_TYPE_PTR, pc0_, &onPc0));
    ASSERT_EQ(0, pc1Query.Start(kServiceW, DNS_TYPE_PTR, pc1_, &onPc1));
    sockaddr_in asker;
    ASSERT_TRUE(responder.AwaitQuery(kService, 3000, &asker));

    // Four that must not count: another service's answer, our answer in a
    // query (as our own queries loop back), a packet cut short, and an
    // answer to the asking socket from a source off pc0's subnet.
    responder.Multicast(ServiceResponse("_other._tcp.local", "Dev 1", "dev1.local", kDevice));
    Packet answer = Answer();
    Packet asQuery = answer;
    asQuery[2] &= 0x7F;
    responder.Multicast(asQuery);
    responder.Multicast(Packet(answer.begin(), answer.begin() + 40));
    Responder::SendFromOffLink(answer, asker);
    responder.Multicast(answer);
    ASSERT_EQ(WAIT_OBJECT_0, WaitForSingleObject(onPc0.arrived, 3000));
    responder.Send(Answer(), asker);  // the one-shot way: unicast to the asking socket
    ASSERT_EQ(WAIT_OBJECT_0, WaitForSingleObject(onPc0.arrived, 3000));
    Sleep(500);

    EXPECT_EQ(0, pc0Query.Stop());
    EXPECT_EQ(0, pc1Query.Stop());
    const std::vector<std::vector<std::string>> twice = {kServiceLines, kServiceLines};
    EXPECT_EQ(twice, onPc0.results);
    EXPECT_EQ(0u, onPc1.Count());
}

TEST_F(MdnsClientTest, ResendsAfterOneSecondThenTwo)
{
    Responder responder;
    ASSERT_TRUE(responder.ok());
    Seen seen;
    Query query;
    ASSERT_EQ(0, query.Start(L"resend-probe.local", DNS_TYPE_A, pc0_, &seen));
    DWORD ticks[3];
    for (DWORD& tick : ticks) {
        ASSERT_TRUE(responder.AwaitQuery("resend-probe.local", 4000, nullptr, &tick));
    }
    EXPECT_EQ(0, query.Stop());
    EXPECT_NEAR(1000.0, double(ticks[1] - ticks[0]), 300.0);
    EXPECT_NEAR(2000.0, double(ticks[2] - ticks[1]), 400.0);
}

// A PTR question's repeats list the answers it holds with the TTL they have
// left, while more than half of it remains; one the caller forgets is asked
// for again.
TEST_F(MdnsClientTest, RepeatsListKnownAnswersWhileHalfTheirTtlRemains)
{
    Responder responder;
    ASSERT_TRUE(responder.ok());
    MdnsClientForgetKnownAnswers(pc0_, kServiceW, nullptr);  // what earlier tests were answered
    Seen seen;
    Query query;
    ASSERT_EQ(0, query.Start(kServiceW, DNS_TYPE_PTR, pc0_, &seen));
    sockaddr_in asker;
    std::vector<std::string> known;
    ASSERT_TRUE(responder.AwaitQuery(kService, 3000, &asker, nullptr, nullptr, &known));
    EXPECT_TRUE(known.empty());
    responder.Send(ServiceResponse(kService, "Dev 1", "dev1.local", kDevice, 4500), asker);
    responder.Send(ServiceResponse(kService, "Dev 2", "dev2.local", kDevice, 5), asker);
    // At 1 s both have more than half their TTL left (about 4499 s and 4 s).
    ASSERT_TRUE(responder.AwaitQuery(kService, 3000, nullptr, nullptr, nullptr, &known));
    std::sort(known.begin(), known.end());
    ASSERT_EQ(2u, known.size());
    const std::pair<std::string, std::pair<int, int>> expected[] = {
        {"Dev 1._lumarisnet._tcp.local ", {4496, 4499}}, {"Dev 2._lumarisnet._tcp.local ", {3, 4}}};
    for (int i = 0; i < 2; ++i) {
        const std::string& target = expected[i].first;
        ASSERT_EQ(target, known[i].substr(0, target.size()));
        int ttl = atoi(known[i].c_str() + target.size());
        EXPECT_TRUE(ttl >= expected[i].second.first && ttl <= expected[i].second.second) << known[i];
    }
    // At 3 s the first is forgotten and the second past half its TTL.
    MdnsClientForgetKnownAnswers(pc0_, kServiceW, L"dev 1._lumarisnet._tcp.local");
    ASSERT_TRUE(responder.AwaitQuery(kService, 3000, nullptr, nullptr, nullptr, &known));
    EXPECT_EQ(std::vector<std::string>{}, known);
    EXPECT_EQ(0, query.Stop());
    EXPECT_EQ(2u, seen.Count());
}

// Queries of one link started together leave in one packet; an answer to
// any of them reaches just the queries it answers.
TEST_F(MdnsClientTest, QueriesStartedTogetherShareAPacket)
{
    Responder responder;
    ASSERT_TRUE(responder.ok());
    Seen seen[3];
    Query queries[3];
    ASSERT_EQ(0, queries[0].Start(kServiceW, DNS_TYPE_PTR, pc0_, &seen[0]));
    ASSERT_EQ(0, queries[1].Start(L"Dev 1._lumarisnet._tcp.local", DNS_TYPE_SRV, pc0_, &seen[1]));
    ASSERT_EQ(0, queries[2].Start(L"other.local", DNS_TYPE_A, pc0_, &seen[2]));
    sockaddr_in asker;
    unsigned questions = 0;
    ASSERT_TRUE(responder.AwaitQuery(kService, 3000, &asker, nullptr, &questions));
    EXPECT_EQ(3u, questions);
    responder.Send(Answer(), asker);
    ASSERT_EQ(WAIT_OBJECT_0, WaitForSingleObject(seen[0].arrived, 3000));
    Sleep(300);
    for (Query& query : queries) {
        EXPECT_EQ(0, query.Stop());
    }
    EXPECT_EQ(1u, seen[0].Count());
    EXPECT_EQ(0u, seen[1].Count());  // its SRV record is an additional, not an answer
    EXPECT_EQ(0u, seen[2].Count());
}

TEST_F(MdnsClientTest, StopWaitsForTheRunningCallbackAndNoneFollows)
{
    Responder responder;
    ASSERT_TRUE(responder.ok());
    Seen seen, other;
    seen.holdMs = 400;
    Query query, keepsListenerOpen;
    ASSERT_EQ(0, keepsListenerOpen.Start(L"other.local", DNS_TYPE_A, pc0_, &other));
    ASSERT_EQ(0, query.Start(kServiceW, DNS_TYPE_PTR, pc0_, &seen));
    ASSERT_TRUE(responder.AwaitQuery(kService, 3000));
    responder.Multicast(Answer());
    ASSERT_EQ(WAIT_OBJECT_0, WaitForSingleObject(seen.arrived, 3000));

    EXPECT_EQ(0, query.Stop());
    EXPECT_FALSE(seen.inside);
    responder.Multicast(Answer());
    Sleep(500);
    EXPECT_EQ(1u, seen.Count());
    EXPECT_EQ(0, keepsListenerOpen.Stop());
}

TEST_F(MdnsClientTest, CallbackMayStopItsOwnQueryAndAnother)
{
    Responder responder;
    ASSERT_TRUE(responder.ok());
    Seen first, second;
    Query firstQuery, secondQuery;
    first.stopInCallback[0] = &secondQuery.handle;  // answered by the same packet, after the first
    first.stopInCallback[1] = &firstQuery.handle;
    ASSERT_EQ(0, firstQuery.Start(kServiceW, DNS_TYPE_PTR, pc0_, &first));
    ASSERT_EQ(0, secondQuery.Start(kServiceW, DNS_TYPE_PTR, pc0_, &second));
    ASSERT_TRUE(responder.AwaitQuery(kService, 3000));
    responder.Multicast(Answer());
    ASSERT_EQ(WAIT_OBJECT_0, WaitForSingleObject(first.arrived, 3000));
    Sleep(300);

    EXPECT_EQ(0, first.stopStatus[0]);
    EXPECT_EQ(0, first.stopStatus[1]);
    EXPECT_EQ(1u, first.Count());
    EXPECT_EQ(0u, second.Count());
    EXPECT_EQ(ERROR_INVALID_PARAMETER, firstQuery.Stop());
    EXPECT_EQ(ERROR_INVALID_PARAMETER, secondQuery.Stop());
}

TEST_F(MdnsClientTest, ReleasesEverythingWhenTheLastQueryStops)
{
    auto cycle = [this] {
        Seen seen;
        Query a, b, c;
        EXPECT_EQ(0, a.Start(kServiceW, DNS_TYPE_PTR, pc0_, &seen));
        EXPECT_EQ(0, b.Start(L"host.local", DNS_TYPE_A, pc0_, &seen));
        EXPECT_EQ(0, c.Start(kServiceW, DNS_TYPE_PTR, pc1_, &seen));
        EXPECT_EQ(0, b.Stop());
        EXPECT_EQ(0, c.Stop());
        EXPECT_EQ(0, a.Stop());
    };
    cycle();  // first use: Winsock's and Wine's one-time handles
    MdnsClientCloseIdleSession();
    DWORD handles = 0, threads = 0, handlesAfter = 0, threadsAfter = 0;
    ASSERT_TRUE(CountProcessHandles(GetCurrentProcessId(), &handles));
    ASSERT_TRUE(CountProcessThreads(GetCurrentProcessId(), &threads));
    // The session outlives its last query for a while: one thread serves
    // every cycle.
    DWORD threadsLingering = 0;
    for (int i = 0; i < 10; ++i) {
        cycle();
    }
    ASSERT_TRUE(CountProcessThreads(GetCurrentProcessId(), &threadsLingering));
    EXPECT_EQ(threads + 1, threadsLingering);
    MdnsClientCloseIdleSession();
    ASSERT_TRUE(CountProcessHandles(GetCurrentProcessId(), &handlesAfter));
    ASSERT_TRUE(CountProcessThreads(GetCurrentProcessId(), &threadsAfter));
    EXPECT_EQ(threads, threadsAfter);
    EXPECT_LE(handlesAfter, handles + 3);  // one handle leaked per cycle would add 10

    // Port 5353 is free again: a bind without sharing succeeds.
    SOCKET probe = socket(AF_INET, SOCK_DGRAM, IPPROTO_UDP);
    sockaddr_in local = Responder::Address("0.0.0.0", 5353);
    EXPECT_EQ(0, bind(probe, reinterpret_cast<const sockaddr*>(&local), sizeof(local)));
    closesocket(probe);
}

// A browse restarts its query every second: the restart must find the
// session (thread and sockets) the last stop left, and the session must end
// by itself once it has been idle for its linger.
TEST_F(MdnsClientTest, SessionLingersForARestartThenEnds)
{
    MdnsClientCloseIdleSession();
    Responder responder;
    ASSERT_TRUE(responder.ok());
    DWORD threads[2] = {0, 0};
    u_short ports[2] = {0, 0};
    for (int i = 0; i < 2; ++i) {
        Seen seen;
        Query query;
        sockaddr_in asker = {};
        ASSERT_EQ(0, query.Start(kServiceW, DNS_TYPE_PTR, pc0_, &seen));
        ASSERT_TRUE(responder.AwaitQuery(kService, 3000, &asker));
        responder.Multicast(Answer());
        ASSERT_EQ(WAIT_OBJECT_0, WaitForSingleObject(seen.arrived, 3000));
        threads[i] = seen.thread;
        ports[i] = asker.sin_port;
        EXPECT_EQ(0, query.Stop());
        Sleep(300);  // long enough for a session or link that does not linger to end
    }
    EXPECT_EQ(threads[0], threads[1]);
    EXPECT_EQ(ports[0], ports[1]);  // the link's socket lingered too
    HANDLE session = OpenThread(SYNCHRONIZE, FALSE, threads[1]);
    ASSERT_NE(nullptr, session);
    EXPECT_EQ(WAIT_TIMEOUT, WaitForSingleObject(session, kSessionLingerMs - 1500));
    EXPECT_EQ(WAIT_OBJECT_0, WaitForSingleObject(session, 3000));
    CloseHandle(session);
}

// Every browse reserves the queries it may hold: the limit on queries in
// flight grows with the interfaces browsed, up to a fixed maximum.
TEST_F(MdnsClientTest, QueryLimitFollowsTheInterfacesBrowsed)
{
    struct Row {
        int browses;
        unsigned limit;
    };
    const Row rows[] = {
        {0, kUnreservedQueries},
        {1, kUnreservedQueries + kQueriesPerBrowse},
        {3, kUnreservedQueries + 3 * kQueriesPerBrowse},
        {int(kMaxQueries / kQueriesPerBrowse) + 1, kMaxQueries},
    };
    Seen seen;
    std::vector<Query> queries(kMaxQueries + 1);
    for (const Row& row : rows) {
        for (int i = 0; i < row.browses; ++i) {
            MdnsClientReserveQueries(kQueriesPerBrowse);
        }
        unsigned started = 0;
        DNS_STATUS status = 0;
        while (started < queries.size() &&
               (status = queries[started].Start(L"host.local", DNS_TYPE_A, pc0_, &seen)) == 0) {
            ++started;
        }
        EXPECT_EQ(started, row.limit) << row.browses;
        EXPECT_EQ(status, DNS_STATUS(ERROR_TOO_MANY_CMDS)) << row.browses;
        for (unsigned i = 0; i < started; ++i) {
            EXPECT_EQ(0, queries[i].Stop());
        }
        for (int i = 0; i < row.browses; ++i) {
            MdnsClientReserveQueries(-kQueriesPerBrowse);
        }
    }
}

// Only a source on the subnet of an address of the arrival interface counts.
TEST(MdnsClientSource, CountsOnlyTheArrivalInterfacesSubnets)
{
    Link second = {};
    second.interfaceIndex = 7;
    second.address = inet_addr("169.254.10.1");
    second.mask = inet_addr("255.255.0.0");
    Link first = {};
    first.interfaceIndex = 7;
    first.address = inet_addr("192.168.77.10");
    first.mask = inet_addr("255.255.255.0");
    first.next = &second;
    struct Case {
        const char* source;
        ULONG interfaceIndex;
        bool counts;
    } cases[] = {
        {"192.168.77.20", 7, true},   {"169.254.3.4", 7, true},    {"192.168.78.20", 7, false},
        {"10.77.0.5", 7, false},      {"192.168.77.20", 8, false}, {"0.0.0.0", 7, false},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(c.counts, SourceOnLink(&first, c.interfaceIndex, inet_addr(c.source))) << c.source;
    }
    Link unknownMask = first;
    unknownMask.mask = 0;
    unknownMask.next = nullptr;
    EXPECT_FALSE(SourceOnLink(&unknownMask, 7, inet_addr("192.168.77.20")));
}

}  // namespace
