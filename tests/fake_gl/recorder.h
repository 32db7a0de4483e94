// Link-time stand-in for libGL and libglut: every entry point the program may
// call appends one record here instead of drawing.
#pragma once

#include <string>
#include <vector>

struct GlCall {
    std::string name;
    std::vector<double> args;      // numeric arguments, widened exactly
    std::string text;              // string argument (window title)
    void (*callback)() = nullptr;  // registered callback, cast to one type
    const void* pointer = nullptr; // pointer argument (glutInit's argv)
};

// Every call since the last clearCalls(), in order.
const std::vector<GlCall>& recordedCalls();
void clearCalls();

// Names only, in order: the quickest way to compare a sequence.
std::vector<std::string> recordedNames();

// Id that the fake glGenLists hands out.
constexpr unsigned int fakeListId = 7;

template <typename F> void (*asCallback(F* fn))()
{
    return reinterpret_cast<void (*)()>(fn);
}
