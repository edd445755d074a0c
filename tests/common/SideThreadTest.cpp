#include "common/SideThread.h"

#include <atomic>
#include <chrono>
#include <gtest/gtest.h>
#include <mutex>
#include <thread>
#include <vector>

using namespace mirsalex;

// A held task waits, and every task after it, until released; tasks run in
// the order given; the end runs what is left.
TEST(SideThread, HeldTasksWaitForTheReleaseAndAllRunInOrder)
{
    std::mutex m;
    std::vector<int> ran;
    auto task = [&](int n) {
        return [&, n] {
            const std::lock_guard lock(m);
            ran.push_back(n);
        };
    };
    {
        SideThread side;
        side.post(task(1), false);
        side.post(task(2), true);
        side.post(task(3), false);
        // The first runs at once; the rest wait behind the held one.
        for (int i = 0; i < 200; ++i) {
            {
                const std::lock_guard lock(m);
                if (!ran.empty())
                    break;
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
        {
            const std::lock_guard lock(m);
            EXPECT_EQ(ran, std::vector<int>{1});
        }
        EXPECT_TRUE(side.waitFor(10000));
        EXPECT_EQ(ran, (std::vector<int>{1, 2, 3}));
        side.post(task(4), true);
    }
    EXPECT_EQ(ran, (std::vector<int>{1, 2, 3, 4})) << "the end runs a task still held";
}
