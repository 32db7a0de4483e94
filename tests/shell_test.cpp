// Start-up and the two small handlers, observed through the link-time fake.
#include "ball_motion.h"
#include "ball_state.h"
#include "fake_gl/recorder.h"
#include "scene.h"
#include "shell.h"

#include <GL/glut.h>
#include <gtest/gtest.h>

#include <string>
#include <vector>

// The program's entry point, renamed for this test binary.
int korvelMain(int argc, char** argv);

namespace {

// Folds the ball-list compilation into one name so the start-up order reads plainly.
std::vector<std::string> foldListCompile(const std::vector<std::string>& names)
{
    std::vector<std::string> out;
    bool inList = false;
    for (const std::string& name : names) {
        if (name == "glGenLists") {
            inList = true;
            out.push_back("compileBallList");
        } else if (name == "glEndList") {
            inList = false;
        } else if (!inList) {
            out.push_back(name);
        }
    }
    return out;
}

TEST(StartUp, RunsItsStepsInOrderAndHandsTheCommandLineToGlut)
{
    ballList = 0;
    clearCalls();
    char arg0[] = "korvel", arg1[] = "-geometry", arg2[] = "400x200", arg3[] = "--unknown";
    char* argv[] = {arg0, arg1, arg2, arg3, nullptr};
    EXPECT_EQ(korvelMain(4, argv), 0);

    EXPECT_EQ(foldListCompile(recordedNames()),
              (std::vector<std::string>{"glutInit", "glutInitDisplayMode", "glutCreateWindow",
                                        "compileBallList", "glCullFace", "glEnable", "glDisable",
                                        "glShadeModel", "glutDisplayFunc", "glutReshapeFunc",
                                        "glutVisibilityFunc", "glutKeyboardFunc", "glutMainLoop"}));

    const std::vector<GlCall>& calls = recordedCalls();
    ASSERT_GE(calls.size(), 13u);
    EXPECT_EQ(calls[0].args, std::vector<double>{4});
    EXPECT_EQ(calls[0].pointer, static_cast<const void*>(argv));
    EXPECT_EQ(calls[1].args, std::vector<double>{GLUT_RGB | GLUT_DOUBLE});
    EXPECT_EQ(calls[1].args, std::vector<double>{2});
    EXPECT_EQ(calls[2].text, "Korvel (Original)");
    EXPECT_EQ(ballList, fakeListId);

    const size_t state = calls.size() - 9;
    EXPECT_EQ(calls[state].args, std::vector<double>{GL_BACK});
    EXPECT_EQ(calls[state + 1].args, std::vector<double>{GL_CULL_FACE});
    EXPECT_EQ(calls[state + 2].args, std::vector<double>{GL_DITHER});
    EXPECT_EQ(calls[state + 3].args, std::vector<double>{GL_FLAT});
    EXPECT_EQ(calls[state + 4].callback, asCallback(&drawScene));
    EXPECT_EQ(calls[state + 5].callback, asCallback(&reshapeView));
    EXPECT_EQ(calls[state + 6].callback, asCallback(&handleVisibility));
    EXPECT_EQ(calls[state + 7].callback, asCallback(&handleKey));
    ballList = 0;
}

TEST(StartUp, LeavesTheBallStateAsItWas)
{
    initialBallState.restore();
    char arg0[] = "korvel";
    char* argv[] = {arg0, nullptr};
    korvelMain(1, argv);
    EXPECT_EQ(BallState::capture(), initialBallState);
    ballList = 0;
}

class Visibility : public ::testing::Test {
  protected:
    void SetUp() override
    {
        initialBallState.restore();
        ballX = 2.5f; // a state that is not the start, to see it kept
        spinAngle = 75.0f;
        clearCalls();
    }
    void TearDown() override
    {
        initialBallState.restore();
    }
};

TEST_F(Visibility, InstallsAndRemovesTheIdleRoutineAndKeepsTheBall)
{
    const BallState before = BallState::capture();
    const int reports[] = {GLUT_VISIBLE,     GLUT_VISIBLE, GLUT_NOT_VISIBLE,
                           GLUT_NOT_VISIBLE, GLUT_VISIBLE, 5,
                           GLUT_VISIBLE};
    void (*const expected[])() = {asCallback(&advanceBall),
                                  asCallback(&advanceBall),
                                  nullptr,
                                  nullptr,
                                  asCallback(&advanceBall),
                                  nullptr,
                                  asCallback(&advanceBall)};
    for (int state : reports) {
        handleVisibility(state);
    }
    const std::vector<GlCall>& calls = recordedCalls();
    ASSERT_EQ(calls.size(), std::size(reports));
    for (size_t i = 0; i < calls.size(); i++) {
        EXPECT_EQ(calls[i].name, "glutIdleFunc") << "report " << i;
        EXPECT_EQ(calls[i].callback, expected[i]) << "report " << i;
    }
    EXPECT_EQ(BallState::capture(), before);
}

TEST(Keyboard, EscEndsTheProcessWithStatusZero)
{
    EXPECT_EXIT(handleKey(27, 150, 150), ::testing::ExitedWithCode(0), "");
    EXPECT_EXIT(handleKey(27, -40, 9000), ::testing::ExitedWithCode(0), "");
}

// Runs in a child process: a key that wrongly ends the process would otherwise
// end this test binary with status 0 and look like a pass.
TEST(Keyboard, EveryOtherKeyAtAnyPositionDoesNothing)
{
    const int keptRunning = 42;
    auto pressEveryOtherKey = [] {
        initialBallState.restore();
        const int positions[][2] = {{0, 0}, {150, 150}, {-1, -1}, {299, 0}, {100000, -100000}};
        clearCalls();
        for (int key = 0; key < 256; key++) {
            for (const auto& pos : positions) {
                if (key != 27) {
                    handleKey(static_cast<unsigned char>(key), pos[0], pos[1]);
                }
            }
        }
        const bool untouched = recordedCalls().empty() && BallState::capture() == initialBallState;
        std::exit(untouched ? keptRunning : 1);
    };
    EXPECT_EXIT(pressEveryOtherKey(), ::testing::ExitedWithCode(keptRunning), "");
}

} // namespace
