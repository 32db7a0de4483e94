// The cost of one motion step, against an empty idle routine called the same way.
#include "ball_motion.h"

#include <benchmark/benchmark.h>

// The step posts a redisplay; here that costs nothing, so only our code is timed.
extern "C" void glutPostRedisplay() {}

namespace {

void emptyIdle() {}

// Called through a pointer, as GLUT calls its idle routine.
void (*volatile idleRoutine)() = nullptr;

void runIdle(benchmark::State& state, void (*routine)())
{
    idleRoutine = routine;
    for (auto _ : state) {
        idleRoutine();
        benchmark::DoNotOptimize(ballX);
        benchmark::DoNotOptimize(ballY);
    }
}

void BM_EmptyIdle(benchmark::State& state)
{
    runIdle(state, emptyIdle);
}

void BM_AdvanceBall(benchmark::State& state)
{
    runIdle(state, advanceBall);
}

} // namespace

BENCHMARK(BM_EmptyIdle);
BENCHMARK(BM_AdvanceBall);
BENCHMARK_MAIN();
