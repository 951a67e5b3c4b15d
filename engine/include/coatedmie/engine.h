// Scattering and absorption of a plane wave by a coated sphere: a homogeneous
// core inside a concentric homogeneous shell, both in a non-absorbing medium.
//
// Conventions
// - A layer is a size parameter, 2 pi r n_medium / lambda of its outer
//   radius, with its complex refractive index relative to the medium.
// - The imaginary parts may be written with either sign convention (n + ik
//   or n - ik): one negative imaginary part puts both indices into the
//   negative convention. Both conventions give the same efficiencies and
//   intensities; the coefficients of the negative convention are the complex
//   conjugates.
// - The layer with the larger size parameter is the outer surface (the shell);
//   on a tie the first layer given is a shell of zero thickness.
// - Efficiencies are cross-sections divided by pi*r_outer^2, or by the core's
//   pi*r_core^2 when the shell index is exactly 1 + 0i (a core in vacuum).
// - I1 = |S1|^2 and I2 = |S2|^2 are unnormalised: no factor 1/k^2 or 1/(pi x^2).
//
// An Engine object computes one particle at a time and keeps its tables, so
// each thread computes with an Engine of its own, concurrently with the
// others and with exactly the bits of one thread.
//
// Example:
//   coatedmie::Engine engine;
//   engine.compute({5, {1.5, 0.01}}, {3, {2.0, 0.5}});   // returns 20 (terms)
//   engine.efficiencies();  // Kext = 3.135894..., Ksca = 2.011933..., Kabs = 1.123961...
//   const double theta = 0.0;
//   double I1, I2;
//   engine.intensities(&theta, 1, &I1, &I2);               // I1 = I2 = 394.7263...
#ifndef COATEDMIE_ENGINE_H
#define COATEDMIE_ENGINE_H

#include <cstddef>
#include <string>

