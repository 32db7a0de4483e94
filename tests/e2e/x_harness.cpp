// End-to-end harness; see x_harness.h.
#include "x_harness.h"

#include <X11/Xatom.h>
#include <X11/Xutil.h>
#include <X11/extensions/XTest.h>
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/mman.h>
#include <sys/prctl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <sstream>
#include <thread>

namespace {

using Clock = std::chrono::steady_clock;

std::string readFile(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
}

void stopProcess(pid_t pid, int signal = SIGTERM)
{
    if (pid <= 0) {
        return;
    }
    ::kill(pid, signal);
    int status = 0;
    if (!waitUntil([&] { return waitpid(pid, &status, WNOHANG) == pid; }, 3000)) {
        ::kill(pid, SIGKILL);
        waitpid(pid, &status, 0);
    }
}

pid_t spawn(const std::vector<std::string>& argv, const std::vector<std::string>& env,
            const std::string& out, const std::string& err, int keepFd = -1)
{
    const pid_t pid = fork();
    if (pid != 0) {
        return pid;
    }
    // Child: its own process group, and killed if the test process dies first.
    setpgid(0, 0);
    prctl(PR_SET_PDEATHSIG, SIGKILL);
    for (const std::string& setting : env) {
        const size_t eq = setting.find('=');
        if (eq == std::string::npos) {
            unsetenv(setting.c_str());
        } else {
            setenv(setting.substr(0, eq).c_str(), setting.substr(eq + 1).c_str(), 1);
        }
    }
    const int devnull = open("/dev/null", O_RDONLY);
    dup2(devnull, 0);
    const int o = open(out.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    const int e = open(err.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    dup2(o, 1);
    dup2(e, 2);
    for (int fd = 3; fd < 1024; fd++) {
        if (fd != keepFd) {
            close(fd);
        }
    }
    std::vector<char*> args;
    for (const std::string& arg : argv) {
        args.push_back(const_cast<char*>(arg.c_str()));
    }
    args.push_back(nullptr);
    execvp(args[0], args.data());
    _exit(127);
}

bool windowTitle(Display* dpy, Window w, std::string& title)
{
    char* name = nullptr;
    if (XFetchName(dpy, w, &name) && name) {
        title = name;
        XFree(name);
        return true;
    }
    return false;
}

Window searchTree(Display* dpy, Window w, const std::string& title)
{
    std::string name;
    XWindowAttributes attributes;
    if (windowTitle(dpy, w, name) && name == title && XGetWindowAttributes(dpy, w, &attributes) &&
        attributes.map_state == IsViewable) {
        return w;
    }
    Window root = 0, parent = 0, *children = nullptr;
    unsigned int count = 0;
    Window found = 0;
    if (XQueryTree(dpy, w, &root, &parent, &children, &count)) {
        for (unsigned int i = 0; i < count && !found; i++) {
            found = searchTree(dpy, children[i], title);
        }
        XFree(children);
    }
    return found;
}

int ignoreXErrors(Display*, XErrorEvent*)
{
    return 0; // windows may vanish between listing and asking
}

} // namespace

//------------------------------------------------------------------------------
// Images
//------------------------------------------------------------------------------
Rgb Image::at(int x, int y) const
{
    const unsigned char* p = &rgb[(static_cast<size_t>(y) * width + x) * 3];
    return {p[0], p[1], p[2]};
}

void Image::savePpm(const std::string& path) const
{
    std::ofstream out(path, std::ios::binary);
    out << "P6\n" << width << " " << height << "\n255\n";
    out.write(reinterpret_cast<const char*>(rgb.data()), static_cast<std::streamsize>(rgb.size()));
}

Image Image::loadPpm(const std::string& path)
{
    Image image;
    std::ifstream in(path, std::ios::binary);
    std::string magic;
    int maxValue = 0;
    in >> magic >> image.width >> image.height >> maxValue;
    in.get();
    if (magic != "P6" || maxValue != 255) {
        return {};
    }
    image.rgb.resize(static_cast<size_t>(image.width) * image.height * 3);
    in.read(reinterpret_cast<char*>(image.rgb.data()),
            static_cast<std::streamsize>(image.rgb.size()));
    return in ? image : Image{};
}

std::string makeTempDir()
{
    char pattern[] = "/tmp/korvel-test-XXXXXX";
    return mkdtemp(pattern);
}

int runShell(const std::string& command, std::string& output)
{
    FILE* pipe = popen((command + " 2>&1").c_str(), "r");
    char buffer[4096];
    output.clear();
    while (pipe && fgets(buffer, sizeof buffer, pipe)) {
        output += buffer;
    }
    const int status = pipe ? pclose(pipe) : -1;
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

std::string artifactPath(const std::string& name)
{
    const std::string dir = E2E_ARTIFACT_DIR;
    mkdir(dir.c_str(), 0755);
    return dir + "/" + name;
}

bool waitUntil(const std::function<bool()>& done, int timeoutMs)
{
    const auto deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
    while (!done()) {
        if (Clock::now() > deadline) {
            return false;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
    return true;
}

//------------------------------------------------------------------------------
// Virtual display
//------------------------------------------------------------------------------
VirtualDisplay::VirtualDisplay(const std::string& screen)
{
    int fds[2];
    if (pipe(fds) != 0) {
        return;
    }
    // Xvfb picks a free display number itself and writes it to the pipe when ready.
    server_ = spawn({"Xvfb", "-displayfd", std::to_string(fds[1]), "-screen", "0", screen,
                     "-nolisten", "tcp", "-noreset"},
                    {}, "/dev/null", "/dev/null", fds[1]);
    close(fds[1]);
    std::string number;
    pollfd ready{fds[0], POLLIN, 0};
    char c = 0;
    while (poll(&ready, 1, 10000) > 0 && read(fds[0], &c, 1) == 1 && c != '\n') {
        number += c;
    }
    close(fds[0]);
    if (number.empty()) {
        return;
    }
    name_ = ":" + number;
    dpy_ = XOpenDisplay(name_.c_str());
    XSetErrorHandler(ignoreXErrors);
}

VirtualDisplay::~VirtualDisplay()
{
    if (wm_ > 0) {
        ::kill(-wm_, SIGTERM);
        stopProcess(wm_);
    }
    kill();
}

void VirtualDisplay::kill()
{
    if (dpy_) {
        XCloseDisplay(dpy_);
        dpy_ = nullptr;
    }
    stopProcess(server_);
    server_ = -1;
}

bool VirtualDisplay::startWindowManager()
{
    wm_ = spawn({"openbox", "--sm-disable"}, {"DISPLAY=" + name_}, "/dev/null", "/dev/null");
    const Atom check = XInternAtom(dpy_, "_NET_SUPPORTING_WM_CHECK", False);
    return waitUntil(
        [&] {
            Atom type = 0;
            int format = 0;
            unsigned long items = 0, after = 0;
            unsigned char* data = nullptr;
            const bool managed =
                XGetWindowProperty(dpy_, DefaultRootWindow(dpy_), check, 0, 1, False, XA_WINDOW,
                                   &type, &format, &items, &after, &data) == Success &&
                items == 1;
            if (data) {
                XFree(data);
            }
            return managed;
        },
        10000);
}

//------------------------------------------------------------------------------
// The program
//------------------------------------------------------------------------------
Korvel::Korvel(const Options& options) : dir_(makeTempDir())
{
    const std::string counters = dir_ + "/counters";
    const int fd = open(counters.c_str(), O_RDWR | O_CREAT, 0644);
    if (fd >= 0 && ftruncate(fd, sizeof(TapCounters)) == 0) {
        void* shared =
            mmap(nullptr, sizeof(TapCounters), PROT_READ | PROT_WRITE, MAP_SHARED, fd, 0);
        tap_ = shared == MAP_FAILED ? nullptr : static_cast<TapCounters*>(shared);
    }
    close(fd);

    std::vector<std::string> argv = {options.binary};
    argv.insert(argv.end(), options.args.begin(), options.args.end());
    std::vector<std::string> env = {
        options.display.empty() ? "DISPLAY" : "DISPLAY=" + options.display,
        std::string("LD_PRELOAD=") + FRAMETAP_LIBRARY, "KORVEL_TAP_COUNTERS=" + counters,
        "KORVEL_TAP_HOLD=" + std::to_string(options.hold)};
    if (!options.frameDir.empty()) {
        env.push_back("KORVEL_TAP_DIR=" + options.frameDir);
        env.push_back("KORVEL_TAP_FIRST=" + std::to_string(options.firstFrame));
        env.push_back("KORVEL_TAP_FRAMES=" + std::to_string(options.frames));
    }
    env.insert(env.end(), options.env.begin(), options.env.end());
    pid_ = spawn(argv, env, dir_ + "/stdout", dir_ + "/stderr");
}

Korvel::~Korvel()
{
    if (running()) {
        stopProcess(pid_, SIGKILL);
    }
    if (tap_) {
        munmap(tap_, sizeof(TapCounters));
    }
    for (const char* file : {"/counters", "/stdout", "/stderr"}) {
        unlink((dir_ + file).c_str());
    }
    rmdir(dir_.c_str());
}

void Korvel::hold(long steps)
{
    __atomic_store_n(&tap_->hold, steps, __ATOMIC_SEQ_CST);
}

bool Korvel::running()
{
    if (status_ >= 0 || pid_ <= 0) {
        return false;
    }
    int status = 0;
    if (waitpid(pid_, &status, WNOHANG) != pid_) {
        return true;
    }
    status_ = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
    return false;
}

int Korvel::waitExit(int timeoutMs)
{
    waitUntil([&] { return !running(); }, timeoutMs);
    return status_;
}

std::string Korvel::out() const
{
    return readFile(dir_ + "/stdout");
}

std::string Korvel::err() const
{
    return readFile(dir_ + "/stderr");
}

long Korvel::cpuTicks() const
{
    std::string stat = readFile("/proc/" + std::to_string(pid_) + "/stat");
    const size_t close = stat.rfind(')');
    if (close == std::string::npos) {
        return -1;
    }
    std::istringstream fields(stat.substr(close + 2));
    std::string skip;
    long user = 0, system = 0;
    for (int i = 3; i <= 13; i++) {
        fields >> skip;
    }
    fields >> user >> system;
    return user + system;
}

namespace {
long statusField(pid_t pid, const std::string& field)
{
    std::istringstream status(readFile("/proc/" + std::to_string(pid) + "/status"));
    std::string line;
    while (std::getline(status, line)) {
        if (line.rfind(field, 0) == 0) {
            return std::atol(line.c_str() + field.size());
        }
    }
    return -1;
}
} // namespace

long Korvel::residentKiB() const
{
    return statusField(pid_, "VmRSS:");
}

long Korvel::peakResidentKiB() const
{
    return statusField(pid_, "VmHWM:");
}

//------------------------------------------------------------------------------
// Windows, pictures and keys
//------------------------------------------------------------------------------
Window findWindow(Display* dpy, const std::string& title, int timeoutMs)
{
    const Window root = DefaultRootWindow(dpy);
    XSelectInput(dpy, root, SubstructureNotifyMask);
    Window found = 0;
    const auto deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
    while (!(found = searchTree(dpy, root, title)) && Clock::now() < deadline) {
        // Sleep until the server reports a change below the root, or briefly.
        pollfd events{ConnectionNumber(dpy), POLLIN, 0};
        if (!XPending(dpy)) {
            poll(&events, 1, 20);
        }
        while (XPending(dpy)) {
            XEvent event;
            XNextEvent(dpy, &event);
        }
    }
    return found;
}

Window waitForWindow(Display* dpy, const Korvel& program, int timeoutMs)
{
    const Window window = findWindow(dpy, "Korvel (Original)", timeoutMs);
    if (window == 0) {
        return 0;
    }
    // With no window manager, GLUT's default place leaves a pixel off the
    // screen: X reads back only windows wholly on it, and at 1x1 the window
    // would be wholly hidden, which rightly pauses the animation.
    XMoveWindow(dpy, window, 10, 10);
    XSync(dpy, False);
    return waitUntil([&] { return program.tap().swaps > 0; }, timeoutMs) ? window : 0;
}

void windowSize(Display* dpy, Window window, int& width, int& height)
{
    XWindowAttributes attributes{};
    XGetWindowAttributes(dpy, window, &attributes);
    width = attributes.width;
    height = attributes.height;
}

Image screenshot(Display* dpy, Window window)
{
    Image image;
    windowSize(dpy, window, image.width, image.height);
    XImage* x = XGetImage(dpy, window, 0, 0, static_cast<unsigned>(image.width),
                          static_cast<unsigned>(image.height), AllPlanes, ZPixmap);
    if (!x) {
        return {};
    }
    auto channel = [](unsigned long pixel, unsigned long mask) {
        int shift = 0;
        while (mask && !(mask & 1)) {
            mask >>= 1;
            shift++;
        }
        return static_cast<unsigned char>(((pixel >> shift) & mask) * 255 / (mask ? mask : 1));
    };
    image.rgb.reserve(static_cast<size_t>(image.width) * image.height * 3);
    for (int y = 0; y < image.height; y++) {
        for (int x0 = 0; x0 < image.width; x0++) {
            const unsigned long pixel = XGetPixel(x, x0, y);
            image.rgb.push_back(channel(pixel, x->red_mask));
            image.rgb.push_back(channel(pixel, x->green_mask));
            image.rgb.push_back(channel(pixel, x->blue_mask));
        }
    }
    XDestroyImage(x);
    return image;
}

void pressKey(Display* dpy, Window window, KeySym key)
{
    XSetInputFocus(dpy, window, RevertToPointerRoot, CurrentTime);
    const KeyCode code = XKeysymToKeycode(dpy, key);
    XTestFakeKeyEvent(dpy, code, True, CurrentTime);
    XTestFakeKeyEvent(dpy, code, False, CurrentTime);
    XSync(dpy, False);
}
