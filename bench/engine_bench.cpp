// The engine beside plain implementations, in one run:
// - efficiencies per series order at outer sizes 10, 1000, 10000 and 99621
//   (N = 28, 1081, 10174, 99998): a water-like shell (1.33 + 0.001i) on a
//   core of 0.8 times its size (1.5 + 0.1i); the plain implementation of
//   plain_engine.h, an Engine on each vector path the processor runs, and the
//   values with their derivatives with respect to both layers' parameters;
// - Legendre moments of the phase function at y = 1000 and 10000 (the same
//   particle), all 2N + 1 and the first 64, with the rule already in the
//   Engine and, for all moments, computed afresh;
// - angular table: I1 and I2 per (order, angle) pair, the plain
//   implementation one angle per call against the angular kernel of each
//   vector path the processor runs, for N = 99998 with 1801 angles and N = 28
//   with 100000 angles.
// - safeguards: a particle for each safeguard the engine takes where the
//   literal series loses its digits, beside a neighbour the literal series
//   serves (the safeguard's cost is the ratio of the two).
// Times are CPU times of the benchmark thread.
#include <benchmark/benchmark.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include <coatedmie/engine.h>

#include "kernels.h"
#include "plain_engine.h"
#include "tables.h"

namespace {

using namespace coatedmie;

struct Scatterer {
    double y;
    double shellRe = 1.33, shellIm = 0.001, coreFraction = 0.8, coreRe = 1.5, coreIm = 0.1;
    Layer shell() const { return {y, {shellRe, shellIm}}; }
    Layer core() const { return {coreFraction * y, {coreRe, coreIm}}; }
};

std::vector<VectorPath> supportedPaths() {
    std::vector<VectorPath> paths;
    for (VectorPath path : {VectorPath::portable, VectorPath::avx2, VectorPath::avx512}) {
        if (vectorPathSupported(path)) paths.push_back(path);
    }
    return paths;
}

benchmark::Counter perUnit(double unitsPerIteration) {
    return benchmark::Counter(unitsPerIteration,
                              benchmark::Counter::kIsIterationInvariantRate | benchmark::Counter::kInvert);
}

void plainEfficiencies(benchmark::State& state, Scatterer s) {
    plain::Efficiencies e;
    int n = 0;
    for (auto _ : state) {
        n = plain::efficiencies(s.y, s.shellRe, s.shellIm, s.coreFraction * s.y, s.coreRe, s.coreIm, e);
        benchmark::DoNotOptimize(e);
    }
    state.counters["per_order"] = perUnit(n);
}

void engineEfficiencies(benchmark::State& state, Scatterer s, VectorPath path) {
    const VectorPath before = vectorPath();
    setVectorPath(path);
    Engine engine;
    int n = 0;
    for (auto _ : state) {
        n = engine.compute(s.shell(), s.core());
        benchmark::DoNotOptimize(engine.efficiencies());
    }
    setVectorPath(before);
    state.counters["per_order"] = perUnit(n);
}

// The values with the derivatives with respect to both layers' parameters;
// beside efficiencies/engine on the path in use.
void engineDerivatives(benchmark::State& state, Scatterer s) {
    Engine engine;
    Derivatives d;
    int n = 0;
    for (auto _ : state) {
        n = engine.compute(s.shell(), s.core(), d);
        benchmark::DoNotOptimize(d);
    }
    state.counters["per_order"] = perUnit(n);
}

void legendreMoments(benchmark::State& state, Scatterer s, int count, bool freshRule) {
    Engine engine;
    const int n = engine.compute(s.shell(), s.core());
    const int moments = count > 0 ? count : 2 * n + 1;
    std::vector<double> chi(moments);
    for (auto _ : state) {
        if (freshRule) {
            state.PauseTiming();
            engine = Engine();
            engine.compute(s.shell(), s.core());
            state.ResumeTiming();
        }
        engine.legendreMoments(moments, chi.data());
        benchmark::DoNotOptimize(chi.data());
    }
    state.counters["N"] = n;
}

struct Layers {
    Layer first, second;
};

void safeguarded(benchmark::State& state, Layers l, unsigned expected) {
    Engine engine;
    int n = engine.compute(l.first, l.second);
    if (engine.safeguards() != expected) {
        std::fprintf(stderr, "safeguards %u where %u was expected\n", engine.safeguards(), expected);
        std::exit(1);
    }
    for (auto _ : state) {
        n = engine.compute(l.first, l.second);
        benchmark::DoNotOptimize(engine.efficiencies());
    }
    state.counters["per_order"] = perUnit(n);
}

// The timings compare like with like only if both give the same bits.
void checkSameBits(Scatterer s) {
    plain::Efficiencies p;
    Engine engine;
    const int n = plain::efficiencies(s.y, s.shellRe, s.shellIm, s.coreFraction * s.y, s.coreRe, s.coreIm, p);
    const int m = engine.compute(s.shell(), s.core());
    const EfficiencyRecord& e = engine.efficiencies();
    if (n != m || std::memcmp(&p.Kext, &e.Kext, sizeof(double)) != 0 ||
        std::memcmp(&p.Ksca, &e.Ksca, sizeof(double)) != 0 || std::memcmp(&p.Kabs, &e.Kabs, sizeof(double)) != 0) {
        std::fprintf(stderr, "plain implementation and engine differ at y = %g\n", s.y);
        std::exit(1);
    }
}

// The grid of the program: angle i = (i - 1) * step + 0 degrees up to 180,
// in radians.
std::vector<double> angleGrid(int count) {
    const double pi = 3.141592653589793;
    const double step = (180.0 - 0.0) / (count - 1);
    std::vector<double> theta;
    for (int i = 1; i <= count; ++i) theta.push_back(((i - 1) * step + 0.0) * (pi / 180));
    return theta;
}

struct AngularCase {
    Scatterer scatterer;
    int angleCount;
};

void oneAngleAtATime(benchmark::State& state, AngularCase c) {
    const Scatterer& s = c.scatterer;
    plain::Efficiencies e;
    const int n = plain::efficiencies(s.y, s.shellRe, s.shellIm, s.coreFraction * s.y, s.coreRe, s.coreIm, e);
    const std::vector<double> theta = angleGrid(c.angleCount);
    double I1, I2;
    for (auto _ : state) {
        for (double t : theta) {
            plain::intensity(n, t, I1, I2);
            benchmark::DoNotOptimize(I1);
            benchmark::DoNotOptimize(I2);
        }
    }
    state.counters["per_pair"] = perUnit(static_cast<double>(n) * c.angleCount);
}

void angularTable(benchmark::State& state, AngularCase c, VectorPath path) {
    Engine engine;
    const int n = engine.compute(c.scatterer.shell(), c.scatterer.core());
    const std::vector<double> theta = angleGrid(c.angleCount);
    std::vector<double> I1(theta.size()), I2(theta.size());
    const CoefficientView view = engine.coefficients();
    const AngularKernel angular = kernelsFor(path).angular;
    for (auto _ : state) {
        angular(view, {theta.data(), nullptr}, c.angleCount,
                {AngularOutput::intensities, {I1.data(), I2.data()}, false, 0.0});
        benchmark::DoNotOptimize(I1.data());
        benchmark::DoNotOptimize(I2.data());
        benchmark::ClobberMemory();
    }
    state.counters["per_pair"] = perUnit(static_cast<double>(n) * c.angleCount);
}

void registerAll() {
    for (double y : {10.0, 1000.0, 10000.0, 99621.0}) {
        checkSameBits({y});
        const std::string size = "/y=" + std::to_string(static_cast<int>(y));
        benchmark::RegisterBenchmark(("efficiencies/plain" + size).c_str(), plainEfficiencies, Scatterer{y});
        for (VectorPath path : supportedPaths()) {
            benchmark::RegisterBenchmark(("efficiencies/engine/" + std::string(vectorPathName(path)) + size).c_str(),
                                         engineEfficiencies, Scatterer{y}, path);
        }
        benchmark::RegisterBenchmark(("efficiencies/with_derivatives" + size).c_str(), engineDerivatives,
                                     Scatterer{y});
    }
    const double kPi = 3.141592653589793;
    const struct {
        const char* name;
        Layers guarded, literal;
        unsigned safeguard;
    } guards[] = {
        // A lossless shell with m2 y = 1000 pi on a soot core.
        {"start_from_tables", {2000 * kPi / 3, 1.5, 0, 1000 * kPi / 3, 1.75, 0.44},
         {2000 * kPi / 3 * 1.0001, 1.5, 0, 1000 * kPi / 3 * 1.0001, 1.75, 0.44}, kStartFromTables},
        // Lossless layers whose rounding residue would show as absorption.
        {"lossless_circle", {20000, 1.33, 0, 12000, 1.5, 0}, {20000, 1.33, 0, 12000, 1.5, 1e-12},
         kLosslessRealParts},
        // y on the second zero of psi_2 over 1.5, where k/z + D_k is exactly 0.
        {"zero_avoided", {9.095011330476355 / 1.5, 1.5, 0, 9.095011330476355 / 3, 1.75, 0.44},
         {9.095011330476355 / 1.5 * 1.001, 1.5, 0, 9.095011330476355 / 3, 1.75, 0.44}, kZeroAvoided},
        // A vacuum shell of y = 100 around a core of x = 0.01: the core alone, a small particle.
        {"bare_core", {100, 1, 0, 0.01, 1.5, 0.1}, {100, 1.0000000000000002, 0, 0.01, 1.5, 0.1},
         kBareCore | kSmallParticleForm},
        // y 1e-9 off the first zero of psi_2: psi_2/psi_1 from the table.
        {"ratio_from_tables", {5.76345919689455 * (1 + 1e-9), 1.33, 1e-9, 2.88, 1.5, 0},
         {5.76345919689455 * 1.001, 1.33, 1e-9, 2.88, 1.5, 0}, kStartFromTables},
        // Just below y = 0.1 the small-particle form, at 0.1 the literal series (six terms both).
        {"small_particle_form", {0.0999, 1.5, 0.01, 0.06, 2.0, 0.5}, {0.1, 1.5, 0.01, 0.06, 2.0, 0.5},
         kSmallParticleForm},
    };
    for (const auto& g : guards) {
        benchmark::RegisterBenchmark((std::string("safeguards/") + g.name + "/guarded").c_str(), safeguarded,
                                     g.guarded, g.safeguard);
        benchmark::RegisterBenchmark((std::string("safeguards/") + g.name + "/literal_neighbour").c_str(),
                                     safeguarded, g.literal, 0u);
    }
    for (double y : {1000.0, 10000.0}) {
        const std::string size = "/y=" + std::to_string(static_cast<int>(y));
        benchmark::RegisterBenchmark(("legendre_moments" + size + "/all/fresh_rule").c_str(), legendreMoments,
                                     Scatterer{y}, 0, true)
            ->Unit(benchmark::kMillisecond);
        benchmark::RegisterBenchmark(("legendre_moments" + size + "/all").c_str(), legendreMoments, Scatterer{y}, 0,
                                     false)
            ->Unit(benchmark::kMillisecond);
        benchmark::RegisterBenchmark(("legendre_moments" + size + "/first_64").c_str(), legendreMoments,
                                     Scatterer{y}, 64, false)
            ->Unit(benchmark::kMillisecond);
    }
    const AngularCase cases[] = {{{99621.0}, 1801}, {{10.0}, 100000}};
    for (const AngularCase& c : cases) {
        const std::string name = "angular_table/N=" + std::to_string(termCountFor(c.scatterer.y)) +
                                 "/angles=" + std::to_string(c.angleCount);
        benchmark::RegisterBenchmark((name + "/one_angle_per_call").c_str(), oneAngleAtATime, c);
        for (VectorPath path : supportedPaths()) {
            const std::string label = path == vectorPath() ? "/selected" : "";
            benchmark::RegisterBenchmark((name + "/" + vectorPathName(path) + label).c_str(), angularTable,
                                         c, path);
        }
    }
}

}  // namespace

int main(int argc, char** argv) {
    registerAll();
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
