// The capture tool and scripts/run without a display, run as a user runs them.
#include <gtest/gtest.h>

#include "picture_model.h"
#include "x_harness.h"

#include <X11/keysym.h>
#include <dirent.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <set>
#include <string>

namespace {

const std::string root = KORVEL_SOURCE_DIR;

std::string tempDir()
{
    char pattern[] = "/tmp/korvel-scripts-XXXXXX";
    return mkdtemp(pattern);
}

// Runs a shell command with the build folder set; returns its exit status and output.
int run(const std::string& command, std::string& output)
{
    const std::string full = "export KORVEL_BUILD_DIR='" KORVEL_BUILD_DIR "'; " + command + " 2>&1";
    FILE* pipe = popen(full.c_str(), "r");
    char buffer[4096];
    output.clear();
    while (pipe && fgets(buffer, sizeof buffer, pipe)) {
        output += buffer;
    }
    const int status = pipe ? pclose(pipe) : -1;
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

// Pids of the processes that the scripts start.
std::set<int> ourProcesses()
{
    std::set<int> pids;
    DIR* proc = opendir("/proc");
    while (dirent* entry = proc ? readdir(proc) : nullptr) {
        const int pid = std::atoi(entry->d_name);
        std::ifstream comm("/proc/" + std::string(entry->d_name) + "/comm");
        std::string name;
        if (pid > 0 && std::getline(comm, name) && (name == "korvel" || name == "Xvfb")) {
            std::ifstream stat("/proc/" + std::string(entry->d_name) + "/stat");
            std::string line;
            std::getline(stat, line);
            if (line.find(") Z ") == std::string::npos) { // zombies have ended
                pids.insert(pid);
            }
        }
    }
    if (proc) {
        closedir(proc);
    }
    return pids;
}

std::string leftOver(const std::set<int>& before)
{
    std::string left;
    for (int pid : ourProcesses()) {
        if (!before.count(pid)) {
            left += " " + std::to_string(pid);
        }
    }
    return left;
}

int gifFrames(const std::string& path, std::string& delays)
{
    std::string output;
    run("identify -format '%T ' '" + path + "'", output);
    delays = output;
    int count = 0;
    for (size_t at = output.find("2 "); at != std::string::npos; at = output.find("2 ", at + 2)) {
        count++;
    }
    return count;
}

TEST(CaptureTool, FrameKShowsTheBallWhereTheMotionPutsItAtStepK)
{
    const std::string dir = tempDir();
    std::string output;
    ASSERT_EQ(run(root + "/scripts/capture --frames 60 --first 0 --frames-dir " + dir +
                      "/frames --png " + dir + "/shot.png --gif " + dir + "/anim.gif",
                  output),
              0)
        << output;
    for (long step = 0; step < 60; step++) {
        char name[64];
        std::snprintf(name, sizeof name, "/frames/frame-%06ld.ppm", step);
        const Image frame = Image::loadPpm(dir + name);
        ASSERT_EQ(frame.width, 300) << "no frame for step " << step;
        double px = 0, py = 0, ex = 0, ey = 0;
        ASSERT_TRUE(ballCentre(frame, px, py)) << "no ball in frame " << step;
        const Place place = placeAtStep(step);
        toPixel(place.x, place.y, frame.width, frame.height, ex, ey);
        EXPECT_NEAR(px, ex, 1.0) << "frame " << step;
        EXPECT_NEAR(py, ey, 1.0) << "frame " << step;
    }
    std::string delays;
    EXPECT_EQ(gifFrames(dir + "/anim.gif", delays), 60) << "frame delays: " << delays;
    EXPECT_NE(output.find(dir + "/shot.png"), std::string::npos) << output;
    EXPECT_NE(output.find(dir + "/anim.gif"), std::string::npos) << output;
    run("rm -rf '" + dir + "'", output);
}

TEST(CaptureTool, RejectsBadOptionsAndDescribesItsOwn)
{
    std::string output;
    EXPECT_EQ(run(root + "/scripts/capture --help", output), 0);
    for (const char* option : {"--frames", "--first", "--size", "--png", "--gif", "--frames-dir"}) {
        EXPECT_NE(output.find(option), std::string::npos) << option << " is not described";
    }
    EXPECT_EQ(run(root + "/scripts/capture --frames 0", output), 2) << output;
    EXPECT_EQ(run(root + "/scripts/capture --size big", output), 2) << output;
    EXPECT_EQ(run(root + "/scripts/capture --bogus", output), 2) << output;
}

TEST(RunScript, WithoutADisplayWritesAScreenshotAndAnAnimationAndLeavesNothingRunning)
{
    const std::set<int> before = ourProcesses();
    const std::string dir = tempDir();
    std::string output;
    ASSERT_EQ(run("env -u DISPLAY KORVEL_CAPTURE_DIR=" + dir + " " + root + "/scripts/run", output),
              0)
        << output;
    EXPECT_NE(output.find(dir + "/korvel.png"), std::string::npos) << output;
    EXPECT_NE(output.find(dir + "/korvel.gif"), std::string::npos) << output;
    std::string delays;
    EXPECT_GE(gifFrames(dir + "/korvel.gif", delays), 100) << "at least 2 s at 50 Hz: " << delays;
    std::string kind;
    run("identify -format '%m %w %h' '" + dir + "/korvel.png'", kind);
    EXPECT_EQ(kind, "PNG 300 300");
    EXPECT_EQ(leftOver(before), "");
    run("rm -rf '" + dir + "'", output);
}

TEST(CaptureTool, InterruptedLeavesNothingRunning)
{
    const std::set<int> before = ourProcesses();
    const std::string dir = tempDir();
    const pid_t script = fork();
    if (script == 0) {
        setenv("KORVEL_BUILD_DIR", KORVEL_BUILD_DIR, 1);
        const std::string capture = root + "/scripts/capture";
        const std::string gif = dir + "/never.gif";
        execl("/bin/bash", "bash", capture.c_str(), "--frames", "100000000", "--gif", gif.c_str(),
              static_cast<char*>(nullptr));
        _exit(127);
    }
    // Interrupt it once the program is running.
    bool started = waitUntil(
        [&] {
            for (int pid : ourProcesses()) {
                std::ifstream comm("/proc/" + std::to_string(pid) + "/comm");
                std::string name;
                if (!before.count(pid) && std::getline(comm, name) && name == "korvel") {
                    return true;
                }
            }
            return false;
        },
        60000);
    kill(script, SIGINT);
    int status = 0;
    waitpid(script, &status, 0);
    ASSERT_TRUE(started) << "korvel never started";
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) != 0);
    EXPECT_TRUE(waitUntil([&] { return leftOver(before).empty(); }, 2000))
        << "still running:" << leftOver(before);
    std::string output;
    run("rm -rf '" + dir + "'", output);
}

