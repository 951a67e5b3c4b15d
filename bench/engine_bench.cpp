// The engine beside its plain reference (tests/engine/reference_engine.h),
// in one run:
// - efficiencies: computeCoatedSphere, per series order, at outer sizes
//   10, 1000, 10000 and 99621 (N = 28, 1081, 10174, 99998);
// - angular table: I1 and I2 per (order, angle) pair, one angle per call
//   against computeIntensities on each vector path the processor runs, for
//   N = 99998 with 1801 angles and N = 28 with 100000 angles.
// Times are CPU times of the benchmark thread.
#include <benchmark/benchmark.h>

#include <string>
#include <vector>

#include <coatedmie/engine.h>

#include "intensity_paths.h"
#include "reference_engine.h"

namespace {

using namespace coatedmie;

// A water-like shell on a weakly absorbing core of 0.8 times its size.
struct Scatterer {
    double y;
    int termCount() const {
        EfficiencyRecord e;
        return computeCoatedSphere(y, 1.33, 0.001, 0.8 * y, 1.5, 0.01, e);
    }
};

benchmark::Counter perUnit(double unitsPerIteration) {
    return benchmark::Counter(unitsPerIteration,
                              benchmark::Counter::kIsIterationInvariantRate | benchmark::Counter::kInvert);
}

void plainEfficiencies(benchmark::State& state, Scatterer s) {
    EfficiencyRecord e;
    int n = 0;
    for (auto _ : state) {
        n = reference::computeCoatedSphere(s.y, 1.33, 0.001, 0.8 * s.y, 1.5, 0.01, e);
        benchmark::DoNotOptimize(e);
    }
    state.counters["per_order"] = perUnit(n);
}

void engineEfficiencies(benchmark::State& state, Scatterer s) {
    EfficiencyRecord e;
    int n = 0;
    for (auto _ : state) {
        n = computeCoatedSphere(s.y, 1.33, 0.001, 0.8 * s.y, 1.5, 0.01, e);
        benchmark::DoNotOptimize(e);
    }
    state.counters["per_order"] = perUnit(n);
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

void plainAngularTable(benchmark::State& state, AngularCase c) {
    const int n = c.scatterer.termCount();
    const std::vector<double> theta = angleGrid(c.angleCount);
    IntensityRecord r{};
    for (auto _ : state) {
        for (double t : theta) {
            reference::computeIntensity(coefficientTables(), n, t, r);
            benchmark::DoNotOptimize(r);
        }
    }
    state.counters["per_pair"] = perUnit(static_cast<double>(n) * c.angleCount);
}

void angularTable(benchmark::State& state, AngularCase c, IntensityPath path) {
    const int n = c.scatterer.termCount();
    const std::vector<double> theta = angleGrid(c.angleCount);
    std::vector<double> I1(theta.size()), I2(theta.size());
    const CoefficientTables& t = coefficientTables();
    const CoefficientView view{n, t.aRe, t.aIm, t.bRe, t.bIm};
    for (auto _ : state) {
        computeIntensitiesOn(path, view, theta.data(), c.angleCount, I1.data(), I2.data());
        benchmark::DoNotOptimize(I1.data());
        benchmark::DoNotOptimize(I2.data());
        benchmark::ClobberMemory();
    }
    state.counters["per_pair"] = perUnit(static_cast<double>(n) * c.angleCount);
}

void registerAll() {
    for (double y : {10.0, 1000.0, 10000.0, 99621.0}) {
        const std::string size = "/y=" + std::to_string(static_cast<int>(y));
        benchmark::RegisterBenchmark(("efficiencies/plain" + size).c_str(), plainEfficiencies, Scatterer{y});
        benchmark::RegisterBenchmark(("efficiencies/engine" + size).c_str(), engineEfficiencies, Scatterer{y});
    }
    const AngularCase cases[] = {{{99621.0}, 1801}, {{10.0}, 100000}};
    for (const AngularCase& c : cases) {
        const std::string name = "angular_table/N=" + std::to_string(c.scatterer.termCount()) +
                                 "/angles=" + std::to_string(c.angleCount);
        benchmark::RegisterBenchmark((name + "/plain").c_str(), plainAngularTable, c);
        for (IntensityPath path : kIntensityPaths) {
            if (!intensityPathSupported(path)) continue;
            const std::string label = path == selectedIntensityPath() ? "/selected" : "";
            benchmark::RegisterBenchmark((name + "/" + intensityPathName(path) + label).c_str(), angularTable,
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
