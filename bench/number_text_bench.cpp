// Cost per conversion of the two number forms, side by side with the C
// library's snprintf on the same values.
#include "number_text.h"

#include <benchmark/benchmark.h>

#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <random>
#include <vector>

namespace {

constexpr std::size_t kValueCount = 4096;  // a power of two, cycled through

// Angles of tabulated grids: 0..180 in steps of 0.1 and of 1/7 degree.
std::vector<double> angles() {
    std::vector<double> values;
    const double tenth = (180.0 - 0.0) / (1801 - 1);
    const double seventh = (180.0 - 0.0) / (1261 - 1);
    for (int i = 1; values.size() < kValueCount; ++i) {
        values.push_back((i % 1801) * tenth + 0.0);
        values.push_back((i % 1261) * seventh + 0.0);
    }
    values.resize(kValueCount);
    return values;
}

// Scattered intensities from 1e-30 to 1e12, spread evenly over the decades.
std::vector<double> intensities() {
    std::mt19937_64 generator(1);
    std::uniform_real_distribution<double> decades(-30.0, 12.0);
    std::vector<double> values;
    for (std::size_t i = 0; i < kValueCount; ++i) values.push_back(std::pow(10.0, decades(generator)));
    return values;
}

// Efficiencies: extinction, scattering and absorption, 0 to about 4.
std::vector<double> efficiencies() {
    std::mt19937_64 generator(2);
    std::uniform_real_distribution<double> efficiency(0.0, 4.0);
    std::vector<double> values;
    for (std::size_t i = 0; i < kValueCount; ++i) values.push_back(efficiency(generator));
    return values;
}

// Doubles of every magnitude: random bit patterns, finite, both signs.
std::vector<double> everyMagnitude() {
    std::mt19937_64 generator(3);
    std::vector<double> values;
    while (values.size() < kValueCount) {
        const std::uint64_t bits = generator();
        double value;
        std::memcpy(&value, &bits, sizeof value);
        if (std::isfinite(value)) values.push_back(value);
    }
    return values;
}

template <std::size_t (*Format)(double, char*)>
void ownForm(benchmark::State& state, std::vector<double> (*mix)()) {
    const std::vector<double> values = mix();
    char buffer[coatedmie::kMaxNumberText];
    std::size_t i = 0;
    for (auto _ : state) {
        benchmark::DoNotOptimize(Format(values[i++ % kValueCount], buffer));
        benchmark::ClobberMemory();
    }
}

void libraryForm(benchmark::State& state, std::vector<double> (*mix)(), const char* pattern) {
    const std::vector<double> values = mix();
    char buffer[400];
    std::size_t i = 0;
    for (auto _ : state) {
        benchmark::DoNotOptimize(std::snprintf(buffer, sizeof buffer, pattern, values[i++ % kValueCount]));
        benchmark::ClobberMemory();
    }
}

void fixedAngles(benchmark::State& state) { ownForm<coatedmie::formatFixed>(state, angles); }
void snprintfFixedAngles(benchmark::State& state) { libraryForm(state, angles, "%f"); }
void fixedEfficiencies(benchmark::State& state) { ownForm<coatedmie::formatFixed>(state, efficiencies); }
void snprintfFixedEfficiencies(benchmark::State& state) { libraryForm(state, efficiencies, "%f"); }
void exponentIntensities(benchmark::State& state) { ownForm<coatedmie::formatExponent>(state, intensities); }
void snprintfExponentIntensities(benchmark::State& state) { libraryForm(state, intensities, "%e"); }
void exponentEveryMagnitude(benchmark::State& state) {
    ownForm<coatedmie::formatExponent>(state, everyMagnitude);
}
void snprintfExponentEveryMagnitude(benchmark::State& state) { libraryForm(state, everyMagnitude, "%e"); }

BENCHMARK(fixedAngles);
BENCHMARK(snprintfFixedAngles);
BENCHMARK(fixedEfficiencies);
BENCHMARK(snprintfFixedEfficiencies);
BENCHMARK(exponentIntensities);
BENCHMARK(snprintfExponentIntensities);
BENCHMARK(exponentEveryMagnitude);
BENCHMARK(snprintfExponentEveryMagnitude);

}  // namespace