namespace coatedmie {

struct RefractiveIndex {
    double re;
    double im;
};

struct Layer {
    double size;  // size parameter of the layer's outer surface
    RefractiveIndex index;
};

// Largest term count a computation accepts: an outer size parameter of 99621
// needs 99998 terms (kMaxOuterSizeParameter).
inline constexpr int kMaxTermCount = 99998;

struct EfficiencyRecord {
    double Kext;  // extinction efficiency
    double Ksca;  // scattering efficiency
    double Kabs;  // absorption efficiency, exactly +0 below 1e-10 of Kext
};

// Number of series terms for an outer size parameter y:
// trunc(7.5 y^0.34 + y + 2.5), at least 2 (y = 0 or -0). Returns 0 when y is
// negative, not a number, or needs more than kMaxTermCount terms, that is
// for every y above 99621.09443326859 (infinity included).
int termCountFor(double outerSizeParameter);

// What radiative transfer needs beyond the three efficiencies. Efficiencies
// are referred to the same cross-section as Kext.
struct DerivedQuantityRecord {
    double Kback;   // backscattering efficiency, 4 |S1(180 deg)|^2 / y^2
    double Kpr;     // radiation-pressure efficiency, Kext - g Ksca
    double g;       // asymmetry parameter, the mean cosine of the scattering angle
    double albedo;  // single-scattering albedo Ksca / Kext; exactly 1 when Kabs is +0
};

// The derivatives of the efficiencies and derived quantities with respect to
// one real parameter, efficiencies referred to the same cross-section as the
// values (at the value of the parameter, the cross-section's own change
// included where the parameter is its radius).
struct DerivativeRecord {
    double Kext, Ksca, Kabs, Kback, Kpr, g, albedo;
};

// With respect to a layer's parameters: the real part of its refractive
// index, the imaginary part in the n + ik convention (k >= 0, the absorption:
// whichever sign the index was written with), and its size parameter.
struct LayerDerivatives {
    DerivativeRecord indexRe, indexIm, size;
};

// Of both layers, in the order Engine::compute took them.
struct Derivatives {
    LayerDerivatives first, second;
};

// ---------------------------------------------------------------------------
// Input rules. The engine computes whatever it is given (see
// Engine::compute); these are the inputs for which its results are
// trustworthy and its time bounded. Every front end refuses the rest through
// checkLayers and words the refusal itself.

// Smallest size parameter accepted. The results are right to every printed
// digit down to here and somewhat below (checked to 1e-40), but the
// intensities of a whole particle fall like its size parameter to the sixth
// power, towards the end of the double range; and a core this much smaller
// than any shell changes no digit of the results.
inline constexpr double kMinSizeParameter = 1e-30;

// Smallest |refractive index| accepted. Far below any material: a shell
// index near 1e-6 already turns the series of a sphere from size parameter
// 0.01 up into not-a-number.
inline constexpr double kMinIndexModulus = 1e-4;

// Largest |refractive index| * size parameter of a layer accepted. Lossless
// layers need about that many continued-fraction passes (0.7 s at 1e7 on a
// current machine, hours at 1e11); absorption shortens it.
inline constexpr double kMaxIndexTimesSize = 1e7;

// The largest outer size parameter whose term count fits the tables:
// termCountFor gives kMaxTermCount here and 0 at the next double.
inline constexpr double kMaxOuterSizeParameter = 99621.09443326859;

enum class InputProblem {
    none,
    notFinite,               // an infinity or NaN
    notPositive,             // a size parameter <= 0
    outerSizeTooSmall,       // the outer size parameter below kMinSizeParameter
    coreSizeTooSmall,        // the core size parameter below kMinSizeParameter
    indexTooSmall,           // |index| below kMinIndexModulus
    negativeRealPart,        // an index with a real part below 0: for these
                             // non-magnetic layers, a medium with gain
    beyondCapacity,          // the outer size parameter needs more than kMaxTermCount terms
    indexTimesSizeTooLarge,  // |index| * its own size parameter above kMaxIndexTimesSize
};

// The first rule an input breaks, in the order of InputProblem.
struct InputCheck {
    InputProblem problem;
    // The value the rule names, 0..5 in the order of the arguments (alpha1,
    // index1 real part, index1 imaginary part, alpha2, ...); an index is
    // named by its real part.
    int value;
    // What the rule measured: |index| for indexTooSmall, the term count the
    // outer size parameter would need (truncated, may exceed any integer) for
    // beyondCapacity, |index| * size parameter for indexTimesSizeTooLarge;
    // otherwise the value itself.
    double measured;
};

// How a front end names the values of its two layers, in the order it gives
// them: {"Alpha1", "index1"} and {"Alpha2", "index2"} in the program.
struct LayerNames {
    const char* size;
    const char* index;
};

// The refusal of a check, in words, for every front end: the rule and its
// limit, the value as the caller shows it (shown[k] for the value k of
// InputCheck::value: each layer's size, then its index's real and imaginary
// part), and why. Empty for InputProblem::none. Example: for a core size of
// 1e-40 given second, "Alpha2 must be at least 1e-30, found "1e-40"; a core
// that small changes no digit of the results: for the sphere without it give
// layer 2 the size parameter and index of layer 1".
std::string refusalText(const InputCheck& check, const LayerNames (&names)[2], const std::string (&shown)[6]);

// A limit as the refusals write it: "1e-30", "1e-4", "1e7",
// "99621.09443326859" (the shortest text that reads back as the double).
std::string limitText(double limit);

// Applies the rules to the two layers as Engine::compute takes them.
// Example: checkLayers({5, {1.5, 0.01}}, {3, {2.0, 0.5}}).problem == InputProblem::none;
// checkLayers({1e5, {1.33, 0}}, {3, {1.5, 0}}) gives beyondCapacity, value 0,
// measured 100378.
InputCheck checkLayers(const Layer& first, const Layer& second);

// ---------------------------------------------------------------------------
// Safeguards. The series is evaluated operation by operation as the program
// has always done, except where that loses its digits; there the engine takes
// over with one of these, and Engine::safeguards() says which it took for
// the last computation (0 for nearly every particle).
enum Safeguard : unsigned {
    // A start value of the series taken from the log-derivative tables: the
    // shell's argument m2 y or m2 x near a zero of sin (a lossless or weakly
    // absorbing shell, k pi = m2 y on a round grid), or y near a zero of
    // psi_1, where the closed form and the tables cancel differently; and y
    // near a zero of a higher psi_n, where psi_n/psi_{n-1} is taken as the
    // tables' reciprocal for the same reason.
    kStartFromTables = 1u << 0,
    // An entry of a log-derivative table moved by one unit in its last place
    // off an exact zero of k/z + D_k, which would give NaN.
    kZeroAvoided = 1u << 1,
    // Lossless layers whose computed absorption would exceed the cutoff:
    // the real parts of the coefficients from |a_n|^2 = Re a_n.
    kLosslessRealParts = 1u << 2,
    // A shell of index exactly 1 + 0i around a core so small that the
    // coated form loses the core in rounding: the core computed alone.
    kBareCore = 1u << 3,
    // An absorbing particle that scatters so weakly that its computed
    // Kext - Ksca, negative, lies within the rounding of Re a_n and Re b_n:
    // Kabs is +0, as below the absorption cutoff.
    kAbsorptionUnresolved = 1u << 4,
    // An outer size parameter from 0.01 to 0.1: the coefficients from the
    // form that carries the small particle's physics without the closed
    // forms' cancellation (below 0.01 the engine has always taken it).
    kSmallParticleForm = 1u << 5,
};

// ---------------------------------------------------------------------------
// Vector paths. The engine evaluates independent values side by side in the
// lanes of the processor's vector unit: the orders of the series in blocks,
// the angles of an angular evaluation, the nodes of the Legendre rule. Every
// path runs every kernel and gives the same bits as every other: lanes round
// one by one like scalar arithmetic, nothing is fused, and no sum's order
// depends on the width. So a result, a lookup table included, is the same bit
// for bit whatever the processor, the path and the threads.
enum class VectorPath {
    portable,  // 2 lanes: SSE2 on x86-64 (its baseline), the compiler's vectors elsewhere
    avx2,      // 4 lanes: AVX2, without FMA
    avx512,    // AVX-512F, without FMA: 8 lanes for the angular sums and the
               // Legendre rule; the series, its tables and its sums in the
               // 4 lanes of the AVX2 path, which measure faster there (their
               // work chains from order to order)
};
// (The continued fractions that start the log-derivative tables run in 4
// lanes, one per table, on every path.)

bool vectorPathSupported(VectorPath path);  // whether this processor runs it
const char* vectorPathName(VectorPath path);  // "portable", "avx2", "avx512"
bool vectorPathFromName(const char* name, VectorPath& path);

// The path in use: the widest this processor runs, unless the environment
// variable COATEDMIE_VECTOR_PATH names a narrower one it runs (a wider one,
// or a name it does not know, leaves the widest), or setVectorPath chose.
VectorPath vectorPath();

// Uses `path` from now on, for every Engine in the process (a computation
// already running finishes on its path). Returns false, changing nothing,
// when this processor does not run it. For tests and benchmarks, and for
// reproducing another machine's run: the results are the same on every path.
bool setVectorPath(VectorPath path);

// ---------------------------------------------------------------------------
// The reentrant engine.

// Read access to series coefficients: entry n of each array holds order n,
// n = 1..termCount; entry 0 is unused.
struct CoefficientView {
    int termCount;
    const double* aRe;
    const double* aIm;
    const double* bRe;
    const double* bIm;
};

// Complex amplitudes S1(theta) and S2(theta), as arrays of real and imaginary
// parts: |S1|^2 = I1 and |S2|^2 = I2 from the same doubles. They follow the
// sign convention of the input like the coefficients: indices n - ik give the
// complex conjugates of the amplitudes of n + ik.
struct AmplitudeArrays {
    double* S1Re;
    double* S1Im;
    double* S2Re;
    double* S2Im;
};

// The Mueller matrix of a sphere, unnormalised like I1 and I2, in the
// convention of Bohren and Huffman (time factor exp(-i omega t)):
//   S11 = (|S2|^2 + |S1|^2)/2   S12 = (|S2|^2 - |S1|^2)/2
//   S33 = Re(S2 S1*)            S34 = Im(S2 S1*)
// with S22 = S11, S44 = S33, S21 = S12, S43 = -S34, the other eight 0. A
// property of the particle: both sign conventions of the input give the same
// four elements. -S12/S11 is the degree of linear polarisation of the light
// scattered from unpolarised light.
struct MuellerArrays {
    double* S11;
    double* S12;
    double* S33;
    double* S34;
};

// One computation at a time per object; const members may be called from
// several threads at once. The object allocates when a computation needs more
// orders than it holds and keeps that storage for later ones: about 88 bytes
// per order (four coefficient and seven log-derivative arrays), so a particle
// of 28 terms takes some 2.6 KiB and the largest 8.4 MiB. Nothing is
// allocated per call otherwise, and nothing is printed or waited for.
class Engine {
public:
    Engine() = default;
    ~Engine();
    Engine(Engine&& other) noexcept;
    Engine& operator=(Engine&& other) noexcept;
    Engine(const Engine&) = delete;
    Engine& operator=(const Engine&) = delete;

