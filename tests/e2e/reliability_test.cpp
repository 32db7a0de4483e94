// Reliability of the real program: a soak under storms of resizes, hiding and
// keys; bad command lines; closing and losing the display; memcheck. Each
// test has a short form, run with the others, and a long form, run when
// KORVEL_LONG=1 (scripts/reliability). KORVEL_SOAK_SECONDS sets the soak's
// length outright.
#include <gtest/gtest.h>

#include "x_harness.h"

#include <X11/Xatom.h>
#include <X11/Xlib.h>
#include <X11/keysym.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <fstream>
#include <memory>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

namespace {

const char* const title = "Korvel (Original)";

bool longRun()
{
    const char* value = std::getenv("KORVEL_LONG");
    return value && std::string(value) == "1";
}

// Every key on the keyboard that is not Esc: the printable ASCII keys, the
// editing and cursor keys, the function keys and the modifiers.
std::vector<KeySym> ordinaryKeys()
{
    std::vector<KeySym> keys;
    for (KeySym key = 0x20; key <= 0x7e; key++) {
        keys.push_back(key);
    }
    const KeySym others[] = {XK_Return, XK_Tab,       XK_BackSpace, XK_Delete,    XK_Insert,
                             XK_Home,   XK_End,       XK_Page_Up,   XK_Page_Down, XK_Left,
                             XK_Right,  XK_Up,        XK_Down,      XK_Shift_L,   XK_Control_L,
                             XK_Alt_L,  XK_Caps_Lock, XK_Num_Lock,  XK_KP_Enter,  XK_KP_5,
                             XK_Pause,  XK_Print,     XK_Menu,      XK_Super_L};
    keys.insert(keys.end(), std::begin(others), std::end(others));
    for (KeySym key = XK_F1; key <= XK_F12; key++) {
        keys.push_back(key);
    }
    return keys;
}

class Reliability : public ::testing::Test {
  protected:
    void SetUp() override
    {
        ASSERT_TRUE(display.connection()) << "Xvfb did not start";
    }

    Window start(std::vector<std::string> args = {})
    {
        Korvel::Options options;
        options.args = std::move(args);
        options.display = display.name();
        korvel = std::make_unique<Korvel>(options);
        const Window window = waitForWindow(display.connection(), *korvel, 10000);
        EXPECT_NE(window, 0u) << "no window, or no frame in it";
        return window;
    }

