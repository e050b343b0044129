#include <gtest/gtest.h>

#include <memory>

#include "platform/memory.h"
#include "tests/support/faults.h"

namespace ravoth::testing {

namespace {
std::unique_ptr<FaultPlan> plan;
std::unique_ptr<FaultScope> scope;
}  // namespace

FaultPlan& testFaults() { return *plan; }

}  // namespace ravoth::testing

namespace {

// Every test must give back every block it made the core allocate: a block
// alive after the test is a leak on some path. Each test holds a fresh
// fault plan of its own.
class NoLiveBlocks : public ::testing::EmptyTestEventListener {
    long long before_ = 0;
    void OnTestStart(const ::testing::TestInfo&) override
    {
        using namespace ravoth::testing;
        before_ = ravoth::liveBlockCount();
        plan = std::make_unique<ravoth::FaultPlan>();
        scope = std::make_unique<ravoth::FaultScope>(plan.get());
    }
    void OnTestEnd(const ::testing::TestInfo&) override
    {
        using namespace ravoth::testing;
        scope.reset();
        plan.reset();
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
