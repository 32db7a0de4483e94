// Scene: the compiled ball, one frame and the projection, as the calls they
// make to GL, recorded by the link-time fake.
#include "ball_state.h"
#include "fake_gl/recorder.h"
#include "scene.h"

#include <GL/gl.h>
#include <gtest/gtest.h>

#include <array>
#include <cmath>
#include <string>
#include <vector>

namespace {

using Vec3 = std::array<double, 3>;

constexpr int bands = 10;
constexpr int pairs = 21;

struct Band {
    std::vector<Vec3> colours, lower, upper;
};

Vec3 argsOf(const GlCall& call)
{
    return {call.args.at(0), call.args.at(1), call.args.at(2)};
}

// Splits the recorded list into bands, checking the exact call sequence on the way.
std::vector<Band> compileAndSplit()
{
    clearCalls();
    EXPECT_EQ(compileBallList(), fakeListId);
    const std::vector<GlCall>& calls = recordedCalls();

    std::vector<std::string> expected = {"glGenLists", "glNewList"};
    for (int b = 0; b < bands; b++) {
        expected.push_back("glBegin");
        for (int p = 0; p < pairs; p++) {
            expected.insert(expected.end(), {"glColor3f", "glVertex3f", "glVertex3f"});
        }
        expected.push_back("glEnd");
    }
    expected.push_back("glEndList");
    EXPECT_EQ(recordedNames(), expected);
    if (recordedNames() != expected) {
        return {};
    }

    EXPECT_EQ(calls[0].args, std::vector<double>{1});
    EXPECT_EQ(calls[1].args, (std::vector<double>{fakeListId, GL_COMPILE}));
    std::vector<Band> out(bands);
    size_t i = 2;
    for (Band& band : out) {
        EXPECT_EQ(calls[i++].args, std::vector<double>{GL_QUAD_STRIP});
        for (int p = 0; p < pairs; p++) {
            band.colours.push_back(argsOf(calls[i++]));
            band.lower.push_back(argsOf(calls[i++]));
            band.upper.push_back(argsOf(calls[i++]));
        }
        i++;
    }
    return out;
}

const Vec3 red = {1, 0, 0};
const Vec3 white = {1, 1, 1};

TEST(BallList, IsTenQuadStripsOf42Vertices)
{
    EXPECT_EQ(compileAndSplit().size(), size_t(bands));
}

// Flat-shaded quad q of a strip takes the colour of pair q + 1, the pair that closes it.
TEST(BallList, IsACheckerboardWhoseFirstPatchIsRed)
{
    const std::vector<Band> ball = compileAndSplit();
    ASSERT_EQ(ball.size(), size_t(bands));
    for (int b = 0; b < bands; b++) {
        for (int q = 0; q < pairs - 1; q++) {
            const Vec3& expected = (b + q) % 2 == 0 ? red : white;
            ASSERT_EQ(ball[b].colours[q + 1], expected) << "band " << b << " quad " << q;
        }
    }
}

// Where the tessellation formula puts a point, rounded to single precision.
// The rounding goes through volatile floats: g++ 12 at -O2 was seen to keep
// the double-precision products here, which made equal vertices look unequal.
Vec3 spherePoint(double latDeg, double lonDeg)
{
    const double la = latDeg * 3.14159 / 180, lo = lonDeg * 3.14159 / 180;
    volatile float x = static_cast<float>(std::cos(la) * std::cos(lo));
    volatile float y = static_cast<float>(std::cos(la) * std::sin(lo));
    volatile float z = static_cast<float>(std::sin(la));
    return {x, y, z};
}

// Vertices are exact to the single-precision value of the tessellation formula
// with degrees converted by the five-decimal 3.14159.
TEST(BallList, VerticesSitOnTheLatitudeLongitudeGrid)
{
    const std::vector<Band> ball = compileAndSplit();
    ASSERT_EQ(ball.size(), size_t(bands));
    for (int b = 0; b < bands; b++) {
        for (int p = 0; p < pairs; p++) {
            const double lat = -90 + 18 * b, lon = 18 * p;
            ASSERT_EQ(ball[b].lower[p], spherePoint(lat, lon)) << "band " << b << " pair " << p;
            ASSERT_EQ(ball[b].upper[p], spherePoint(lat + 18, lon))
                << "band " << b << " pair " << p;
        }
    }
}

TEST(BallList, BandsShareEdgesCloseOnThemselvesAndMeetAtThePoles)
{
    const std::vector<Band> ball = compileAndSplit();
    ASSERT_EQ(ball.size(), size_t(bands));
    for (int p = 0; p < pairs; p++) {
        for (int k = 0; k < 3; k++) {
            EXPECT_NEAR(ball[0].lower[p][k], k == 2 ? -1.0 : 0.0, 1e-5) << "south pole " << p;
            EXPECT_NEAR(ball[bands - 1].upper[p][k], k == 2 ? 1.0 : 0.0, 1e-5) << "north " << p;
        }
        for (int b = 0; b + 1 < bands; b++) {
            EXPECT_EQ(ball[b].upper[p], ball[b + 1].lower[p]) << "band " << b << " pair " << p;
        }
    }
    for (const Band& band : ball) {
        for (int k = 0; k < 3; k++) {
            EXPECT_NEAR(band.lower[pairs - 1][k], band.lower[0][k], 1e-5);
            EXPECT_NEAR(band.upper[pairs - 1][k], band.upper[0][k], 1e-5);
        }
    }
}

// Every quad winds clockwise seen from outside, so culling back faces leaves
// the inside of the far half.
TEST(BallList, QuadsWindClockwiseFromOutside)
{
    const std::vector<Band> ball = compileAndSplit();
    ASSERT_EQ(ball.size(), size_t(bands));
    for (int b = 0; b < bands; b++) {
        for (int q = 0; q < pairs - 1; q++) {
            // A strip's quad is drawn as lower q, upper q, upper q+1, lower q+1.
            const Vec3 v[4] = {ball[b].lower[q], ball[b].upper[q], ball[b].upper[q + 1],
                               ball[b].lower[q + 1]};
            Vec3 normal = {0, 0, 0}, centre = {0, 0, 0};
            for (int i = 0; i < 4; i++) {
                const Vec3 &a = v[i], &c = v[(i + 1) % 4];
                normal[0] += (a[1] - c[1]) * (a[2] + c[2]);
                normal[1] += (a[2] - c[2]) * (a[0] + c[0]);
                normal[2] += (a[0] - c[0]) * (a[1] + c[1]);
                for (int k = 0; k < 3; k++) {
                    centre[k] += a[k] / 4;
                }
            }
            const double outward =
                normal[0] * centre[0] + normal[1] * centre[1] + normal[2] * centre[2];
            ASSERT_LT(outward, 0) << "band " << b << " quad " << q << " winds counter-clockwise";
        }
    }
}

// Frame ------------------------------------------------------------------------

struct Segment {
    double x1, y1, x2, y2;
    bool operator==(const Segment& o) const
    {
        return x1 == o.x1 && y1 == o.y1 && x2 == o.x2 && y2 == o.y2;
    }
};

std::ostream& operator<<(std::ostream& os, const Segment& s)
{
    return os << "(" << s.x1 << ", " << s.y1 << ")-(" << s.x2 << ", " << s.y2 << ")";
}

class Frame : public ::testing::Test {
  protected:
    void SetUp() override
    {
        initialBallState.restore();
        ballList = fakeListId;
        clearCalls();
    }
    void TearDown() override
    {
        initialBallState.restore();
        ballList = 0;
    }

