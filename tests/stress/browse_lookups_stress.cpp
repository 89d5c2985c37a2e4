// stress-sources: querier/query_registry.cpp browse/instance_queue.cpp browse/lookup_slots.cpp browse/service_instance.cpp
// The browse's queue and lookup slots driven as the program drives them,
// with several threads at once: answer threads queue instances (more than
// the rings hold), delivery threads answer the slots' queries through the
// client's query registry, writing the instances as the record callbacks
// do (some SRV answers without the target's address, which the slots then
// ask for), and two browses (one per interface) take, resolve, give up past
// the limit and report. Built natively under ThreadSanitizer and
// AddressSanitizer (scripts/stress): an instance written after it left its
// slot, or a query freed while an answer runs, fails the run.
#include <stdlib.h>
#include <string.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <random>
#include <thread>
#include <vector>

#include "browse/instance_queue.h"
#include "browse/lookup_slots.h"
#include "querier/query_registry.h"

namespace {

constexpr int kBrowses = 2;
constexpr int kDeliverers = 2;
constexpr int kCyclesPerBrowse = 3000;

SyncLock g_clientLock;
std::atomic<long> g_queriesMade{0};
std::atomic<long> g_queriesFreed{0};
std::atomic<long> g_answers{0};
std::atomic<long> g_addressAnswers{0};
std::atomic<long> g_reported{0};
std::atomic<long> g_expired{0};
std::atomic<long> g_lost{0};
std::atomic<bool> g_failed{false};

void Fail(const char* what)
{
    std::fprintf(stderr, "browse lookups stress: %s\n", what);
    g_failed = true;
}

uint32_t NowMs()
{
    using namespace std::chrono;
    return uint32_t(duration_cast<milliseconds>(steady_clock::now().time_since_epoch()).count());
}

struct FakeQuery {
    RegisteredQuery entry;  // first, as in the client
    uint16_t type;
    ServiceInstance* instance;
};

void DestroyQuery(RegisteredQuery* entry)
{
    delete reinterpret_cast<FakeQuery*>(entry);
    ++g_queriesFreed;
}

QueryRegistry g_registry = {&g_clientLock, DestroyQuery, {}, nullptr, 0};

// A slot's query over the registry, as our DNS client runs one.
class RegistryQuery : public LookupQuery {
public:
    ~RegistryQuery() override
    {
        if (query_ != nullptr) {
            Stop();
        }
    }
    uint32_t Start(const wchar_t*, uint16_t type, ServiceInstance* instance, uint32_t interfaceIndex) override
    {
        query_ = new FakeQuery{};
        ++g_queriesMade;
        query_->type = type;
        query_->instance = instance;
        query_->entry.interfaceIndex = interfaceIndex;
        started_ = NowMs();
        SyncGuard guard(g_clientLock);
        RegisterQuery(&g_registry, &query_->entry);
        return 0;
    }
    void Stop() override
    {
        g_clientLock.Acquire();
        bool running = UnregisterQuery(&g_registry, &query_->entry);
        g_clientLock.Release();
        if (!running) {
            Fail("a slot's query was not running at its stop");
        }
        DropQuery(&g_registry, &query_->entry);
        query_ = nullptr;
    }
    bool IsActive() override { return query_ != nullptr; }
    uint32_t TimeSinceStart() override { return NowMs() - started_; }

private:
    FakeQuery* query_ = nullptr;
    uint32_t started_ = 0;
};

// Pairs the address once, as the record callbacks do.
void PairAddress(ServiceInstance* instance)
{
    if (instance->addressClaim.exchange(1) == 0) {
        wcscpy(instance->service.hostName, L"host");
        instance->service.address = 0x0A000001;
        instance->srvAnswered = 1;
    }
}

// As the SRV, address and TXT callbacks: the rest first, the flag last. Some
// SRV answers lack the target's address, which the slot then asks for.
void Answer(FakeQuery* query, std::mt19937& random)
{
    ServiceInstance* instance = query->instance;
    if (query->type == kLookupSrv) {
        if (instance->srvAnswered != 0) {
            return;
        }
        if (random() % 2 == 0) {
            PairAddress(instance);
        } else if (instance->targetKnown == 0 && instance->targetClaim.exchange(1) == 0) {
            wcscpy(instance->srvTarget, L"host.local");
            instance->targetKnown = 1;
        }
    } else if (query->type == kLookupA) {
        if (instance->targetKnown == 0 || wcscmp(instance->srvTarget, L"host.local") != 0) {
            Fail("an address query ran before its target was known");
        }
        PairAddress(instance);
        ++g_addressAnswers;
    } else {
        // A repeated TXT answer replaces the strings, flag set or not.
        free(instance->service.txtText);
        instance->service.txtText = static_cast<wchar_t*>(calloc(4, sizeof(wchar_t)));
        instance->service.txtText[0] = L'a';
        instance->service.txtCount = 1;
        instance->txtAnswered = 1;
    }
    if (instance->wake != nullptr) {
        instance->wake->Set();
    }
    if (random() % 4 == 0) {
        std::this_thread::yield();  // let the browse look meanwhile
    }
}

void Deliverer(int id, const std::atomic<bool>* done)
{
    std::mt19937 random(unsigned(id) + 7u);
    while (!*done) {
        uint32_t interfaceIndex = uint32_t(random() % kBrowses);
        uint64_t after = 0;
        RegisteredQuery* entry;
        while ((entry = PinNextQuery(&g_registry, after, interfaceIndex)) != nullptr) {
            after = entry->serial;
            // Silent devices never answer: their lookups run into the limit.
            const ServiceInstance* instance = reinterpret_cast<FakeQuery*>(entry)->instance;
            bool silent = wcscmp(instance->service.instanceName, L"silent") == 0;
            if (!silent && random() % 3 != 0 && BeginCallback(&g_registry, entry)) {
                Answer(reinterpret_cast<FakeQuery*>(entry), random);
                ++g_answers;
                EndCallback(&g_registry, entry);
            }
            DropQuery(&g_registry, entry);
        }
        std::this_thread::yield();
    }
}

void CountLost(void*, const ServiceInstance*)
{
    ++g_lost;
}

// As the browse answers: new instances, some complete, in bursts.
void Announcer(InstanceQueue* queue, const std::atomic<bool>* done, unsigned seed)
{
    std::mt19937 random(seed);
    while (!*done) {
        InstancePtr made[16];
        int count = int(random() % 16) + 1;
        for (int i = 0; i < count; ++i) {
            made[i] = MakeServiceInstance();
            wcscpy(made[i]->service.instanceName, random() % 8 == 0 ? L"silent" : L"instance");
            made[i]->wake = &queue->wake;
            if (random() % 4 == 0) {
                made[i]->srvAnswered = 1;
                made[i]->txtAnswered = 1;
            }
        }
        QueueInstances(queue, made, count);
        if (random() % 2 == 0) {
            std::this_thread::sleep_for(std::chrono::microseconds(200));
        }
    }
}

void CheckReported(const ServiceInstance* instance)
{
    if (wcscmp(instance->service.instanceName, L"instance") != 0 &&
        wcscmp(instance->service.instanceName, L"silent") != 0) {
        Fail("a reported instance lost its name");
    }
    if (instance->service.txtText != nullptr && instance->service.txtText[0] != L'a') {
        Fail("a reported instance carries torn texts");
    }
    ++g_reported;
}

void Browse(uint32_t interfaceIndex)
{
    InstanceQueue queue = {};
    queue.lost = CountLost;
    LookupSlots lookups = {};
    lookups.resolveSrv = true;
    lookups.resolveTxt = true;
    lookups.interfaceIndex = interfaceIndex;
    lookups.limitMs = 3;  // short, so that many are given up while answers run
    std::vector<RegistryQuery> queries(3 * kMaxParallelLookups);
    for (int i = 0; i < kMaxParallelLookups; ++i) {
        lookups.slots[i].srv = &queries[3 * i];
        lookups.slots[i].txt = &queries[3 * i + 1];
        lookups.slots[i].a = &queries[3 * i + 2];
    }
    // More than a ring holds, before the browse takes any: the oldest give way.
    for (int i = 0; i < kMaxPendingInstances + 16; ++i) {
        InstancePtr instance = MakeServiceInstance();
        wcscpy(instance->service.instanceName, L"instance");
        instance->wake = &queue.wake;
        QueueInstances(&queue, &instance, 1);
    }
    std::atomic<bool> done{false};
    std::thread announcer(Announcer, &queue, &done, interfaceIndex + 40u);
    for (int cycle = 0; cycle < kCyclesPerBrowse; ++cycle) {
        for (LookupSlot& slot : lookups.slots) {
            InstancePtr out;
            LookupState state = CheckLookup(&lookups, &slot, &out);
            if (state == LookupState::Resolved) {
                CheckReported(out.get());
            } else if (state == LookupState::Expired) {
                ++g_expired;
            }
        }
        InstancePtr taken[24];
        bool emptied = false;
        int count = TakeInstances(&queue, true, true, FreeLookupSlots(&lookups), taken, 24, &emptied);
        for (int i = 0; i < count; ++i) {
            if (!NeedsLookup(taken[i].get(), true, true)) {
                CheckReported(taken[i].get());
            } else if (StartLookup(&lookups, std::move(taken[i])) != nullptr) {
                Fail("no slot for an instance taken for a free one");
            }
        }
        queue.wake.WaitFor(1);
    }
    done = true;
    announcer.join();
    for (LookupSlot& slot : lookups.slots) {
        EndLookup(&slot);  // the instance goes here, after its queries stopped
    }
}

}  // namespace

int main()
{
    std::atomic<bool> done{false};
    std::vector<std::thread> deliverers;
    for (int i = 0; i < kDeliverers; ++i) {
        deliverers.emplace_back(Deliverer, i, &done);
    }
    std::vector<std::thread> browses;
    for (int i = 0; i < kBrowses; ++i) {
        browses.emplace_back(Browse, uint32_t(i));
    }
    for (std::thread& thread : browses) {
        thread.join();
    }
    done = true;
    for (std::thread& thread : deliverers) {
        thread.join();
    }
    if (g_registry.queries != nullptr || g_queriesMade != g_queriesFreed) {
        Fail("a slot's query outlived its browse");
    }
    if (g_answers == 0 || g_addressAnswers == 0 || g_reported == 0 || g_expired == 0 || g_lost == 0) {
        Fail("the stress did not reach answers, address queries, reports, expiries and overflow alike");
    }
    std::printf("browse lookups stress: %ld queries, %ld answers, %ld reported, %ld expired, %ld lost%s\n",
                g_queriesMade.load(), g_answers.load(), g_reported.load(), g_expired.load(), g_lost.load(),
                g_failed ? ", FAILED" : "");
    return g_failed ? 1 : 0;
}
