// The two ways to compute: the reentrant Engine over storage of its own, and
// the free functions over one process-wide set of static tables. Both run the
// same code on views of their arrays.
#include <coatedmie/engine.h>

#include <cmath>
#include <new>
#include <utility>

#include "tables.h"

namespace coatedmie {

namespace {

// The free functions' tables: static, zero at start, no heap.
struct StaticLogDerivativeArrays {
    double Dm2yRe[kTableCapacity];
    double Dm2yIm[kTableCapacity];
    double Dm2xRe[kTableCapacity];
    double Dm2xIm[kTableCapacity];
    double Dm1xRe[kTableCapacity];
    double Dm1xIm[kTableCapacity];
    double Dy[kTableCapacity];
};

StaticLogDerivativeArrays staticLogDerivatives;
CoefficientTables staticCoefficients;
double lastNormSquare = 0.0;

CoefficientView staticCoefficientView(int termCount) {
    // The tables never hold more orders than kMaxTermCount; a larger count
    // from a careless caller must not read past them.
    const int lastOrder = termCount < kMaxTermCount ? termCount : kMaxTermCount;
    const CoefficientTables& c = staticCoefficients;
    return {lastOrder, c.aRe, c.aIm, c.bRe, c.bIm};
}

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

}  // namespace

LogDerivativeTables logDerivativeTables() {
    StaticLogDerivativeArrays& t = staticLogDerivatives;
    return {t.Dm2yRe, t.Dm2yIm, t.Dm2xRe, t.Dm2xIm, t.Dm1xRe, t.Dm1xIm, t.Dy};
}

CoefficientArrays coefficientArrays() {
    CoefficientTables& c = staticCoefficients;
    return {c.aRe, c.aIm, c.bRe, c.bIm};
}

int computeCoatedSphere(double alpha1, double index1Re, double index1Im, double alpha2,
                        double index2Re, double index2Im, EfficiencyRecord& efficiencies) {
    const Scatterer s = normalise(alpha1, index1Re, index1Im, alpha2, index2Re, index2Im);
    const int termCount = termCountFor(s.y);
    if (termCount == 0) return 0;
    unsigned safeguards = 0;
    if (!computeSeries(s, termCount, logDerivativeTables(), coefficientArrays(), safeguards)) return 0;
    lastNormSquare = computeEfficiencies(s, termCount, coefficientArrays(), efficiencies, safeguards);
    return termCount;
}

const CoefficientTables& coefficientTables() { return staticCoefficients; }

double normSquareOfLastComputation() { return lastNormSquare; }

void computeIntensity(int termCount, double theta, IntensityRecord& intensity) {
    computeIntensities(staticCoefficientView(termCount), &theta, 1, &intensity.I1, &intensity.I2);
}

void computeIntensities(int termCount, const double* theta, int count, double* I1, double* I2) {
    computeIntensities(staticCoefficientView(termCount), theta, count, I1, I2);
}

void computeDerivedQuantities(int termCount, const EfficiencyRecord& efficiencies,
                              DerivedQuantityRecord& derived) {
    computeDerivedQuantities(staticCoefficientView(termCount), lastNormSquare, efficiencies, derived);
}

Engine::~Engine() {
    releaseStorage(storage_);
    releaseStorage(quadrature_);
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
      quadratureNodes_(std::exchange(other.quadratureNodes_, 0)) {}

Engine& Engine::operator=(Engine&& other) noexcept {
    if (this != &other) {
        releaseStorage(storage_);
        releaseStorage(quadrature_);
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
    }
    return *this;
}

int Engine::compute(double alpha1, double index1Re, double index1Im, double alpha2,
                    double index2Re, double index2Im) {
    const Scatterer s = normalise(alpha1, index1Re, index1Im, alpha2, index2Re, index2Im);
    const int termCount = termCountFor(s.y);
    if (termCount == 0) return 0;
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
    if (!computeSeries(s, termCount, logDerivativeTablesIn(storage, entries),
                       coefficientArraysIn(storage, entries), safeguards)) {
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
    normSquare_ = computeEfficiencies(s, termCount, coefficientArraysIn(storage_, entriesFor(capacity_)),
                                      efficiencies_, safeguards);
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
        computeIntensities(coefficients(), theta, count, I1, I2);
        return;
    }
    for (int i = 0; i < count; ++i) {
        I1[i] = 0.0;
        I2[i] = 0.0;
    }
}

void Engine::amplitudes(const double* theta, int count, const AmplitudeArrays& S) const {
    if (termCount_ > 0) {
        computeAmplitudes(coefficients(), theta, count, S);
        return;
    }
    for (int i = 0; i < count; ++i) S.S1Re[i] = S.S1Im[i] = S.S2Re[i] = S.S2Im[i] = 0.0;
}

void Engine::mueller(const double* theta, int count, const MuellerArrays& M) const {
    if (termCount_ > 0) {
        computeMueller(coefficients(), signConvention_, theta, count, M);
        return;
    }
    for (int i = 0; i < count; ++i) M.S11[i] = M.S12[i] = M.S33[i] = M.S34[i] = 0.0;
}

void Engine::phaseFunction(const double* theta, int count, double* p) const {
    if (termCount_ > 0) {
        const double scale = 2.0 / (normSquare_ * efficiencies_.Ksca);
        computeScaledIntensitySum(coefficients(), {theta, nullptr}, count, scale, p);
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
    computeLegendreMoments(coefficients(), 2.0 / (normSquare_ * efficiencies_.Ksca), count, q, chi);
    quadratureNodes_ = q.nodes;
    return true;
}

std::size_t Engine::workspaceBytes() const {
    const std::size_t tables =
        storage_ == nullptr ? 0 : kArraysPerComputation * static_cast<std::size_t>(entriesFor(capacity_));
    return sizeof(double) * (tables + quadratureCapacity_);
}

}  // namespace coatedmie