// Installing and packaging ---------------------------------------------------

const char* const installedFiles[] = {"usr/bin/korvel", "usr/share/man/man6/korvel.6.gz",
                                      "usr/share/applications/korvel.desktop",
                                      "usr/share/icons/hicolor/128x128/apps/korvel.png"};

TEST(Install, PutsTheProgramManualPageDesktopEntryAndIconInPlace)
{
    const std::string dir = tempDir();
    std::string output;
    ASSERT_EQ(run("cmake --install '" KORVEL_BUILD_DIR "' --prefix '" + dir + "/usr'", output), 0)
        << output;
    for (const char* file : installedFiles) {
        EXPECT_EQ(access((dir + "/" + file).c_str(), R_OK), 0) << file << " not installed";
    }
    EXPECT_EQ(access((dir + "/usr/bin/korvel").c_str(), X_OK), 0);
    EXPECT_EQ(
        run("desktop-file-validate '" + dir + "/usr/share/applications/korvel.desktop'", output), 0)
        << output;
    // man -l renders it with groff's warnings turned on, and none may appear.
    EXPECT_EQ(run("MANWIDTH=80 man --warnings -l '" + dir +
                      "/usr/share/man/man6/korvel.6.gz' 2>&1 >/dev/null",
                  output),
              0);
    EXPECT_EQ(output, "");
    run("rm -rf '" + dir + "'", output);
}

TEST(Package, BuildsADebianPackageWhoseUnpackedProgramRunsAndEndsWithEsc)
{
    const std::string dir = tempDir();
    std::string output;
    ASSERT_EQ(run("cd '" + dir +
                      "' && cpack --config '" KORVEL_BUILD_DIR "/CPackConfig.cmake' -G DEB -B '" +
                      dir + "'",
                  output),
              0)
        << output;
    const std::string deb = dir + "/korvel_1.0.0-1_amd64.deb";
    ASSERT_EQ(access(deb.c_str(), R_OK), 0) << output;

    std::string field;
    run("dpkg-deb -f '" + deb + "' Package Section Maintainer Depends Description", field);
    EXPECT_NE(field.find("Package: korvel"), std::string::npos) << field;
    EXPECT_NE(field.find("Section: "), std::string::npos) << field;
    EXPECT_NE(field.find("Maintainer: "), std::string::npos) << field;
    EXPECT_NE(field.find("Description: "), std::string::npos) << field;
    EXPECT_NE(field.find("libglut"), std::string::npos) << "Depends not computed: " << field;
    EXPECT_NE(field.find("libc6"), std::string::npos) << "Depends not computed: " << field;

    // Errors make lintian fail; warnings are allowed.
    EXPECT_EQ(run("lintian --fail-on error '" + deb + "'", output), 0) << output;

    const std::string unpacked = dir + "/root";
    ASSERT_EQ(run("dpkg-deb -x '" + deb + "' '" + unpacked + "'", output), 0) << output;
    for (const char* file : installedFiles) {
        EXPECT_EQ(access((unpacked + "/" + file).c_str(), R_OK), 0) << file << " not packaged";
    }

    VirtualDisplay display;
    ASSERT_TRUE(display.connection());
    Korvel::Options options;
    options.binary = unpacked + "/usr/bin/korvel";
    options.display = display.name();
    Korvel korvel(options);
    const Window window = findWindow(display.connection(), "Korvel (Original)", 10000);
    ASSERT_NE(window, 0u);
    ASSERT_TRUE(waitUntil([&] { return korvel.tap().steps > 10; }, 10000));
    pressKey(display.connection(), window, XK_Escape);
    EXPECT_EQ(korvel.waitExit(5000), 0);
    EXPECT_EQ(korvel.err(), "");
    run("rm -rf '" + dir + "'", output);
}

} // namespace
