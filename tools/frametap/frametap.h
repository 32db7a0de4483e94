// The frame tap: a library preloaded into the unchanged korvel (LD_PRELOAD)
// that counts motion steps and buffer swaps, can hold the animation at a given
// step, and can save the frame that first shows each step of a range.
//
// It reads its settings from the environment:
//   KORVEL_TAP_COUNTERS  file that the tap maps and keeps TapCounters in;
//                        the file is created if missing
//   KORVEL_TAP_HOLD      stop stepping once this many steps are done
//   KORVEL_TAP_DIR       folder for saved frames, as frame-NNNNNN.ppm
//   KORVEL_TAP_FIRST     first step to save (0 is the frame before any step)
//   KORVEL_TAP_FRAMES    how many consecutive steps to save
//   KORVEL_TAP_EXIT_AFTER  end the process (status 0) after this many swaps
//   KORVEL_TAP_KEEP_LIBRARIES  make dlclose do nothing, so that a leak report
//                        at exit can still name the library that leaked
#pragma once

#include <cstdint>

struct TapCounters {
    std::uint64_t swaps;        // buffer swaps so far
    std::uint64_t steps;        // motion steps (idle calls that reached the program) so far
    std::uint64_t stepShown;    // steps done when the last frame was swapped
    std::int64_t hold;          // stepping stops at this many steps; negative: never
    std::int32_t width, height; // the window at the last swap
    std::int32_t redBits, greenBits, blueBits; // the context's colour buffer
    std::int32_t alphaBits, depthBits, stencilBits, doubleBuffered;
    char renderer[96]; // GL_RENDERER of the program's context
};
