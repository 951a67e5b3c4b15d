// The reentrant engine: its storage, and the steps of a computation on it,
// each on the kernels of the vector path in use.
#include <coatedmie/engine.h>

#include <cmath>
#include <new>
#include <utility>

#include "kernels.h"
#include "tables.h"

namespace coatedmie {

namespace {

// Each array of an Engine starts on a 64-byte boundary and holds whole
// groups of 8 entries.
constexpr int kEntryGroup = 8;
constexpr std::align_val_t kStorageAlignment{64};

int entriesFor(int termCount) {
    const int entries = termCount + 2;
    return (entries + kEntryGroup - 1) / kEntryGroup * kEntryGroup;
}

double* allocateDoubles(std::size_t count) {
    return static_cast<double*>(::operator new(sizeof(double) * count, kStorageAlignment, std::nothrow));
}

double* allocateStorage(int entries) {
    return allocateDoubles(kArraysPerComputation * static_cast<std::size_t>(entries));
}

void releaseStorage(double* storage) {
    if (storage != nullptr) ::operator delete(storage, kStorageAlignment);
}

SeriesValues seriesValuesIn(double* storage, int entries) {
    double* p[kSeriesValueArrays];
    for (int k = 0; k < kSeriesValueArrays; ++k) p[k] = storage == nullptr ? nullptr : arrayIn(storage, entries, k);
    return {p[0], p[1], p[2], p[3], p[4], p[5], p[6], p[7], p[8], p[9], p[10], p[11], p[12], p[13], p[14], p[15], p[16]};
}

}  // namespace

Engine::~Engine() {
    releaseStorage(storage_);
    releaseStorage(quadrature_);
    releaseStorage(seriesValues_);
}

Engine::Engine(Engine&& other) noexcept
    : storage_(std::exchange(other.storage_, nullptr)),
      capacity_(std::exchange(other.capacity_, 0)),
      termCount_(std::exchange(other.termCount_, 0)),
      signConvention_(std::exchange(other.signConvention_, +1)),
      safeguards_(std::exchange(other.safeguards_, 0u)),
      efficiencies_(std::exchange(other.efficiencies_, {0.0, 0.0, 0.0})),
      normSquare_(std::exchange(other.normSquare_, 0.0)),
      quadrature_(std::exchange(other.quadrature_, nullptr)),
      quadratureCapacity_(std::exchange(other.quadratureCapacity_, 0)),
      quadratureNodes_(std::exchange(other.quadratureNodes_, 0)),
      seriesValues_(std::exchange(other.seriesValues_, nullptr)),
      seriesValuesCapacity_(std::exchange(other.seriesValuesCapacity_, 0)) {}

Engine& Engine::operator=(Engine&& other) noexcept {
    if (this != &other) {
        releaseStorage(storage_);
        releaseStorage(quadrature_);
        releaseStorage(seriesValues_);
        storage_ = std::exchange(other.storage_, nullptr);
        capacity_ = std::exchange(other.capacity_, 0);
        termCount_ = std::exchange(other.termCount_, 0);
        signConvention_ = std::exchange(other.signConvention_, +1);
        safeguards_ = std::exchange(other.safeguards_, 0u);
        efficiencies_ = std::exchange(other.efficiencies_, {0.0, 0.0, 0.0});
        normSquare_ = std::exchange(other.normSquare_, 0.0);
        quadrature_ = std::exchange(other.quadrature_, nullptr);
        quadratureCapacity_ = std::exchange(other.quadratureCapacity_, 0);
        quadratureNodes_ = std::exchange(other.quadratureNodes_, 0);
        seriesValues_ = std::exchange(other.seriesValues_, nullptr);
        seriesValuesCapacity_ = std::exchange(other.seriesValuesCapacity_, 0);
    }
    return *this;
}

int Engine::compute(const Layer& first, const Layer& second) { return computeSeries(first, second, false); }

int Engine::compute(const Layer& first, const Layer& second, Derivatives& derivatives) {
    const int termCount = computeSeries(first, second, true);
    if (termCount == 0) return 0;
    const Scatterer s = normalise(first, second);
    const SeriesValues v = seriesValuesIn(seriesValues_, entriesFor(seriesValuesCapacity_));
    ScattererDerivatives d;
    if ((safeguards_ & kBareCore) == 0) {
        const bool normBySize = !(s.m2Re == 1.0 && s.m2Im == 0.0);
        computeDerivatives(s, coefficients(), v, normSquare_, normBySize, efficiencies_, d);
    } else {
        // The core computed as the sphere it is, whose index and size are
        // the shell's and the core's alike.
        const Scatterer core{s.x, s.x, s.m1Re, s.m1Im, s.m1Re, s.m1Im, s.signConvention};
        ScattererDerivatives c;
        CoefficientView coreCoefficients = coefficients();
        coreCoefficients.termCount = termCountFor(s.x);  // the orders above are 0
        computeDerivatives(core, coreCoefficients, v, normSquare_, true, efficiencies_, c);
        const auto add = [](const DerivativeRecord& u, const DerivativeRecord& w) {
            return DerivativeRecord{u.Kext + w.Kext, u.Ksca + w.Ksca, u.Kabs + w.Kabs, u.Kback + w.Kback,
                                    u.Kpr + w.Kpr,   u.g + w.g,       u.albedo + w.albedo};
        };
        const double nan = std::nan("");
        d = {add(c.m1Re, c.m2Re), add(c.m1Im, c.m2Im), add(c.x, c.y),
             {nan, nan, nan, nan, nan, nan, nan}, {nan, nan, nan, nan, nan, nan, nan}, {}};
    }
    // The imaginary parts carry the sign convention; the absorption k is
    // their magnitude.
    const double sign = static_cast<double>(s.signConvention);
    for (DerivativeRecord* r : {&d.m1Im, &d.m2Im}) {
        *r = {sign * r->Kext, sign * r->Ksca, sign * r->Kabs, sign * r->Kback, sign * r->Kpr, sign * r->g,
              sign * r->albedo};
    }
    const LayerDerivatives shell{d.m2Re, d.m2Im, d.y}, core{d.m1Re, d.m1Im, d.x};
    const bool swapped = first.size < second.size;
    derivatives = swapped ? Derivatives{core, shell} : Derivatives{shell, core};
    return termCount;
}

int Engine::computeSeries(const Layer& first, const Layer& second, bool keepSeriesValues) {
    const Scatterer s = normalise(first, second);
    const int termCount = termCountFor(s.y);
    if (termCount == 0) return 0;
    const Kernels& k = kernels();
    if (keepSeriesValues && termCount > seriesValuesCapacity_) {
        const int entries = entriesFor(termCount);
        double* grown = allocateDoubles(kSeriesValueArrays * static_cast<std::size_t>(entries));
        if (grown == nullptr) return 0;
        releaseStorage(seriesValues_);
        seriesValues_ = grown;
        seriesValuesCapacity_ = entries - 2;
    }
    const SeriesValues keep = seriesValuesIn(seriesValues_, entriesFor(seriesValuesCapacity_));
    // Grown storage replaces the old only once the computation has run, so
    // that a refusal leaves the previous results readable.
    double* storage = storage_;
    int entries = entriesFor(capacity_);
    double* grown = nullptr;
    if (termCount > capacity_) {
        entries = entriesFor(termCount);
        grown = allocateStorage(entries);
        if (grown == nullptr) return 0;
        storage = grown;
    }
    unsigned safeguards = 0;
    if (!coatedmie::computeSeries(k, s, termCount, logDerivativeTablesIn(storage, entries),
                                  coefficientArraysIn(storage, entries), safeguards,
                                  keepSeriesValues ? &keep : nullptr)) {
        releaseStorage(grown);
        return 0;
    }
    if (grown != nullptr) {
        releaseStorage(storage_);
        storage_ = grown;
        capacity_ = entries - 2;
    }
    termCount_ = termCount;
    signConvention_ = s.signConvention;
    normSquare_ = computeEfficiencies(k, s, termCount, coefficientArraysIn(storage_, entries), efficiencies_,
                                      safeguards);
    safeguards_ = safeguards;
    return termCount;
}

CoefficientView Engine::coefficients() const {
    if (storage_ == nullptr) return {0, nullptr, nullptr, nullptr, nullptr};
    const CoefficientArrays c = coefficientArraysIn(storage_, entriesFor(capacity_));
    return {termCount_, c.aRe, c.aIm, c.bRe, c.bIm};
}

DerivedQuantityRecord Engine::derivedQuantities() const {
    const double nan = std::nan("");
    DerivedQuantityRecord derived{nan, nan, nan, nan};
    if (termCount_ > 0) computeDerivedQuantities(coefficients(), normSquare_, efficiencies_, derived);
    return derived;
}

void Engine::intensities(const double* theta, int count, double* I1, double* I2) const {
    if (termCount_ > 0) {
        kernels().angular(coefficients(), {theta, nullptr}, count,
                          {AngularOutput::intensities, {I1, I2, nullptr, nullptr}, false, 0.0});
        return;
    }
    for (int i = 0; i < count; ++i) I1[i] = I2[i] = 0.0;
}

void Engine::amplitudes(const double* theta, int count, const AmplitudeArrays& S) const {
    if (termCount_ > 0) {
        kernels().angular(coefficients(), {theta, nullptr}, count,
                          {AngularOutput::amplitudes, {S.S1Re, S.S1Im, S.S2Re, S.S2Im}, false, 0.0});
        return;
    }
    for (int i = 0; i < count; ++i) S.S1Re[i] = S.S1Im[i] = S.S2Re[i] = S.S2Im[i] = 0.0;
}

void Engine::mueller(const double* theta, int count, const MuellerArrays& M) const {
    if (termCount_ > 0) {
        kernels().angular(coefficients(), {theta, nullptr}, count,
                          {AngularOutput::mueller, {M.S11, M.S12, M.S33, M.S34}, signConvention_ < 0, 0.0});
        return;
    }
    for (int i = 0; i < count; ++i) M.S11[i] = M.S12[i] = M.S33[i] = M.S34[i] = 0.0;
}

void Engine::phaseFunction(const double* theta, int count, double* p) const {
    if (termCount_ > 0) {
        const double scale = 2.0 / (normSquare_ * efficiencies_.Ksca);
        kernels().angular(coefficients(), {theta, nullptr}, count,
                          {AngularOutput::scaledSum, {p, nullptr, nullptr, nullptr}, false, scale});
        return;
    }
    for (int i = 0; i < count; ++i) p[i] = std::nan("");
}

bool Engine::legendreMoments(int count, double* chi) {
    if (termCount_ == 0 || count < 0) return false;
    if (count == 0) return true;
    const int exact = 2 * termCount_ + 1;
    const int nodes = quadratureNodesFor(termCount_, count < exact ? count : exact);
    const std::size_t needed = quadratureDoubles(nodes);
    if (needed > quadratureCapacity_) {
        double* grown = allocateDoubles(needed);
        if (grown == nullptr) return false;
        releaseStorage(quadrature_);
        quadrature_ = grown;
        quadratureCapacity_ = needed;
        quadratureNodes_ = 0;
    }
    QuadratureStorage q{quadrature_, quadratureNodes_};
    computeLegendreMoments(kernels(), coefficients(), 2.0 / (normSquare_ * efficiencies_.Ksca), count, q, chi);
    quadratureNodes_ = q.nodes;
    return true;
}

std::size_t Engine::workspaceBytes() const {
    const std::size_t tables =
        storage_ == nullptr ? 0 : kArraysPerComputation * static_cast<std::size_t>(entriesFor(capacity_));
    const std::size_t values =
        seriesValues_ == nullptr ? 0 : kSeriesValueArrays * static_cast<std::size_t>(entriesFor(seriesValuesCapacity_));
    return sizeof(double) * (tables + quadratureCapacity_ + values);
}

}  // namespace coatedmie
