// The frame tap; see frametap.h. It wraps the idle routine that the program
// installs and glutSwapBuffers, and leaves everything else to GLUT and GL.
#include "frametap.h"

#include <GL/glut.h>
#include <dlfcn.h>
#include <fcntl.h>
#include <sys/mman.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

namespace {

TapCounters fallback{};
TapCounters* counters = &fallback;
void (*programIdle)() = nullptr;
std::string frameDir;
std::uint64_t firstFrame = 0, frameCount = 0;
long exitAfter = -1;
bool keepLibraries = false;
std::vector<unsigned char> pixels;
bool nextStepSaved = false; // whether the frame for counters->steps is on disk

long envNumber(const char* name, long otherwise)
{
    const char* text = std::getenv(name);
    return text && *text ? std::strtol(text, nullptr, 10) : otherwise;
}

void startTap()
{
    if (const char* path = std::getenv("KORVEL_TAP_COUNTERS")) {
        const int fd = open(path, O_RDWR | O_CREAT, 0644);
        if (fd >= 0 && ftruncate(fd, sizeof(TapCounters)) == 0) {
            void* shared =
                mmap(nullptr, sizeof(TapCounters), PROT_READ | PROT_WRITE, MAP_SHARED, fd, 0);
            if (shared != MAP_FAILED) {
                counters = static_cast<TapCounters*>(shared);
            }
        }
        if (fd >= 0) {
            close(fd);
        }
    }
    *counters = TapCounters{};
    counters->hold = envNumber("KORVEL_TAP_HOLD", -1);
    exitAfter = envNumber("KORVEL_TAP_EXIT_AFTER", -1);
    keepLibraries = envNumber("KORVEL_TAP_KEEP_LIBRARIES", 0) != 0;
    if (const char* dir = std::getenv("KORVEL_TAP_DIR")) {
        frameDir = dir;
        firstFrame = static_cast<std::uint64_t>(envNumber("KORVEL_TAP_FIRST", 0));
        frameCount = static_cast<std::uint64_t>(envNumber("KORVEL_TAP_FRAMES", 1));
    }
}

// Runs when the library is loaded, after the globals above are constructed.
const bool started = (startTap(), true);

void tappedIdle()
{
    const std::int64_t hold = __atomic_load_n(&counters->hold, __ATOMIC_SEQ_CST);
    if (hold >= 0 && counters->steps >= static_cast<std::uint64_t>(hold)) {
        usleep(2000); // held: no step and no redisplay, without spinning hard
        return;
    }
    counters->steps++;
    nextStepSaved = false;
    programIdle();
}

void noteContext()
{
    GLint value = 0;
    const GLenum names[] = {GL_RED_BITS,   GL_GREEN_BITS,   GL_BLUE_BITS,   GL_ALPHA_BITS,
                            GL_DEPTH_BITS, GL_STENCIL_BITS, GL_DOUBLEBUFFER};
    std::int32_t* fields[] = {&counters->redBits,       &counters->greenBits,
                              &counters->blueBits,      &counters->alphaBits,
                              &counters->depthBits,     &counters->stencilBits,
                              &counters->doubleBuffered};
    for (int i = 0; i < 7; i++) {
        glGetIntegerv(names[i], &value);
        *fields[i] = value;
    }
    if (const GLubyte* name = glGetString(GL_RENDERER)) {
        std::snprintf(counters->renderer, sizeof counters->renderer, "%s",
                      reinterpret_cast<const char*>(name));
    }
}

// Writes the back buffer, the frame about to be shown, as a binary PPM.
void saveFrame(std::uint64_t step, int width, int height)
{
    pixels.resize(static_cast<size_t>(width) * height * 3);
    glPixelStorei(GL_PACK_ALIGNMENT, 1);
    glReadBuffer(GL_BACK);
    glReadPixels(0, 0, width, height, GL_RGB, GL_UNSIGNED_BYTE, pixels.data());
    char name[64];
    std::snprintf(name, sizeof name, "/frame-%06llu.ppm", static_cast<unsigned long long>(step));
    const std::string path = frameDir + name, partial = path + ".part";
    if (FILE* out = std::fopen(partial.c_str(), "wb")) {
        std::fprintf(out, "P6\n%d %d\n255\n", width, height);
        for (int row = height - 1; row >= 0; row--) {
            std::fwrite(pixels.data() + static_cast<size_t>(row) * width * 3, 1,
                        static_cast<size_t>(width) * 3, out);
        }
        std::fclose(out);
        std::rename(partial.c_str(), path.c_str());
    }
}

} // namespace

extern "C" {

int dlclose(void* handle)
{
    static auto real = reinterpret_cast<int (*)(void*)>(dlsym(RTLD_NEXT, "dlclose"));
    return keepLibraries ? 0 : real(handle);
}

void glutIdleFunc(void (*fn)())
{
    static auto real = reinterpret_cast<void (*)(void (*)())>(dlsym(RTLD_NEXT, "glutIdleFunc"));
    programIdle = fn;
    real(fn ? tappedIdle : nullptr);
}

void glutSwapBuffers()
{
    static auto real = reinterpret_cast<void (*)()>(dlsym(RTLD_NEXT, "glutSwapBuffers"));
    // The program sets the viewport to the whole window on every reshape.
    GLint viewport[4] = {0, 0, 0, 0};
    glGetIntegerv(GL_VIEWPORT, viewport);
    const int width = viewport[2], height = viewport[3];
    if (counters->swaps == 0) {
        noteContext();
    }
    const std::uint64_t step = counters->steps;
    if (!frameDir.empty() && !nextStepSaved && step >= firstFrame &&
        step < firstFrame + frameCount && width > 0 && height > 0) {
        saveFrame(step, width, height);
    }
    nextStepSaved = true;
    real();
    counters->width = width;
    counters->height = height;
    counters->stepShown = step;
    __atomic_add_fetch(&counters->swaps, 1, __ATOMIC_SEQ_CST);
    if (exitAfter >= 0 && counters->swaps >= static_cast<std::uint64_t>(exitAfter)) {
        std::exit(0);
    }
}

} // extern "C"
