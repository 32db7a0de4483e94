// The real korvel on a private Xvfb with Mesa's software renderer: its window,
// its picture, keys, hiding, GLUT's options, and losing the display.
// GoogleTest comes before Xlib, whose macros (None, Bool) clash with it.
#include <gtest/gtest.h>

#include "picture_model.h"
#include "x_harness.h"

#include <X11/Xlib.h>
#include <X11/keysym.h>

#include <cmath>
#include <cstdlib>
#include <memory>
#include <string>
#include <vector>

namespace {

const char* const title = "Korvel (Original)";
const int startTimeoutMs = 10000;

std::string testName()
{
    const auto* info = ::testing::UnitTest::GetInstance()->current_test_info();
    std::string name = std::string(info->test_suite_name()) + "." + info->name();
    for (char& c : name) {
        if (c == '/') {
            c = '_';
        }
    }
    return name;
}

// One colour step of the window's channels, from the bits the context reports.
int toleranceFor(const TapCounters& tap)
{
    return std::max(1, 256 >> std::max(1, tap.redBits));
}

Korvel::Options held(long step)
{
    Korvel::Options options;
    options.hold = step;
    return options;
}

Korvel::Options withArgs(std::vector<std::string> args)
{
    Korvel::Options options;
    options.args = std::move(args);
    return options;
}

class EndToEnd : public ::testing::Test {
  protected:
    void SetUp() override
    {
        ASSERT_TRUE(display.connection()) << "Xvfb did not start";
    }

    // Starts korvel on the display and waits for its window and first frame.
    Window start(Korvel::Options options = {})
    {
        options.display = display.name();
        korvel = std::make_unique<Korvel>(options);
        const Window window = waitForWindow(display.connection(), *korvel, startTimeoutMs);
        EXPECT_NE(window, 0u) << "no window titled \"" << title << "\", or no frame in it";
        return window;
    }

    // Holds the animation at `step` and waits until the screen shows it.
    void holdAt(long step)
    {
        korvel->hold(step);
        ASSERT_TRUE(waitUntil([&] { return korvel->tap().stepShown == std::uint64_t(step); },
                              startTimeoutMs))
            << "never showed step " << step << "; at " << korvel->tap().stepShown;
        XSync(display.connection(), False);
    }

    // Fails with the first bad pixel and keeps the image.
    void expectPicture(const Image& image, long step)
    {
        ASSERT_GT(image.width, 0) << "no picture";
        const std::string problem =
            checkPicture(image, placeAtStep(step), toleranceFor(korvel->tap()));
        if (!problem.empty()) {
            const std::string path = artifactPath(testName() + ".ppm");
            image.savePpm(path);
            ADD_FAILURE() << problem << "\n  image kept at " << path;
        }
    }

    void endWithEsc(Window window)
    {
        pressKey(display.connection(), window, XK_Escape);
        EXPECT_EQ(korvel->waitExit(5000), 0);
        EXPECT_EQ(korvel->out(), "");
        EXPECT_EQ(korvel->err(), "");
    }