    // Computes the series coefficients and the efficiencies of the coated
    // sphere made of the two layers, in either order, and returns the term
    // count N >= 2.
    //
    // Returns 0, keeping the previous results:
    // - when the outer size parameter is negative, not a number, infinite,
    //   or needs more than kMaxTermCount terms (termCountFor gives 0);
    // - when |index| * size parameter of a layer is so large (about 2.5e8 or
    //   more for a lossless layer) that a continued fraction starting the
    //   log-derivative tables does not end within its pass limit; such a
    //   call spends several seconds before it gives up. Up to 1e7 for both
    //   layers a call takes under about a second: checkLayers refuses more;
    // - when the storage for N orders cannot be allocated.
    // A core size of 0 or NaN is not refused: it gives NaN efficiencies (and
    // Kabs = +0). Nothing is printed or waited for: reporting a refusal is
    // the caller's business.
    //
    // Accuracy. Below an outer size parameter of 0.01 the coefficients come
    // from a path that avoids the cancellation of the closed forms for small
    // sizes (and up to 0.1 as the Safeguard kSmallParticleForm). Where the
    // literal series would lose its digits elsewhere, a Safeguard takes over
    // (see above); everywhere else every bit is that of the literal series.
    int compute(const Layer& first, const Layer& second);

    // The same computation, bit for bit, and the derivatives of the
    // efficiencies and derived quantities with respect to both layers'
    // parameters, from the coefficients' derivatives (exact, computed from
    // the per-order values of the series, not by finite differences). The
    // derivatives are written only on success. They keep the efficiencies'
    // cross-section: for a shell of index exactly 1 + 0i, x^2. Where a
    // vacuum shell's core is computed alone (kBareCore) the derivatives with
    // respect to the shell's index are NaN and those with respect to its size
    // 0. Costs a few times the values, and a further 136 bytes per order kept.
    int compute(const Layer& first, const Layer& second, Derivatives& derivatives);