    VirtualDisplay display{"1024x768x24"};
    std::unique_ptr<Korvel> korvel;
};

//------------------------------------------------------------------------------
// Soak
//------------------------------------------------------------------------------
// Resizes from 1x1 to beyond the screen, unmaps and maps, and presses every
// ordinary key, as fast as the server takes them, under -gldebug. About once
// a second the storm pauses at 300x300 until a frame is drawn, and resident
// memory is read there, in the same state each time: after the first fifth
// of the run (the warm-up), it may not rise more than the bound above the
// warm-up's highest reading.
TEST_F(Reliability, SoakUnderStormsOfResizesHidingAndKeys)
{
    const char* override = std::getenv("KORVEL_SOAK_SECONDS");
    const double seconds = override ? std::atof(override) : longRun() ? 60 : 10;
    const long growthBoundKiB = 1024;
    const Window window = start({"-gldebug"});
    Display* dpy = display.connection();
    const int sizes[][2] = {{1, 1},       {2, 3},       {300, 300}, {640, 10},   {10, 640},
                            {1500, 1200}, {3000, 2500}, {800, 600}, {1024, 768}, {57, 913}};
    const std::vector<KeySym> keys = ordinaryKeys();

    // Resident memory once a frame at `width` by `height` is on screen.
    auto settledResidentKiB = [&](int width, int height) {
        XMapWindow(dpy, window);
        XResizeWindow(dpy, window, unsigned(width), unsigned(height));
        XSync(dpy, False);
        const std::uint64_t swaps = korvel->tap().swaps;
        EXPECT_TRUE(waitUntil(
            [&] {
                const TapCounters& tap = korvel->tap();
                return tap.width == width && tap.height == height && tap.swaps > swaps + 2;
            },
            5000))
            << "no frame at " << width << "x" << height;
        return korvel->residentKiB();
    };

    using Clock = std::chrono::steady_clock;
    const auto begin = Clock::now();
    const auto warmUpEnd = begin + std::chrono::duration<double>(seconds / 5);
    const auto end = begin + std::chrono::duration<double>(seconds);
    long warmUpPeak = 0, laterPeak = 0, actions = 0;
    std::vector<long> readings;
    auto nextReading = begin;
    for (long i = 0; Clock::now() < end; i++, actions++) {
        const auto& size = sizes[i % std::size(sizes)];
        XResizeWindow(dpy, window, unsigned(size[0]), unsigned(size[1]));
        pressKey(dpy, window, keys[size_t(i) % keys.size()]);
        if (i % 7 == 3) {
            XUnmapWindow(dpy, window);
            XSync(dpy, False);
            XMapWindow(dpy, window);
        }
        XSync(dpy, False);
        ASSERT_TRUE(korvel->running()) << "ended during the storm, at action " << i;
        // Let the program draw now and then, so that frames and events interleave.
        if (i % 3 == 0) {
            const std::uint64_t swaps = korvel->tap().swaps;
            waitUntil([&] { return korvel->tap().swaps > swaps; }, 200);
        }
        if (Clock::now() >= nextReading) {
            const long rss = settledResidentKiB(300, 300);
            readings.push_back(rss);
            long& peak = Clock::now() < warmUpEnd ? warmUpPeak : laterPeak;
            peak = std::max(peak, rss);
            nextReading = Clock::now() + std::chrono::seconds(1);
        }
    }
    std::ostringstream trace;
    for (long rss : readings) {
        trace << " " << rss;
    }
    RecordProperty("resident_kib_readings", trace.str());
    std::printf("soak: %.0f s, %ld actions; resident memory at 300x300, KiB:%s\n", seconds, actions,
                trace.str().c_str());
#ifndef KORVEL_SANITIZE
    EXPECT_LE(laterPeak - warmUpPeak, growthBoundKiB)
        << "resident memory kept growing after the warm-up: " << warmUpPeak << " KiB, then "
        << laterPeak << " KiB";
#else
    // AddressSanitizer holds freed memory back in quarantine, so resident
    // memory says nothing about leaks here; LeakSanitizer checks those at exit.
    (void)growthBoundKiB;
#endif

    XMapWindow(dpy, window);
    XResizeWindow(dpy, window, 300, 300);
    XSync(dpy, False);
    ASSERT_NE(findWindow(dpy, title, 5000), 0u);
    pressKey(dpy, window, XK_Escape);
    EXPECT_EQ(korvel->waitExit(5000), 0);
    EXPECT_EQ(korvel->err(), "") << "GL errors or other reports";
    EXPECT_EQ(korvel->out(), "");
}

//------------------------------------------------------------------------------
// Bad command lines
//------------------------------------------------------------------------------
struct BadInput {
    const char* name;
    std::vector<std::string> args;
    bool withDisplay;   // whether DISPLAY names the test's server
    const char* answer; // GLUT's message on stderr, or nullptr: ignored, it runs
};

class BadCommandLine : public Reliability, public ::testing::WithParamInterface<BadInput> {};

TEST_P(BadCommandLine, GetsGlutsMessageAndStatusOrIsIgnored)
{
    const BadInput& c = GetParam();
    Korvel::Options options;
    options.args = c.args;
    options.display = c.withDisplay ? display.name() : "";
    korvel = std::make_unique<Korvel>(options);
    if (c.answer) {
        const int status = korvel->waitExit(10000);
        ASSERT_NE(status, -1) << "still running: it hangs";
        EXPECT_EQ(status, 1) << "not GLUT's failure status (a signal shows as 128 + n)";
        EXPECT_NE(korvel->err().find(c.answer), std::string::npos) << korvel->err();
    } else {
        const Window window = findWindow(display.connection(), title, 10000);
        ASSERT_NE(window, 0u) << korvel->err();
        ASSERT_TRUE(waitUntil([&] { return korvel->tap().steps > 20; }, 10000));
        pressKey(display.connection(), window, XK_Escape);
        EXPECT_EQ(korvel->waitExit(5000), 0);
        EXPECT_EQ(korvel->err(), "");
    }
    EXPECT_EQ(korvel->err().find("Sanitizer"), std::string::npos) << korvel->err();
    EXPECT_EQ(korvel->err().find("runtime error"), std::string::npos) << korvel->err();
    EXPECT_EQ(korvel->out(), "");
}

const std::string hugeArgument(100000, 'a');

INSTANTIATE_TEST_SUITE_P(
    Cases, BadCommandLine,
    ::testing::Values(
        BadInput{"NoDisplay", {}, false, "failed to open display"},
        BadInput{"DisplayThatDoesNotExist",
                 {"-display", ":4711"},
                 true,
                 "failed to open display ':4711'"},
        BadInput{"DisplayWithNoValue",
                 {"-display"},
                 true,
                 "-display parameter must be followed by display name"},
        // freeglut reads the garbage as a zero size and X refuses the window.
        BadInput{"GeometryGarbage", {"-geometry", "xyz!!"}, true, "BadValue"},
        BadInput{"GeometryWithNoValue",
                 {"-geometry"},
                 true,
                 "-geometry parameter must be followed by window geometry settings"},
        BadInput{"DirectAndIndirect",
                 {"-direct", "-indirect"},
                 true,
                 "-direct and -indirect cannot be both specified"},
        BadInput{"HugeArgument", {hugeArgument}, true, nullptr},
        BadInput{"NonUtf8Bytes", {"\xff\xfe\x80", "-\xc3\x28", "\xed\xa0\x80"}, true, nullptr}),
    [](const auto& info) { return std::string(info.param.name); });

//------------------------------------------------------------------------------
// Closing and losing the display
//------------------------------------------------------------------------------
// The window manager's close button sends WM_DELETE_WINDOW; GLUT's default
// is to end the program, with status 0.
TEST_F(Reliability, ClosedByTheWindowManagerItEndsWithStatusZero)
{
    ASSERT_TRUE(display.startWindowManager());
    const Window window = start();
    ASSERT_TRUE(waitUntil([&] { return korvel->tap().steps > 20; }, 5000));
    Display* dpy = display.connection();
    XEvent close{};
    close.xclient.type = ClientMessage;
    close.xclient.window = window;
    close.xclient.message_type = XInternAtom(dpy, "_NET_CLOSE_WINDOW", False);
    close.xclient.format = 32;
    close.xclient.data.l[0] = CurrentTime;
    close.xclient.data.l[1] = 2; // from a pager or taskbar, as a user's click
    XSendEvent(dpy, DefaultRootWindow(dpy), False,
               SubstructureRedirectMask | SubstructureNotifyMask, &close);
    XSync(dpy, False);
    EXPECT_EQ(korvel->waitExit(5000), 0);
    EXPECT_EQ(korvel->err(), "");
}

// Hidden, the program sleeps in GLUT's event wait; the server's end must
// still wake it and end it.
TEST_F(Reliability, ServerGoingAwayWhileHiddenEndsIt)
{
    const Window window = start();
    XUnmapWindow(display.connection(), window);
    XSync(display.connection(), False);
    std::uint64_t last = ~0ull;
    ASSERT_TRUE(waitUntil(
        [&] {
            const bool settled = korvel->tap().swaps == last;
            last = korvel->tap().swaps;
            return settled;
        },
        5000));
    display.kill();
    EXPECT_NE(korvel->waitExit(5000), -1) << "still running after the server went away";
}

//------------------------------------------------------------------------------
// memcheck
//------------------------------------------------------------------------------
#ifndef KORVEL_SANITIZE
// Valgrind's memcheck on a real run. Mesa's own reports, if any, are not
// ours; any report whose innermost frame (the "at" line of the error, or of
// where the memory came from) is in korvel's code fails the test.
TEST_F(Reliability, MemcheckFindsNoErrorInOurCode)
{
    const long frames = longRun() ? 600 : 60;
    const std::string log = makeTempDir() + "/memcheck.log";
    Korvel::Options options;
    options.binary = "valgrind";
    options.args = {"--tool=memcheck",   "--track-origins=yes",
                    "--leak-check=full", "--show-leak-kinds=definite",
                    "--log-file=" + log, KORVEL_BINARY};
    options.display = display.name();
    options.env = {"KORVEL_TAP_EXIT_AFTER=" + std::to_string(frames), "LP_NUM_THREADS=0"};
    korvel = std::make_unique<Korvel>(options);
    ASSERT_EQ(korvel->waitExit(600000), 0) << korvel->err();

    // A frame is ours if it names one of our files. It makes the report ours
    // if it is the innermost frame of an error ("at"), or the frame that
    // called the allocator of a lost block: a block that Mesa allocates while
    // we call into it, and then loses, is Mesa's.
    std::ifstream in(log);
    std::string line, previous, ours, summary;
    const char* ourFiles[] = {"(scene.cpp:", "(shell.cpp:", "(ball_motion.cpp:"};
    const char* allocators[] = {": malloc ", ": calloc ", ": realloc ", ": operator new"};
    while (std::getline(in, line)) {
        if (line.find("ERROR SUMMARY") != std::string::npos) {
            summary = line;
        }
        const bool innermost =
            line.find(" at 0x") != std::string::npos &&
            std::none_of(std::begin(allocators), std::end(allocators),
                         [&](const char* a) { return line.find(a) != std::string::npos; });
        const bool callsAllocator =
            std::any_of(std::begin(allocators), std::end(allocators),
                        [&](const char* a) { return previous.find(a) != std::string::npos; });
        for (const char* file : ourFiles) {
            if (line.find(file) != std::string::npos && (innermost || callsAllocator)) {
                ours += line + "\n";
            }
        }
        previous = line;
    }
    RecordProperty("memcheck_summary", summary);
    std::printf("memcheck over %ld frames: %s\n", frames, summary.c_str());
    EXPECT_FALSE(summary.empty()) << "no memcheck log at " << log;
    EXPECT_EQ(ours, "") << "memcheck reports in our code; log kept at " << log;
}
#endif

} // namespace
