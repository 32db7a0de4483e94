// Frame rate, start-up, memory and instruction share of korvel against the
// floor program, side by side on one private Xvfb with Mesa's software renderer.
//
//   frame_bench fps [--runs N] [--seconds S] [--sizes 300,600,1200]
//   frame_bench callgrind [--frames-short N] [--frames-long N]
//   frame_bench allocs [--frames N]
//
// Each mode prints a Markdown section.
#include "x_harness.h"

#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <map>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

namespace {

using Clock = std::chrono::steady_clock;

std::map<std::string, std::string> parseOptions(int argc, char** argv)
{
    std::map<std::string, std::string> options;
    for (int i = 2; i + 1 < argc; i += 2) {
        options[argv[i]] = argv[i + 1];
    }
    return options;
}

double option(const std::map<std::string, std::string>& options, const char* name, double value)
{
    const auto found = options.find(name);
    return found == options.end() ? value : std::atof(found->second.c_str());
}

double median(std::vector<double> values)
{
    std::sort(values.begin(), values.end());
    const size_t n = values.size();
    return n == 0 ? 0 : n % 2 ? values[n / 2] : (values[n / 2 - 1] + values[n / 2]) / 2;
}

struct Run {
    double fps = 0, startupMs = 0, peakKiB = 0;
};

// Starts a program, times its first frame, then counts its swaps over `seconds`.
Run measure(const VirtualDisplay& display, const std::string& binary, int size, double seconds)
{
    Korvel::Options options;
    options.binary = binary;
    options.display = display.name();
    options.args = {"-geometry", std::to_string(size) + "x" + std::to_string(size)};
    Run run;
    const auto start = Clock::now();
    Korvel program(options);
    if (!waitUntil([&] { return program.tap().swaps > 0; }, 20000)) {
        return run;
    }
    run.startupMs = std::chrono::duration<double, std::milli>(Clock::now() - start).count();
    std::this_thread::sleep_for(std::chrono::milliseconds(300)); // warm-up
    const std::uint64_t swaps = program.tap().swaps;
    const auto from = Clock::now();
    std::this_thread::sleep_for(std::chrono::duration<double>(seconds));
    const double elapsed = std::chrono::duration<double>(Clock::now() - from).count();
    run.fps = double(program.tap().swaps - swaps) / elapsed;
    run.peakKiB = double(program.peakResidentKiB());
    return run;
}

std::string rendererOf(const VirtualDisplay& display)
{
    Korvel::Options options;
    options.display = display.name();
    Korvel program(options);
    waitUntil([&] { return program.tap().swaps > 0; }, 20000);
    return program.tap().renderer;
}

int fpsMode(const std::map<std::string, std::string>& options)
{
    const int runs = int(option(options, "--runs", 5));
    const double seconds = option(options, "--seconds", 2);
    std::vector<int> sizes;
    std::stringstream list(options.count("--sizes") ? options.at("--sizes") : "300,600,1200");
    for (std::string item; std::getline(list, item, ',');) {
        sizes.push_back(std::atoi(item.c_str()));
    }
    const int largest = *std::max_element(sizes.begin(), sizes.end());
    const std::string screen =
        std::to_string(largest + 100) + "x" + std::to_string(largest + 100) + "x24";
    VirtualDisplay display(screen);
    if (!display.connection()) {
        std::fprintf(stderr, "frame_bench: Xvfb did not start\n");
        return 1;
    }
    std::printf("Renderer: %s. %d alternating runs of %.1f s per program and size.\n\n",
                rendererOf(display).c_str(), runs, seconds);
    std::printf("| window | korvel fps | floor fps | korvel/floor: median [min, max] | "
                "first frame, ms: korvel / floor | peak RSS, MiB: korvel / floor |\n");
    std::printf("|---|---|---|---|---|---|\n");
    for (int size : sizes) {
        std::vector<double> korvelFps, floorFps, ratios, korvelStart, floorStart, korvelKiB,
            floorKiB;
        for (int r = 0; r < runs; r++) {
            // Alternate which goes first, so drift in the machine hits both alike.
            Run k, f;
            if (r % 2 == 0) {
                k = measure(display, KORVEL_BINARY, size, seconds);
                f = measure(display, FLOOR_BINARY, size, seconds);
            } else {
                f = measure(display, FLOOR_BINARY, size, seconds);
                k = measure(display, KORVEL_BINARY, size, seconds);
            }
            korvelFps.push_back(k.fps);
            floorFps.push_back(f.fps);
            ratios.push_back(f.fps > 0 ? k.fps / f.fps : 0);
            korvelStart.push_back(k.startupMs);
            floorStart.push_back(f.startupMs);
            korvelKiB.push_back(k.peakKiB);
            floorKiB.push_back(f.peakKiB);
        }
        std::printf("| %dx%d | %.0f | %.0f | %.3f [%.3f, %.3f] | %.0f / %.0f | %.1f / %.1f |\n",
                    size, size, median(korvelFps), median(floorFps), median(ratios),
                    *std::min_element(ratios.begin(), ratios.end()),
                    *std::max_element(ratios.begin(), ratios.end()), median(korvelStart),
                    median(floorStart), median(korvelKiB) / 1024, median(floorKiB) / 1024);
        std::fflush(stdout);
    }
    return 0;
}

// Instructions in korvel's own code, and in all, for a run of `frames` frames.
bool countInstructions(const VirtualDisplay& display, long frames, double& own, double& total)
{
    const std::string out =
        "/tmp/korvel-callgrind-" + std::to_string(getpid()) + "-" + std::to_string(frames);
    Korvel::Options options;
    options.binary = "valgrind";
    options.args = {"--tool=callgrind", "--callgrind-out-file=" + out, KORVEL_BINARY};
    options.display = display.name();
    // One rendering thread and no shader cache on disk, so that the count is
    // repeatable: a cached shader skips its compilation in a later run.
    options.env = {"KORVEL_TAP_EXIT_AFTER=" + std::to_string(frames), "LP_NUM_THREADS=0",
                   "MESA_SHADER_CACHE_DISABLE=true"};
    Korvel program(options);
    if (program.waitExit(600000) != 0) {
        return false;
    }
    FILE* annotate = popen(
        ("callgrind_annotate --inclusive=no --threshold=100 " + out + " 2>/dev/null").c_str(), "r");
    own = total = 0;
    char line[4096];
    const std::string ours = std::string("[") + KORVEL_BINARY + "]";
    while (annotate && fgets(line, sizeof line, annotate)) {
        std::string text(line);
        std::string digits;
        size_t i = text.find_first_not_of(' ');
        for (; i < text.size() &&
               (std::isdigit(static_cast<unsigned char>(text[i])) || text[i] == ',');
             i++) {
            if (text[i] != ',') {
                digits += text[i];
            }
        }
        if (digits.empty()) {
            continue;
        }
        if (text.find("PROGRAM TOTALS") != std::string::npos) {
            total = std::atof(digits.c_str());
        } else if (text.find(ours) != std::string::npos) {
            own += std::atof(digits.c_str());
        }
    }
    if (annotate) {
        pclose(annotate);
    }
    std::remove(out.c_str());
    return total > 0;
}

int callgrindMode(const std::map<std::string, std::string>& options)
{
    const long shortRun = long(option(options, "--frames-short", 50));
    const long longRun = long(option(options, "--frames-long", 250));
    VirtualDisplay display("400x400x24");
    double ownShort = 0, totalShort = 0, ownLong = 0, totalLong = 0;
    if (!countInstructions(display, shortRun, ownShort, totalShort) ||
        !countInstructions(display, longRun, ownLong, totalLong)) {
        std::fprintf(stderr, "frame_bench: callgrind run failed\n");
        return 1;
    }
    const double frames = double(longRun - shortRun);
    const double ownPerFrame = (ownLong - ownShort) / frames;
    const double totalPerFrame = (totalLong - totalShort) / frames;
    std::printf("Runs of %ld and %ld frames at 300x300 under callgrind; the difference is "
                "%.0f frames, so start-up cancels out.\n\n",
                shortRun, longRun, frames);
    std::printf("| instructions per frame | in korvel's own code | share |\n|---|---|---|\n");
    std::printf("| %.0f | %.0f | %.3f %% |\n", totalPerFrame, ownPerFrame,
                100 * ownPerFrame / totalPerFrame);
    std::printf("\nStart-up, in the %ld-frame run: %.0f instructions in korvel's own code.\n",
                shortRun, ownShort - ownPerFrame * double(shortRun));
    return 0;
}

int allocsMode(const std::map<std::string, std::string>& options)
{
    const long frames = long(option(options, "--frames", 2000));
    VirtualDisplay display("400x400x24");
    const std::string report = "/tmp/korvel-allocs-" + std::to_string(getpid());
    Korvel::Options run;
    run.display = display.name();
    run.env = {"LD_PRELOAD=" + std::string(ALLOC_COUNTER_LIBRARY) + " " + FRAMETAP_LIBRARY,
               "KORVEL_ALLOC_REPORT=" + report, "KORVEL_TAP_EXIT_AFTER=" + std::to_string(frames)};
    Korvel program(run);
    if (program.waitExit(120000) != 0) {
        std::fprintf(stderr, "frame_bench: the counted run failed\n");
        return 1;
    }
    std::map<std::string, long> counts;
    std::ifstream in(report);
    std::string name;
    long value = 0;
    while (in >> name >> value) {
        counts[name] = value;
    }
    std::remove(report.c_str());
    std::printf("Heap allocations over a run of %ld frames:\n\n", frames);
    std::printf("| made by korvel's own code | of them after the first frame | made in the "
                "whole process (GLUT, GL, libc) |\n|---|---|---|\n");
    std::printf("| %ld | %ld | %ld |\n", counts["own"], counts["own_after_first_frame"],
                counts["process"]);
    // Fails when the program's own code allocates at all, or the count is missing.
    return counts.count("own") && counts["own"] == 0 ? 0 : 1;
}

} // namespace

int main(int argc, char** argv)
{
    const std::string mode = argc > 1 ? argv[1] : "";
    const auto options = parseOptions(argc, argv);
    if (mode == "fps") {
        return fpsMode(options);
    }
    if (mode == "callgrind") {
        return callgrindMode(options);
    }
    if (mode == "allocs") {
        return allocsMode(options);
    }
    std::fprintf(stderr, "usage: frame_bench fps|callgrind|allocs [options]\n");
    return 2;
}
