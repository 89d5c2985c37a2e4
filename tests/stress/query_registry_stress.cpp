// stress-sources: querier/query_registry.cpp
// Our DNS client's query registry driven from several threads at once, as
// the client's thread and the browses drive it: queries start and stop,
// deliveries pin them and run callbacks, callbacks stop their own query or
// another, stops land while callbacks run. Built natively under
// ThreadSanitizer and AddressSanitizer (scripts/stress): a query freed
// twice or touched after its free, or a race on its fields, fails the run.
// The checks below add what the sanitizers cannot see: no callback starts
// after its query's stop returned, and every query is freed exactly once.
#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <random>
#include <thread>
#include <vector>

#include "querier/query_registry.h"

namespace {

constexpr int kStarters = 3;
constexpr int kDeliverers = 3;
constexpr int kInterfaces = 2;
constexpr int kRoundsPerStarter = 20000;

struct TestQuery {
    RegisteredQuery entry;  // first, as in the client
    std::atomic<bool> stopReturned{false};
    std::atomic<int> callbacks{0};
};

SyncLock g_testLock;
std::atomic<long> g_made{0};
std::atomic<long> g_freed{0};
std::atomic<long> g_callbacksRun{0};
std::atomic<bool> g_failed{false};

void Fail(const char* what)
{
    std::fprintf(stderr, "query registry stress: %s\n", what);
    g_failed = true;
}

void Destroy(RegisteredQuery* entry)
{
    delete reinterpret_cast<TestQuery*>(entry);
    ++g_freed;
}

QueryRegistry g_registry = {&g_testLock, Destroy, {}, nullptr, 0};

TestQuery* Start(uint32_t interfaceIndex)
{
    TestQuery* query = new TestQuery;
    ++g_made;
    query->entry.interfaceIndex = interfaceIndex;
    SyncGuard guard(g_testLock);
    RegisterQuery(&g_registry, &query->entry);
    return query;
}

// As the client's stop: false when the query no longer runs (another stop
// took it), which only a callback stopping "another" query may see.
bool Stop(TestQuery* query)
{
    g_testLock.Acquire();
    bool running = UnregisterQuery(&g_registry, &query->entry);
    g_testLock.Release();
    if (!running) {
        return false;
    }
    query->stopReturned = true;
    DropQuery(&g_registry, &query->entry);
    return true;
}

// The running query after `after` on this interface, pinned; stops it from
// its own callback now and then.
void DeliverOnce(uint32_t interfaceIndex, std::mt19937& random)
{
    uint64_t after = 0;
    RegisteredQuery* entry;
    while ((entry = PinNextQuery(&g_registry, after, interfaceIndex)) != nullptr) {
        after = entry->serial;
        TestQuery* query = reinterpret_cast<TestQuery*>(entry);
        if (BeginCallback(&g_registry, entry)) {
            if (query->stopReturned) {
                Fail("a callback started after its query's stop returned");
            }
            query->callbacks.fetch_add(1);
            ++g_callbacksRun;
            if (random() % 8 == 0) {
                std::this_thread::yield();  // let a stop arrive while the callback runs
            }
            if (random() % 64 == 0) {
                Stop(query);  // a callback may stop its own query
            }
            if (query->stopReturned && random() % 2 == 0) {
                query->callbacks.fetch_add(1);  // still ours: the pin holds it
            }
            EndCallback(&g_registry, entry);
        }
        DropQuery(&g_registry, entry);
    }
}

void Starter(int id)
{
    std::mt19937 random(unsigned(id) * 7919u + 1u);
    std::vector<TestQuery*> running;
    for (int round = 0; round < kRoundsPerStarter; ++round) {
        running.push_back(Start(uint32_t(random() % kInterfaces)));
        if (random() % 4 == 0) {
            std::this_thread::yield();  // give the deliverers time to find it
        }
        if (running.size() > 6 || random() % 3 == 0) {
            size_t at = random() % running.size();
            TestQuery* query = running[at];
            running.erase(running.begin() + long(at));
            // A callback may have stopped it already, and it may be gone:
            // the stop then finds nothing running under that pointer.
            Stop(query);
        }
    }
    for (TestQuery* query : running) {
        Stop(query);
    }
}

}  // namespace

int main()
{
    std::atomic<bool> done{false};
    std::vector<std::thread> threads;
    for (int i = 0; i < kDeliverers; ++i) {
        threads.emplace_back([i, &done] {
            std::mt19937 random(unsigned(i) + 100u);
            while (!done) {
                DeliverOnce(uint32_t(i % kInterfaces), random);
            }
        });
    }
    std::vector<std::thread> starters;
    for (int i = 0; i < kStarters; ++i) {
        starters.emplace_back(Starter, i);
    }
    for (std::thread& thread : starters) {
        thread.join();
    }
    done = true;
    for (std::thread& thread : threads) {
        thread.join();
    }
    if (g_registry.queries != nullptr) {
        Fail("queries left registered after every stop");
    }
    if (g_made != g_freed) {
        Fail("not every query was freed exactly once");
    }
    if (g_callbacksRun == 0) {
        Fail("no callback ran: the stress drove nothing");
    }
    std::printf("query registry stress: %ld queries, %ld callbacks%s\n", g_made.load(),
                g_callbacksRun.load(), g_failed ? ", FAILED" : "");
    return g_failed ? 1 : 0;
}
