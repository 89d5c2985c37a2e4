// The fixed-capacity name set against a plain model: the same operations in
// a fixed pseudo-random order, with names and tags that collide often, must
// leave the same names behind, the oldest giving way when it is full.
#include <gtest/gtest.h>

#include <algorithm>
#include <deque>
#include <string>
#include <utility>

#include "browse/name_index.h"

namespace {

using Key = std::pair<std::wstring, uint32_t>;

TEST(NameIndex, MatchesAModelWithEvictionOfTheOldest)
{
    NameIndex index;
    ASSERT_TRUE(InitNameIndex(&index, 8, 255));
    std::deque<Key> model;  // oldest first
    uint32_t seed = 12345;
    for (int step = 0; step < 20000; ++step) {
        seed = seed * 1103515245u + 12345u;
        Key key(L"h" + std::to_wstring((seed >> 8) % 20) + L".local", (seed >> 4) % 2);
        auto at = std::find(model.begin(), model.end(), key);
        int32_t slot = FindName(&index, key.first.c_str(), key.second);
        ASSERT_EQ(slot != -1, at != model.end()) << step;
        if ((seed >> 16) % 3 == 0) {
            RemoveName(&index, slot);
            if (at != model.end()) {
                model.erase(at);
            }
        } else {
            int32_t evicted = -1;
            ASSERT_NE(AddName(&index, key.first.c_str(), key.second, &evicted), -1);
            if (at == model.end()) {
                if (model.size() == 8) {
                    EXPECT_NE(evicted, -1);
                    EXPECT_EQ(FindName(&index, model.front().first.c_str(), model.front().second), -1);
                    model.pop_front();
                }
                model.push_back(key);
                EXPECT_EQ(std::wstring(NewestName(&index)), key.first);
            } else {
                EXPECT_EQ(evicted, -1);
            }
        }
        ASSERT_EQ(index.count, model.size()) << step;
    }
    ReleaseNameIndex(&index);
}

// Names are kept cut to the longest a field holds; a long name is still
// found by its whole text, in any ASCII letter case; an index that could not
// be made holds nothing.
TEST(NameIndex, LongNamesAreCutAndAnEmptyIndexHoldsNothing)
{
    NameIndex index;
    ASSERT_TRUE(InitNameIndex(&index, 4, 5));
    int32_t evicted;
    int32_t slot = AddName(&index, L"abcdefgh", 0, &evicted);
    ASSERT_NE(slot, -1);
    EXPECT_STREQ(NewestName(&index), L"abcde");
    EXPECT_EQ(FindName(&index, L"abcdexyz", 0), slot);
    EXPECT_EQ(FindName(&index, L"abcd", 0), -1);
    EXPECT_EQ(FindName(&index, L"ABCdeXYZ", 0), slot);
    EXPECT_EQ(AddName(&index, L"aBcDe", 0, &evicted), slot);
    EXPECT_EQ(FindName(&index, L"\u00C1bcde", 0), -1);  // only ASCII letters fold
    ReleaseNameIndex(&index);

    NameIndex none;
    EXPECT_FALSE(InitNameIndex(&none, 0, 255));
    EXPECT_EQ(AddName(&none, L"a", 0, &evicted), -1);
    EXPECT_EQ(FindName(&none, L"a", 0), -1);
    ReleaseNameIndex(&none);
}

}  // namespace
