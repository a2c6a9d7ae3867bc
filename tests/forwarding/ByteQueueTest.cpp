// The port object's byte queues: blocks of storage, appended at the back and taken
// from the front.
#include <gtest/gtest.h>

#include <algorithm>
#include <deque>

#include "forwarding/ByteQueue.h"
#include "support/Bytes.h"

using namespace qlntest;

namespace {

// Appends and removals of every size, across block boundaries, against a plain
// queue; emptied, the queue keeps at most one block.
TEST(ByteQueueTest, MatchesAPlainQueueAndGivesItsStorageBack)
{
    ByteQueue queue;
    std::deque<uint8_t> model;
    std::vector<uint8_t> front;
    uint32_t x = 5;
    for (int step = 0; step < 2000; ++step) {
        x = x * 1103515245u + 12345u;
        size_t n = (x >> 8) % (3 * ByteQueue::BlockSize);
        if (x & 0x10000) {
            auto data = Pattern(n, x);
            queue.Append(data.data(), n);
            model.insert(model.end(), data.begin(), data.end());
        } else {
            n = std::min(n, model.size());
            front.assign(n, 0);
            queue.CopyFront(front.data(), n);
            ASSERT_TRUE(std::equal(front.begin(), front.end(), model.begin())) << "step " << step;
            queue.RemoveFront(n);
            model.erase(model.begin(), model.begin() + static_cast<std::ptrdiff_t>(n));
        }
        ASSERT_EQ(queue.Size(), model.size());
    }
    queue.RemoveFront(queue.Size() + 1);
    EXPECT_TRUE(queue.IsEmpty());
    EXPECT_LE(queue.Capacity(), ByteQueue::BlockSize);
}

TEST(ByteQueueTest, KeepsOrderAcrossPartialRemovals)
{
    ByteQueue queue;
    auto data = Pattern(10000);
    queue.Append(data.data(), 6000);
    queue.Append(data.data() + 6000, 4000);
    std::vector<uint8_t> front(8192);
    queue.CopyFront(front.data(), 8192);
    EXPECT_TRUE(std::equal(front.begin(), front.end(), data.begin()));
    queue.RemoveFront(8192);
    ASSERT_EQ(queue.Size(), 1808u);
    queue.CopyFront(front.data(), 1808);
    EXPECT_TRUE(std::equal(front.begin(), front.begin() + 1808, data.begin() + 8192));
    queue.RemoveFront(5000);
    EXPECT_TRUE(queue.IsEmpty());
}

} // namespace