    // The results of the last successful computation (N = 0 and zeros before
    // the first).
    int termCount() const { return termCount_; }
    // The Safeguard bits the last successful computation took.
    unsigned safeguards() const { return safeguards_; }
    const EfficiencyRecord& efficiencies() const { return efficiencies_; }
    double normSquare() const { return normSquare_; }
    CoefficientView coefficients() const;

    // The derived quantities of the last computation, from its coefficients
    // and efficiencies: independent of the sign convention and the layer
    // order, like the efficiencies. NaN before the first computation.
    // Example: after compute({5, {1.5, 0.01}}, {3, {2.0, 0.5}}), g = 0.707214...,
    // Kback = 0.263187..., Kpr = 1.713027..., albedo = 0.641582...
    DerivedQuantityRecord derivedQuantities() const;

    // I1[i] and I2[i] at the scattering angle theta[i] (radians), for
    // i = 0..count-1, from the coefficients of orders 1..N (order 1 always).
    // The angles are evaluated side by side on the vector path in use, bit
    // for bit what one angle at a time gives. Nothing happens when count <= 0;
    // no heap. All zero before the first computation. (One exception to the
    // bits: where a NaN angle with a payload or a positive sign meets NaN
    // coefficients, either NaN may come out, as IEEE arithmetic leaves open.)
    void intensities(const double* theta, int count, double* I1, double* I2) const;

    // At count angles theta (radians), from the same sums as the intensities:
    // the amplitudes, the Mueller elements, and the phase function
    //   p(theta) = 2 (I1 + I2) / (s^2 Ksca),
    // s^2 = normSquare(), normalised so that its mean over all directions is
    // 1 (its integral over the sphere is 4 pi). All zero (p NaN) before the
    // first computation.
    void amplitudes(const double* theta, int count, const AmplitudeArrays& S) const;
    void mueller(const double* theta, int count, const MuellerArrays& M) const;
    void phaseFunction(const double* theta, int count, double* p) const;

    // The first `count` Legendre moments chi_0, chi_1, ... of the phase
    // function, p(cos theta) = sum_l (2l + 1) chi_l P_l(cos theta), so that
    // chi_0 = 1 and chi_1 = g (the normalisation discrete-ordinates codes take).
    // p is a polynomial of degree 2N in cos theta: chi_0 .. chi_2N describe
    // it exactly and every later moment is exactly 0. Computed by a
    // Gauss-Legendre rule that integrates exactly, to about 1e-14 absolute:
    // the time grows like N (N + L/2) for L moments, some 3 ms at N = 1081
    // and 0.6 s at N = 10174 for all 2N + 1 (the manual has figures). Not
    // const: the rule and its working rows are kept in the object (about
    // 40 bytes per node) and reused while N and count stay the same. Returns
    // false, writing nothing, before the first computation or when that
    // storage cannot be allocated.
    bool legendreMoments(int count, double* chi);

    // Bytes held for the tables and the Legendre rule.
    std::size_t workspaceBytes() const;

private:
    int computeSeries(const Layer& first, const Layer& second, bool keepSeriesValues);

    double* storage_ = nullptr;
    int capacity_ = 0;  // orders the storage holds
    int termCount_ = 0;
    int signConvention_ = +1;
    unsigned safeguards_ = 0;
    EfficiencyRecord efficiencies_{0.0, 0.0, 0.0};
    double normSquare_ = 0.0;
    double* quadrature_ = nullptr;
    std::size_t quadratureCapacity_ = 0;  // doubles
    int quadratureNodes_ = 0;
    double* seriesValues_ = nullptr;  // the per-order values the derivatives need
    int seriesValuesCapacity_ = 0;    // orders they hold
};

}  // namespace coatedmie

#endif  // COATEDMIE_ENGINE_H
