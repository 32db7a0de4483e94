// End-to-end harness: a private Xvfb, the real korvel with the frame tap
// preloaded, X-side window lookup, screenshots and key presses.
#pragma once

#include "frametap.h"

#include <X11/Xlib.h>
#include <sys/types.h>

#include <functional>
#include <string>
#include <vector>

struct Rgb {
    int r, g, b;
    bool operator==(const Rgb& o) const
    {
        return r == o.r && g == o.g && b == o.b;
    }
};

struct Image {
    int width = 0, height = 0;
    std::vector<unsigned char> rgb; // top row first

    Rgb at(int x, int y) const;
    bool operator==(const Image& o) const
    {
        return width == o.width && height == o.height && rgb == o.rgb;
    }
    void savePpm(const std::string& path) const;
    static Image loadPpm(const std::string& path);
};

// Waits, checking `done` whenever something may have changed, for at most
// timeoutMs. Returns whether it became true.
bool waitUntil(const std::function<bool()>& done, int timeoutMs);

// A private X server on a free display number, stopped by the destructor.
class VirtualDisplay {
  public:
    explicit VirtualDisplay(const std::string& screen = "1024x768x24");
    ~VirtualDisplay();
    VirtualDisplay(const VirtualDisplay&) = delete;
    VirtualDisplay& operator=(const VirtualDisplay&) = delete;

    const std::string& name() const
    {
        return name_;
    }
    Display* connection() const
    {
        return dpy_;
    }
    // Ends the server now, as if it crashed or was shut down.
    void kill();
    // Starts a window manager from Debian's packages and waits until it manages the screen.
    bool startWindowManager();

  private:
    pid_t server_ = -1, wm_ = -1;
    std::string name_;
    Display* dpy_ = nullptr;
};

// The real korvel (or another GLUT program), with the frame tap's counters shared with the test.
class Korvel {
  public:
    struct Options {
        std::vector<std::string> args;
        std::string binary = KORVEL_BINARY; // or another GLUT program to run the same way
        std::string display;                // empty: DISPLAY unset
        long hold = -1;                     // KORVEL_TAP_HOLD
        std::string frameDir;               // KORVEL_TAP_DIR
        long firstFrame = 0, frames = 0;
        std::vector<std::string> env; // further NAME=value settings
    };
    explicit Korvel(const Options& options);
    ~Korvel();
    Korvel(const Korvel&) = delete;
    Korvel& operator=(const Korvel&) = delete;

    pid_t pid() const
    {
        return pid_;
    }
    const TapCounters& tap() const
    {
        return *tap_;
    }
    void hold(long steps);
    // Exit status (0-255), 128 + signal, or -1 if still running after timeoutMs.
    int waitExit(int timeoutMs);
    bool running();
    std::string out() const;
    std::string err() const;
    // CPU time used so far, in clock ticks.
    long cpuTicks() const;
    // Resident memory now (VmRSS) and its peak so far (VmHWM), in KiB.
    long residentKiB() const;
    long peakResidentKiB() const;

  private:
    pid_t pid_ = -1;
    int status_ = -1;
    std::string dir_;
    TapCounters* tap_ = nullptr;
};

// The viewable top-level window with this title, or 0 after timeoutMs.
Window findWindow(Display* dpy, const std::string& title, int timeoutMs);

// Waits for the program's window, puts it wholly on the screen and waits for
// its first frame. Returns the window, or 0 if none came within timeoutMs.
Window waitForWindow(Display* dpy, const Korvel& program, int timeoutMs);
Image screenshot(Display* dpy, Window window);
void pressKey(Display* dpy, Window window, KeySym key);
void windowSize(Display* dpy, Window window, int& width, int& height);

// A new empty folder under /tmp.
std::string makeTempDir();

// Runs a command with sh; returns its exit status, with stdout and stderr in `output`.
int runShell(const std::string& command, std::string& output);

// Where failing tests keep their images.
std::string artifactPath(const std::string& name);
