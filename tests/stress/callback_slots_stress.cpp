// stress-sources: browse/callback_slots.cpp
// The callback slots between a DNS client and our query objects, as the
// system client may use them: owners attach a slot, stop (detach) and free
// the object, while client threads call back with recent tokens, late or
// not. Built natively under ThreadSanitizer and AddressSanitizer
// (scripts/stress): a callback that reaches a freed object fails the run,
// and so does a callback entering after its detach returned, or two
// callbacks of one slot at once.
#include <atomic>
#include <cstdio>
#include <random>
#include <thread>
#include <vector>

#include "browse/callback_slots.h"

namespace {

constexpr int kCallers = 4;
constexpr int kOwners = 2;
constexpr int kQueriesPerOwner = 40000;

struct Target {
    std::atomic<int> inside{0};
    int value = 42;
};

std::atomic<CallbackToken> g_recent[64];
std::atomic<long> g_entered{0};
std::atomic<bool> g_failed{false};

void Fail(const char* what)
{
    std::fprintf(stderr, "callback slots stress: %s\n", what);
    g_failed = true;
}

void Caller(unsigned seed, const std::atomic<bool>* done)
{
    std::mt19937 random(seed);
    while (!*done) {
        CallbackToken token = g_recent[random() % 64].load();
        Target* target = static_cast<Target*>(EnterCallbackSlot(token));
        if (target == nullptr) {
            continue;  // stale: the query has stopped
        }
        if (target->inside.fetch_add(1) != 0) {
            Fail("two callbacks of one slot at once");
        }
        if (target->value != 42) {
            Fail("a callback reached a target that is not live");
        }
        std::this_thread::yield();
        target->inside.fetch_sub(1);
        LeaveCallbackSlot(token);
        ++g_entered;
    }
}

void Owner(unsigned seed)
{
    std::mt19937 random(seed);
    for (int i = 0; i < kQueriesPerOwner; ++i) {
        Target* target = new Target;
        CallbackToken token = 0;
        if (!AttachCallbackSlot(target, &token)) {
            Fail("no free slot with only two queries running");
            delete target;
            return;
        }
        g_recent[random() % 64] = token;
        if (random() % 4 == 0) {
            std::this_thread::yield();
        }
        DetachCallbackSlot(token);
        if (EnterCallbackSlot(token) != nullptr) {
            Fail("a callback entered after its detach returned");
        }
        delete target;
    }
}

}  // namespace

int main()
{
    std::atomic<bool> done{false};
    std::vector<std::thread> callers;
    for (int i = 0; i < kCallers; ++i) {
        callers.emplace_back(Caller, unsigned(i), &done);
    }
    std::vector<std::thread> owners;
    for (int i = 0; i < kOwners; ++i) {
        owners.emplace_back(Owner, unsigned(100 + i));
    }
    for (std::thread& thread : owners) {
        thread.join();
    }
    done = true;
    for (std::thread& thread : callers) {
        thread.join();
    }
    if (CallbackSlotsInUse() != 0) {
        Fail("slots left in use after every detach");
    }
    if (g_entered == 0) {
        Fail("no callback entered: the stress drove nothing");
    }
    std::printf("callback slots stress: %ld callbacks entered%s\n", g_entered.load(), g_failed ? ", FAILED" : "");
    return g_failed ? 1 : 0;
}
