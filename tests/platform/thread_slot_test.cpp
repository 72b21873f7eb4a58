#include "platform/thread_slot.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <thread>

namespace qor::platform {
namespace {

constexpr size_t kBlockSize = 4096;

bool ZeroFilled(const void* block) {
    const auto* bytes = static_cast<const unsigned char*>(block);
    return std::all_of(bytes, bytes + kBlockSize, [](unsigned char byte) { return byte == 0; });
}

TEST(ThreadSlotTest, EachThreadHasItsOwnZeroFilledBlockWhileTheSlotIsOpen) {
    ThreadSlot slot(kBlockSize);
    EXPECT_EQ(slot.MakeBlock(), nullptr);  // closed
    ASSERT_TRUE(slot.Open());
    ASSERT_TRUE(slot.Open());
    EXPECT_EQ(slot.Block(), nullptr);
    void* mine = slot.MakeBlock();
    ASSERT_NE(mine, nullptr);
    EXPECT_TRUE(ZeroFilled(mine));
    static_cast<unsigned char*>(mine)[0] = 1;
    EXPECT_EQ(slot.MakeBlock(), mine);
    EXPECT_EQ(slot.Block(), mine);

    std::thread([&] {
        EXPECT_EQ(slot.Block(), nullptr);
        void* theirs = slot.MakeBlock();
        ASSERT_NE(theirs, nullptr);
        EXPECT_NE(theirs, mine);
        EXPECT_TRUE(ZeroFilled(theirs));
        // POSIX frees it when the thread ends (the leak check would see it otherwise).
        if (kLibrariesSeeThreadAttach) slot.FreeBlock();
    }).join();

    slot.FreeBlock();
    EXPECT_EQ(slot.Block(), nullptr);
    slot.Close();
    EXPECT_EQ(slot.Block(), nullptr);
    EXPECT_EQ(slot.MakeBlock(), nullptr);
}

}  // namespace
}  // namespace qor::platform