    // The frame's calls after the line batch, which tests check on their own.
    static std::vector<std::string> namesAfterLines()
    {
        std::vector<std::string> names = recordedNames();
        size_t end = 0;
        while (end < names.size() && names[end] != "glEnd") {
            end++;
        }
        return {names.begin() + std::min(end + 1, names.size()), names.end()};
    }
};

TEST_F(Frame, ClearsThenDrawsOneCyanBatchOf35Segments)
{
    drawScene();
    const std::vector<GlCall>& calls = recordedCalls();
    ASSERT_GE(calls.size(), 3u);
    EXPECT_EQ(calls[0].name, "glClear");
    EXPECT_EQ(calls[0].args, std::vector<double>{GL_COLOR_BUFFER_BIT});
    EXPECT_EQ(calls[1].name, "glColor3f");
    EXPECT_EQ(calls[1].args, (std::vector<double>{0, 1, 1}));
    EXPECT_EQ(calls[2].name, "glBegin");
    EXPECT_EQ(calls[2].args, std::vector<double>{GL_LINES});

    std::vector<Segment> drawn;
    std::vector<std::string> kinds;
    size_t i = 3;
    for (; i + 1 < calls.size() && calls[i].name != "glEnd"; i += 2) {
        drawn.push_back(
            {calls[i].args[0], calls[i].args[1], calls[i + 1].args[0], calls[i + 1].args[1]});
        kinds.push_back(calls[i].name + " " + calls[i + 1].name);
    }
    ASSERT_LT(i, calls.size());
    EXPECT_EQ(calls[i].name, "glEnd");

    std::vector<Segment> expected;
    std::vector<std::string> expectedKinds;
    for (int k = -5; k <= 5; k++) {
        expected.push_back({double(k), -5, double(k), 5});
    }
    for (int k = -5; k <= 5; k++) {
        expected.push_back({-5, double(k), 5, double(k)});
    }
    expectedKinds.assign(22, "glVertex2i glVertex2i");
    for (int k = -5; k <= 5; k++) {
        expected.push_back({double(k), -5, float(1.15f * float(k)), -5.9f});
        expectedKinds.push_back("glVertex2i glVertex2f");
    }
    expected.push_back({-5.3f, -5.35f, 5.3f, -5.35f});
    expected.push_back({-5.75f, -5.9f, 5.75f, -5.9f});
    expectedKinds.insert(expectedKinds.end(), 2, "glVertex2f glVertex2f");
    EXPECT_EQ(drawn, expected);
    EXPECT_EQ(kinds, expectedKinds);
}

TEST_F(Frame, OuterFloorRaysEndOnTheBottomCrossLine)
{
    drawScene();
    const std::vector<GlCall>& calls = recordedCalls();
    // Vertices start after clear, colour and begin: the rays are segments 22 to 32.
    auto vertex = [&](int segment, int end) { return calls.at(3 + 2 * segment + end).args; };
    const std::vector<double> leftRayEnd = vertex(22, 1), rightRayEnd = vertex(32, 1);
    const std::vector<double> crossStart = vertex(34, 0), crossEnd = vertex(34, 1);
    EXPECT_EQ(leftRayEnd, crossStart);
    EXPECT_EQ(rightRayEnd, crossEnd);
    EXPECT_EQ(rightRayEnd, (std::vector<double>{5.75, double(-5.9f)}));
}

TEST_F(Frame, PlacesTheBallWithTransformsInOrderThenSwaps)
{
    ballX = 1.5f;
    ballY = -2.25f;
    spinAngle = 33.0f;
    drawScene();
    EXPECT_EQ(namesAfterLines(),
              (std::vector<std::string>{"glPushMatrix", "glTranslatef", "glScalef", "glRotatef",
                                        "glRotatef", "glRotatef", "glCallList", "glPopMatrix",
                                        "glFlush", "glutSwapBuffers"}));
    const std::vector<GlCall>& calls = recordedCalls();
    const size_t first = calls.size() - 10;
    EXPECT_EQ(calls[first + 1].args, (std::vector<double>{1.5, -2.25, 0}));
    EXPECT_EQ(calls[first + 2].args, (std::vector<double>{2, 2, 2}));
    EXPECT_EQ(calls[first + 3].args, (std::vector<double>{8, 0, 0, 1}));
    EXPECT_EQ(calls[first + 4].args, (std::vector<double>{90, 1, 0, 0}));
    EXPECT_EQ(calls[first + 5].args, (std::vector<double>{33, 0, 0, 1}));
    EXPECT_EQ(calls[first + 6].args, std::vector<double>{fakeListId});
}

TEST_F(Frame, BeforeAnyStepShowsTheBallAtItsStartWithNoSpin)
{
    drawScene();
    const std::vector<GlCall>& calls = recordedCalls();
    ASSERT_EQ(calls.size(), 3 + 70 + 1 + 10u);
    EXPECT_EQ(calls[74 + 1].args, (std::vector<double>{0, 1, 0}));
    EXPECT_EQ(calls[74 + 5].args, (std::vector<double>{0, 0, 0, 1}));
}

// Applies the frame's recorded ball transforms to a point of the unit sphere,
// the way GL composes them: the last call acts first.
Vec3 placeOnScreen(Vec3 p, const std::vector<GlCall>& calls)
{
    const double pi = std::acos(-1.0);
    for (size_t i = calls.size(); i-- > 0;) {
        const GlCall& c = calls[i];
        const std::vector<double>& a = c.args;
        if (c.name == "glTranslatef") {
            p = {p[0] + a[0], p[1] + a[1], p[2] + a[2]};
        } else if (c.name == "glScalef") {
            p = {p[0] * a[0], p[1] * a[1], p[2] * a[2]};
        } else if (c.name == "glRotatef") {
            const double s = std::sin(a[0] * pi / 180), co = std::cos(a[0] * pi / 180);
            if (a[3] == 1) {
                p = {p[0] * co - p[1] * s, p[0] * s + p[1] * co, p[2]};
            } else {
                p = {p[0], p[1] * co - p[2] * s, p[1] * s + p[2] * co};
            }
        }
    }
    return p;
}

TEST_F(Frame, BallOfRadiusTwoTouchesTheViewEdgeAndSitsInTheFloorStrip)
{
    const std::vector<Band> ball = compileAndSplit();
    ASSERT_EQ(ball.size(), size_t(bands));
    ballX = 4.0f;
    ballY = -3.8f;
    spinAngle = 120.0f;
    clearCalls();
    drawScene();
    const std::vector<GlCall> calls = recordedCalls();

    double right = -10, bottom = 10;
    for (const Band& band : ball) {
        for (const Vec3& v : band.upper) {
            const Vec3 p = placeOnScreen(v, calls);
            right = std::max(right, p[0]);
            bottom = std::min(bottom, p[1]);
            EXPECT_NEAR(std::hypot(p[0] - 4.0, p[1] + 3.8, p[2]), 2.0, 1e-5);
        }
    }
    // The tessellated silhouette falls a little inside the sphere's.
    EXPECT_NEAR(right, 6.0, 0.05);
    EXPECT_LE(right, 6.0 + 1e-6);
    EXPECT_NEAR(bottom, -5.8, 0.05);
    EXPECT_GT(bottom, -5.9);

    // The north pole points down, tilted 8 degrees towards +x.
    const Vec3 north = placeOnScreen({0, 0, 1}, calls);
    const double tilt = 8 * std::acos(-1.0) / 180;
    EXPECT_NEAR(north[0], 4.0 + 2 * std::sin(tilt), 1e-5);
    EXPECT_NEAR(north[1], -3.8 - 2 * std::cos(tilt), 1e-5);
}

// Projection -------------------------------------------------------------------

class Projection : public ::testing::TestWithParam<std::array<int, 2>> {};

TEST_P(Projection, FillsTheWindowWithTheFixedView)
{
    const auto [width, height] = GetParam();
    clearCalls();
    reshapeView(width, height);
    EXPECT_EQ(recordedNames(),
              (std::vector<std::string>{"glViewport", "glMatrixMode", "glLoadIdentity", "glOrtho",
                                        "glMatrixMode"}));
    const std::vector<GlCall>& calls = recordedCalls();
    ASSERT_EQ(calls.size(), 5u);
    EXPECT_EQ(calls[0].args, (std::vector<double>{0, 0, double(width), double(height)}));
    EXPECT_EQ(calls[1].args, std::vector<double>{GL_PROJECTION});
    EXPECT_EQ(calls[3].args, (std::vector<double>{-6, 6, -6, 6, -6, 6}));
    EXPECT_EQ(calls[4].args, std::vector<double>{GL_MODELVIEW});
}

INSTANTIATE_TEST_SUITE_P(Sizes, Projection,
                         ::testing::Values(std::array<int, 2>{300, 300},
                                           std::array<int, 2>{600, 300}, std::array<int, 2>{1, 1},
                                           std::array<int, 2>{0, 0}),
                         [](const auto& info) {
                             return std::to_string(info.param[0]) + "x" +
                                    std::to_string(info.param[1]);
                         });

} // namespace
