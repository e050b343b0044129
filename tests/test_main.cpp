#include <gtest/gtest.h>

#include "job/page_files.h"
#include "platform/memory.h"

namespace {

// Every test must give back every block it made the core allocate: a block
// alive after the test is a leak on some path.
class NoLiveBlocks : public ::testing::EmptyTestEventListener {
    long long before_ = 0;
    void OnTestStart(const ::testing::TestInfo&) override
    {
        before_ = ravoth::liveBlockCount();
        ravoth::failAllocationAt(0);
    }
    void OnTestEnd(const ::testing::TestInfo&) override
    {
        ravoth::failAllocationAt(0);
        EXPECT_EQ(ravoth::liveBlockCount(), before_) << "blocks left alive by the test";
    }
};

}  // namespace

int main(int argc, char** argv)
{
    ::testing::InitGoogleTest(&argc, argv);
    ::testing::UnitTest::GetInstance()->listeners().Append(new NoLiveBlocks);
    return RUN_ALL_TESTS();
}
