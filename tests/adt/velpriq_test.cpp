#include "adt/velpriq.h"

#include <gtest/gtest.h>

namespace {

class VelpriqTest : public testing::Test {
  protected:
    void SetUp() override { ASSERT_EQ(velpriq_create(&pq_), 0); }
    void TearDown() override { EXPECT_EQ(velpriq_free(pq_), 0); }

    // Puts A, B, C, D at priorities 5, 1, 5, 3.
    void fill() {
        velpriq_put(pq_, &a_, 5);
        velpriq_put(pq_, &b_, 1);
        velpriq_put(pq_, &c_, 5);
        velpriq_put(pq_, &d_, 3);
    }

    velpriq *pq_ = nullptr;
    char a_ = 'A', b_ = 'B', c_ = 'C', d_ = 'D';
};

TEST_F(VelpriqTest, LowestPriorityFirstThenArrivalOrder) {
    fill();
    EXPECT_EQ(pq_->count, 3u);
    EXPECT_EQ(velpriq_get(pq_), &b_);
    EXPECT_EQ(velpriq_get(pq_), &d_);
    EXPECT_EQ(velpriq_get(pq_), &a_);
    EXPECT_EQ(velpriq_get(pq_), &c_);
    EXPECT_EQ(velpriq_get(pq_), nullptr);
    EXPECT_EQ(pq_->count, 3u);  // empty levels stay
}

TEST_F(VelpriqTest, GetByPriorityTakesOnlyThatLevelAndMakesNone) {
    fill();
    EXPECT_EQ(velpriq_getpri(pq_, 5), &a_);
    EXPECT_EQ(velpriq_getpri(pq_, 4), nullptr);
    EXPECT_EQ(pq_->count, 3u);
    EXPECT_EQ(velpriq_getpri(pq_, 1), &b_);
    EXPECT_EQ(velpriq_getpri(pq_, 1), nullptr);
}

TEST_F(VelpriqTest, NegativePrioritiesComeFirst) {
    char z = 'Z', n = 'N';
    velpriq_put(pq_, &z, 0);
    velpriq_put(pq_, &n, -7);
    fill();
    EXPECT_EQ(velpriq_get(pq_), &n);
    EXPECT_EQ(velpriq_get(pq_), &z);
    EXPECT_EQ(velpriq_get(pq_), &b_);
}

TEST_F(VelpriqTest, NullItemIsRefusedButItsLevelStays) {
    EXPECT_EQ(velpriq_put(pq_, nullptr, 9), 1);
    EXPECT_EQ(pq_->count, 1u);
    EXPECT_EQ(velpriq_put(pq_, &a_, 9), 0);
    EXPECT_EQ(pq_->count, 1u);
    EXPECT_EQ(velpriq_get(pq_), &a_);
}

}  // namespace
