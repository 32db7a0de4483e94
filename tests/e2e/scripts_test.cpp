// The capture tool and scripts/run without a display, run as a user runs them.
#include <gtest/gtest.h>

#include "picture_model.h"
#include "x_harness.h"

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

// Runs a shell command with the scripts pointed at this build.
int run(const std::string& command, std::string& output)
{
    return runShell("export KORVEL_BUILD_DIR='" KORVEL_BUILD_DIR "'; " + command, output);
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
    const std::string dir = makeTempDir();
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
    const std::string dir = makeTempDir();
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
    const std::string dir = makeTempDir();
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

} // namespace
