// Preloaded into a program, counts the heap allocations that the program's
// own executable makes (calls to malloc, calloc, realloc, aligned allocation
// and operator new whose caller lies in the executable's code), in all and
// after its first buffer swap, and writes them to $KORVEL_ALLOC_REPORT at exit.
#include <GL/glut.h>
#include <dlfcn.h>
#include <link.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <new>

extern "C" {
void* __libc_malloc(size_t);
void* __libc_calloc(size_t, size_t);
void* __libc_realloc(void*, size_t);
void* __libc_memalign(size_t, size_t);
}

namespace {

std::uintptr_t codeStart = 0, codeEnd = 0;
unsigned long ownAll = 0, ownAfterFirstFrame = 0, everyAllocation = 0;
bool firstFrameShown = false;

void count(const void* caller)
{
    everyAllocation++;
    const auto at = reinterpret_cast<std::uintptr_t>(caller);
    if (at >= codeStart && at < codeEnd) {
        ownAll++;
        ownAfterFirstFrame += firstFrameShown;
    }
}

// The first object that dl_iterate_phdr reports is the executable itself.
int findExecutable(dl_phdr_info* info, size_t, void*)
{
    for (int i = 0; i < info->dlpi_phnum; i++) {
        const ElfW(Phdr)& segment = info->dlpi_phdr[i];
        if (segment.p_type == PT_LOAD && (segment.p_flags & PF_X)) {
            codeStart = info->dlpi_addr + segment.p_vaddr;
            codeEnd = codeStart + segment.p_memsz;
        }
    }
    return 1;
}

void report()
{
    const char* path = std::getenv("KORVEL_ALLOC_REPORT");
    if (FILE* out = path ? std::fopen(path, "w") : nullptr) {
        std::fprintf(out, "own %lu\nown_after_first_frame %lu\nprocess %lu\n", ownAll,
                     ownAfterFirstFrame, everyAllocation);
        std::fclose(out);
    }
}

const bool started = [] {
    dl_iterate_phdr(findExecutable, nullptr);
    std::atexit(report);
    return true;
}();

} // namespace

extern "C" {

void* malloc(size_t size)
{
    count(__builtin_return_address(0));
    return __libc_malloc(size);
}

void* calloc(size_t n, size_t size)
{
    count(__builtin_return_address(0));
    return __libc_calloc(n, size);
}

void* realloc(void* p, size_t size)
{
    count(__builtin_return_address(0));
    return __libc_realloc(p, size);
}

void* memalign(size_t alignment, size_t size)
{
    count(__builtin_return_address(0));
    return __libc_memalign(alignment, size);
}

int posix_memalign(void** out, size_t alignment, size_t size)
{
    count(__builtin_return_address(0));
    *out = __libc_memalign(alignment, size);
    return *out ? 0 : 12; // ENOMEM
}

void* aligned_alloc(size_t alignment, size_t size)
{
    count(__builtin_return_address(0));
    return __libc_memalign(alignment, size);
}

void glutSwapBuffers()
{
    static auto real = reinterpret_cast<void (*)()>(dlsym(RTLD_NEXT, "glutSwapBuffers"));
    real();
    firstFrameShown = true;
}

} // extern "C"

void* operator new(size_t size)
{
    count(__builtin_return_address(0));
    if (void* p = __libc_malloc(size ? size : 1)) {
        return p;
    }
    throw std::bad_alloc();
}

void* operator new[](size_t size)
{
    count(__builtin_return_address(0));
    if (void* p = __libc_malloc(size ? size : 1)) {
        return p;
    }
    throw std::bad_alloc();
}
