// Motion: the trajectory from the initial state, the wall and floor tests at
// their edges, and a long run that must repeat exactly with its period.
#include "ball_motion.h"
#include "ball_state.h"
#include "fake_gl/recorder.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <string>
#include <vector>

namespace {

class Motion : public ::testing::Test {
  protected:
    void SetUp() override
    {
        initialBallState.restore();
        clearCalls();
    }
    void TearDown() override
    {
        initialBallState.restore();
    }
};

// A floor contact is the one way velY can become the positive rebound speed
// straight after a step.
bool touchedFloor(double velYBefore)
{
    return velY > 0 && velYBefore <= 0 && velY == double(reboundSpeed);
}

TEST_F(Motion, FirstTenStepsFallUnderGravity)
{
    const float expectedY[] = {1.0f, 0.9f, 0.7f, 0.4f, 0.0f, -0.5f, -1.1f, -1.8f, -2.6f, -3.5f};
    for (int step = 1; step <= 10; step++) {
        advanceBall();
        EXPECT_NEAR(ballY, expectedY[step - 1], 1e-5) << "step " << step;
        EXPECT_NEAR(velY, -0.1 * step, 1e-12) << "step " << step;
    }
    EXPECT_EQ(reboundSpeed, -100.0f) << "no contact yet, so the rebound speed is unmeasured";
}

TEST_F(Motion, EachStepPostsExactlyOneRedisplay)
{
    for (int step = 0; step < 30; step++) {
        advanceBall();
    }
    EXPECT_EQ(recordedNames(), std::vector<std::string>(30, "glutPostRedisplay"));
}

TEST_F(Motion, StepElevenIsTheFirstContactAndLatchesTheReboundSpeed)
{
    for (int step = 1; step <= 11; step++) {
        advanceBall();
    }
    EXPECT_EQ(ballY, static_cast<float>(-3.8));
    EXPECT_EQ(reboundSpeed, static_cast<float>(1.1));
    EXPECT_EQ(velY, double(static_cast<float>(1.1)));
}

TEST_F(Motion, FloorContactsComeEvery24StepsAtTheSameSpeedAndPeakAt2Point8)
{
    std::vector<int> contacts;
    float highest = -100.0f;
    for (int step = 1; step <= 200; step++) {
        const double before = velY;
        advanceBall();
        if (touchedFloor(before)) {
            contacts.push_back(step);
            EXPECT_EQ(ballY, static_cast<float>(floorY)) << "step " << step;
            EXPECT_EQ(velY, double(static_cast<float>(1.1))) << "step " << step;
        }
        if (step > 11) {
            highest = std::max(highest, ballY);
        }
    }
    EXPECT_EQ(contacts, (std::vector<int>{11, 35, 59, 83, 107, 131, 155, 179}));
    EXPECT_NEAR(highest, 2.8f, 1e-4);
}

TEST_F(Motion, WallsAtSteps20And60ThenEvery40)
{
    std::vector<int> walls;
    for (int step = 1; step <= 300; step++) {
        const double before = velX;
        advanceBall();
        if ((velX > 0) != (before > 0)) {
            walls.push_back(step);
        }
        if (step == 20) {
            EXPECT_EQ(ballX, 4.0f);
            EXPECT_EQ(spinAngle, 120.0f);
        }
        if (step == 60) {
            EXPECT_EQ(ballX, -4.0f);
            EXPECT_EQ(spinAngle, -120.0f);
        }
    }
    EXPECT_EQ(walls, (std::vector<int>{20, 60, 100, 140, 180, 220, 260, 300}));
}

TEST_F(Motion, SpinFollowsThirtyTimesXAndStaysWithin120)
{
    for (int step = 1; step <= 5000; step++) {
        advanceBall();
        ASSERT_NEAR(spinAngle, 30.0f * ballX, 1e-3) << "step " << step;
        ASSERT_LE(std::fabs(spinAngle), 120.0f) << "step " << step;
        ASSERT_LE(std::fabs(ballX), 4.0f) << "step " << step;
    }
}

struct WallCase {
    const char* name;
    float x;
    double vx;
    bool contact;
};

class WallTest : public Motion, public ::testing::WithParamInterface<WallCase> {};

// Landing exactly on a wall is a contact; stopping short of it is not.
TEST_P(WallTest, ExactLandingCounts)
{
    const WallCase& c = GetParam();
    ballX = c.x;
    velX = c.vx;
    spinStep = c.vx > 0 ? 6.0f : -6.0f;
    advanceBall();
    if (c.contact) {
        EXPECT_EQ(ballX, c.vx > 0 ? wallRight : wallLeft);
        EXPECT_EQ(velX, -c.vx);
        EXPECT_EQ(spinStep, c.vx > 0 ? -6.0f : 6.0f);
    } else {
        EXPECT_EQ(ballX, c.x + float(c.vx));
        EXPECT_EQ(velX, c.vx);
    }
}

INSTANTIATE_TEST_SUITE_P(Walls, WallTest,
                         ::testing::Values(WallCase{"RightExact", 3.75f, 0.25, true},
                                           WallCase{"RightPast", 3.9f, 0.25, true},
                                           WallCase{"RightShort", 3.5f, 0.25, false},
                                           WallCase{"LeftExact", -3.75f, -0.25, true},
                                           WallCase{"LeftPast", -3.9f, -0.25, true},
                                           WallCase{"LeftShort", -3.5f, -0.25, false}),
                         [](const auto& info) { return info.param.name; });

TEST_F(Motion, FloorTestIsStrict)
{
    // Landing exactly on a floor that single precision can hold is no contact.
    floorY = -3.75;
    ballY = -3.75f;
    reboundSpeed = 1.1f;
    velY = 0.0;
    gravity = 0.0;
    advanceBall();
    EXPECT_EQ(velY, 0.0) << "a ball exactly at the floor bounced";

    // A ball just set to the floor sits above the double-precision floor.
    initialBallState.restore();
    ballY = static_cast<float>(floorY);
    velY = 0.0;
    advanceBall();
    EXPECT_EQ(velY, gravity) << "a ball just set to the floor bounced again";
    EXPECT_EQ(ballY, static_cast<float>(floorY));
}

TEST_F(Motion, LaterContactsReuseTheLatchedSpeed)
{
    reboundSpeed = 1.1f;
    ballY = -3.0f;
    velY = -3.0;
    advanceBall();
    EXPECT_EQ(ballY, static_cast<float>(floorY));
    EXPECT_EQ(reboundSpeed, 1.1f);
    EXPECT_EQ(velY, double(1.1f));
}

// Drift 80 steps (wall to wall and back) and hop 24 steps: after the first
// contact and the first wall, the whole state must come back bit for bit every
// 240 steps, and never sooner.
void expectExactPeriod(long periods)
{
    const int period = 240;
    for (int step = 0; step < period; step++) {
        advanceBall();
    }
    const BallState start = BallState::capture();

    for (int step = 1; step < period; step++) {
        advanceBall();
        ASSERT_FALSE(BallState::capture() == start) << "state repeats after " << step;
    }
    advanceBall();
    ASSERT_EQ(BallState::capture(), start);

    float lowY = ballY, highY = ballY;
    for (long p = 1; p < periods; p++) {
        clearCalls();
        for (int step = 0; step < period; step++) {
            advanceBall();
            lowY = std::min(lowY, ballY);
            highY = std::max(highY, ballY);
        }
        ASSERT_EQ(BallState::capture(), start) << "after " << p + 1 << " periods";
    }
    EXPECT_EQ(lowY, static_cast<float>(floorY));
    EXPECT_NEAR(highY, 2.8f, 1e-4);
}

TEST_F(Motion, SixMillionStepsRepeatExactlyWithThePeriod)
{
    expectExactPeriod(25000);
}

// The long form, for scripts/reliability: a billion steps.
TEST_F(Motion, ABillionStepsRepeatExactlyWithThePeriod)
{
    const char* longRun = std::getenv("KORVEL_LONG");
    if (!longRun || std::string(longRun) != "1") {
        GTEST_SKIP() << "long form: set KORVEL_LONG=1";
    }
    expectExactPeriod(1000000000L / 240 + 1);
}

} // namespace