    VirtualDisplay display;
    std::unique_ptr<Korvel> korvel;
};

//------------------------------------------------------------------------------
// The window
//------------------------------------------------------------------------------
TEST_F(EndToEnd, WindowHasTheTitleGlutsDefaultSizeAndADoubleBufferedRgbVisual)
{
    const Window window = start();
    int width = 0, height = 0;
    windowSize(display.connection(), window, width, height);
    EXPECT_EQ(width, 300);
    EXPECT_EQ(height, 300);

    const TapCounters& tap = korvel->tap();
    EXPECT_EQ(tap.doubleBuffered, 1);
    EXPECT_EQ(tap.depthBits, 0);
    EXPECT_EQ(tap.stencilBits, 0);
    EXPECT_GE(tap.redBits, 8);
    EXPECT_GE(tap.greenBits, 8);
    EXPECT_GE(tap.blueBits, 8);

    XWindowAttributes attributes{};
    XGetWindowAttributes(display.connection(), window, &attributes);
    EXPECT_EQ(attributes.c_class, InputOutput);
    EXPECT_EQ(attributes.visual->c_class, TrueColor);
    endWithEsc(window);
}

//------------------------------------------------------------------------------
// The picture
//------------------------------------------------------------------------------
class Picture : public EndToEnd, public ::testing::WithParamInterface<long> {};

// Held at a step, the screen must show the grid, the floor strip and the ball
// where the motion's figures and the projection put them.
TEST_P(Picture, MatchesTheFiguresAtTheHeldStep)
{
    const long step = GetParam();
    const Window window = start(held(step));
    holdAt(step);
    expectPicture(screenshot(display.connection(), window), step);
    endWithEsc(window);
}

// 0: before any step; 5: mid-fall; 11: first floor contact; 20: right wall;
// 60: left wall; 83: a later floor contact.
INSTANTIATE_TEST_SUITE_P(Steps, Picture, ::testing::Values(0, 5, 11, 20, 60, 83));

TEST_F(EndToEnd, ProbesFindBlackCellsAndCyanLinesWithBlackNeighbours)
{
    const Window window = start(held(20)); // ball at the right wall, top
    holdAt(20);
    const Image image = screenshot(display.connection(), window);
    ASSERT_EQ(image.width, 300);
    ASSERT_EQ(image.height, 300);
    const int tolerance = toleranceFor(korvel->tap());
    auto probe = [&](int x0, int y0, int w, int h, Rgb expected, const char* what) {
        for (int y = y0; y < y0 + h; y++) {
            for (int x = x0; x < x0 + w; x++) {
                const Rgb seen = image.at(x, y);
                if (std::abs(seen.r - expected.r) > tolerance ||
                    std::abs(seen.g - expected.g) > tolerance ||
                    std::abs(seen.b - expected.b) > tolerance) {
                    const std::string path = artifactPath(testName() + ".ppm");
                    image.savePpm(path);
                    ADD_FAILURE() << what << ": pixel (" << x << ", " << y << ") expected ("
                                  << expected.r << ", " << expected.g << ", " << expected.b
                                  << "), observed (" << seen.r << ", " << seen.g << ", " << seen.b
                                  << "); image kept at " << path;
                    return;
                }
            }
        }
    };
    const Rgb black{0, 0, 0}, cyan{0, 255, 255};
    // At 300 pixels for 12 units, grid line i lies on pixel edge 25 * (i + 6):
    // Mesa lights the pixel on one side of it. Both sides' outer neighbours are black.
    for (int i = -5; i <= 1; i++) {
        const int edge = 25 * (i + 6);
        probe(edge - 23, 30, 21, 20, black, "grid cell");
        // Rows 177 to 197 lie between the horizontal lines at rows 175 and 200.
        probe(edge - 2, 177, 1, 21, black, "left of a vertical line");
        probe(edge + 1, 177, 1, 21, black, "right of a vertical line");
        const Rgb left = image.at(edge - 1, 187), right = image.at(edge, 187);
        EXPECT_TRUE(left == cyan || right == cyan) << "no vertical line at x = " << i;
        probe(left == cyan ? edge - 1 : edge, 177, 1, 21, cyan, "vertical line");
    }
    // Horizontal lines, between the first two vertical lines (columns 25 and
    // 50), where the ball is not at step 20.
    for (int i = -5; i <= 5; i++) {
        const int edge = 25 * (6 - i);
        probe(28, edge - 2, 20, 1, black, "above a horizontal line");
        probe(28, edge + 1, 20, 1, black, "below a horizontal line");
        const Rgb above = image.at(35, edge - 1), below = image.at(35, edge);
        EXPECT_TRUE(above == cyan || below == cyan) << "no horizontal line at y = " << i;
        probe(28, above == cyan ? edge - 1 : edge, 20, 1, cyan, "horizontal line");
    }
    // Outside the grid and the strip: black, to the window's edges.
    probe(0, 0, 300, 20, black, "above the grid");
    probe(0, 30, 20, 240, black, "left of the grid");
    // The floor strip's bottom line, y = -5.9, at row 297.5, and its ray ends.
    const Rgb bottomA = image.at(150, 297), bottomB = image.at(150, 298);
    EXPECT_TRUE(bottomA == cyan || bottomB == cyan) << "no bottom cross-line";
    probe(10, 280, 2, 10, black, "below-left of the strip");
    endWithEsc(window);
}

TEST_F(EndToEnd, FrameAtAGivenSwapIsExactlyWhatTheScreenShows)
{
    const std::string dir = artifactPath("");
    Korvel::Options options = held(20);
    options.frameDir = dir;
    options.firstFrame = 20;
    options.frames = 1;
    const Window window = start(options);
    holdAt(20);
    const Image saved = Image::loadPpm(dir + "/frame-000020.ppm");
    ASSERT_EQ(saved.width, 300) << "the tap saved no frame for step 20";
    expectPicture(saved, 20);
    const Image shown = screenshot(display.connection(), window);
    EXPECT_TRUE(saved == shown) << "the swapped frame differs from the screen";
    endWithEsc(window);
}

TEST_F(EndToEnd, ResizedTo600By300TheSamePictureStretches)
{
    const Window window = start(held(20));
    holdAt(20);
    const std::uint64_t swaps = korvel->tap().swaps;
    XResizeWindow(display.connection(), window, 600, 300);
    XSync(display.connection(), False);
    ASSERT_TRUE(
        waitUntil([&] { return korvel->tap().width == 600 && korvel->tap().swaps > swaps; }, 5000));
    XSync(display.connection(), False);
    const Image image = screenshot(display.connection(), window);
    ASSERT_EQ(image.width, 600);
    ASSERT_EQ(image.height, 300);
    expectPicture(image, 20);
    endWithEsc(window);
}

//------------------------------------------------------------------------------
// Keys
//------------------------------------------------------------------------------
TEST_F(EndToEnd, EscEndsTheProgramAtOnceWithStatusZero)
{
    const Window window = start();
    ASSERT_TRUE(korvel->running());
    endWithEsc(window);
}

// Held still, any effect of a key would show as a new frame or a new picture.
TEST_F(EndToEnd, OrdinaryKeysChangeNothing)
{
    const Window window = start(held(33));
    holdAt(33);
    const Image before = screenshot(display.connection(), window);
    const std::uint64_t swaps = korvel->tap().swaps;
    const KeySym keys[] = {XK_a,     XK_q,    XK_Z,     XK_0,        XK_9,    XK_Return,
                           XK_space, XK_Left, XK_Right, XK_Up,       XK_Down, XK_F1,
                           XK_F5,    XK_F12,  XK_Tab,   XK_BackSpace};
    for (KeySym key : keys) {
        pressKey(display.connection(), window, key);
        EXPECT_TRUE(korvel->running()) << "ended on " << XKeysymToString(key);
    }
    XSync(display.connection(), False);
    EXPECT_EQ(korvel->tap().swaps, swaps) << "a key caused a redraw";
    EXPECT_TRUE(screenshot(display.connection(), window) == before);
    // And it still runs: released, it moves on.
    korvel->hold(-1);
    EXPECT_TRUE(waitUntil([&] { return korvel->tap().steps > 100; }, 5000));
    endWithEsc(window);
}

//------------------------------------------------------------------------------
// Hiding
//------------------------------------------------------------------------------
// Hides the window, shows that nothing is stepped, drawn or spent while hidden,
// shows it again and checks the ball goes on from where it stood.
void checkPauseAndResume(Korvel& korvel, Display* dpy, const std::function<void()>& hide,
                         const std::function<void()>& show, const std::function<Image()>& shot)
{
    ASSERT_TRUE(waitUntil([&] { return korvel.tap().steps > 150; }, 5000));
    hide();
    // The last frames in flight settle, then nothing more may happen.
    std::uint64_t last = 0;
    ASSERT_TRUE(waitUntil(
        [&] {
            const std::uint64_t now = korvel.tap().swaps;
            const bool settled = now == last;
            last = now;
            return settled && now > 0;
        },
        5000));
    const std::uint64_t steps = korvel.tap().steps, swaps = korvel.tap().swaps;
    const long cpu = korvel.cpuTicks();
    EXPECT_FALSE(waitUntil([&] { return korvel.tap().swaps != swaps; }, 1000))
        << "frames drawn while hidden";
    EXPECT_EQ(korvel.tap().steps, steps) << "steps taken while hidden";
    EXPECT_LE(korvel.cpuTicks() - cpu, 2) << "CPU spent while hidden (clock ticks in 1 s)";

    // Shown again, it continues: hold 37 steps on and find the ball there.
    const long target = long(steps) + 37;
    korvel.hold(target);
    show();
    ASSERT_TRUE(waitUntil([&] { return korvel.tap().stepShown == std::uint64_t(target); }, 5000));
    XSync(dpy, False);
    const Image image = shot();
    double px = 0, py = 0, ex = 0, ey = 0;
    ASSERT_TRUE(ballCentre(image, px, py));
    const Place place = placeAtStep(target);
    toPixel(place.x, place.y, image.width, image.height, ex, ey);
    EXPECT_NEAR(px, ex, 1.0) << "step " << target;
    EXPECT_NEAR(py, ey, 1.0) << "step " << target;
}

TEST_F(EndToEnd, UnmappedItStandsStillAndMappedAgainItContinues)
{
    const Window window = start();
    Display* dpy = display.connection();
    checkPauseAndResume(
        *korvel, dpy, [&] { XUnmapWindow(dpy, window), XSync(dpy, False); },
        [&] { XMapWindow(dpy, window), XSync(dpy, False); },
        [&] { return screenshot(dpy, window); });
    endWithEsc(window);
}

TEST_F(EndToEnd, MinimisedUnderAWindowManagerItStandsStillAndRestoredItContinues)
{
    ASSERT_TRUE(display.startWindowManager()) << "openbox did not take the screen";
    const Window window = start();
    Display* dpy = display.connection();
    checkPauseAndResume(
        *korvel, dpy,
        [&] {
            XIconifyWindow(dpy, window, DefaultScreen(dpy));
            XSync(dpy, False);
        },
        [&] {
            XMapRaised(dpy, window);
            XSync(dpy, False);
        },
        [&] {
            findWindow(dpy, title, 5000);
            return screenshot(dpy, window);
        });
    endWithEsc(window);
}

//------------------------------------------------------------------------------
// GLUT's options and other arguments
//------------------------------------------------------------------------------
TEST_F(EndToEnd, GeometryOptionSetsTheWindowSize)
{
    const Window window = start(withArgs({"-geometry", "400x200"}));
    int width = 0, height = 0;
    windowSize(display.connection(), window, width, height);
    EXPECT_EQ(width, 400);
    EXPECT_EQ(height, 200);
    endWithEsc(window);
}

TEST_F(EndToEnd, GlDebugReportsNoErrorInAWholeRun)
{
    const Window window = start(withArgs({"-gldebug"}));
    ASSERT_TRUE(waitUntil([&] { return korvel->tap().steps > 500; }, 10000));
    XResizeWindow(display.connection(), window, 200, 350);
    XSync(display.connection(), False);
    ASSERT_TRUE(waitUntil([&] { return korvel->tap().steps > 1000; }, 10000));
    endWithEsc(window); // and nothing on stderr
}

TEST_F(EndToEnd, UnknownArgumentsAreIgnoredSilently)
{
    const Window window = start(withArgs({"--frobnicate", "extra", "-x", "17", "--", "-"}));
    ASSERT_TRUE(waitUntil([&] { return korvel->tap().steps > 50; }, 5000));
    endWithEsc(window);
}

//------------------------------------------------------------------------------
// No display, or losing it
//------------------------------------------------------------------------------
struct NoDisplayCase {
    const char* name;
    const char* display; // nullptr: DISPLAY unset
};

class NoDisplay : public ::testing::TestWithParam<NoDisplayCase> {};

TEST_P(NoDisplay, FailsAtOnceWithGlutsMessage)
{
    Korvel::Options options;
    options.display = GetParam().display ? GetParam().display : "";
    Korvel korvel(options);
    const int status = korvel.waitExit(5000);
    EXPECT_NE(status, -1) << "still running: it hangs";
    EXPECT_NE(status, 0);
    EXPECT_NE(korvel.err().find("freeglut"), std::string::npos) << korvel.err();
    EXPECT_NE(korvel.err().find("failed to open display"), std::string::npos) << korvel.err();
    EXPECT_EQ(korvel.out(), "");
}

INSTANTIATE_TEST_SUITE_P(Cases, NoDisplay,
                         ::testing::Values(NoDisplayCase{"Unset", nullptr},
                                           NoDisplayCase{"NoSuchServer", ":4711"},
                                           NoDisplayCase{"NothingListening", "127.0.0.1:4711"}),
                         [](const auto& info) { return std::string(info.param.name); });

TEST_F(EndToEnd, WhenTheServerGoesAwayItEnds)
{
    start();
    ASSERT_TRUE(waitUntil([&] { return korvel->tap().steps > 20; }, 5000));
    display.kill();
    const int status = korvel->waitExit(5000);
    EXPECT_NE(status, -1) << "still running after the server went away";
}

} // namespace
