#include <cmath>
#include <initializer_list>

#include <coatedmie/engine.h>

namespace coatedmie {

InputCheck checkLayers(const Layer& first, const Layer& second) {
    const double alpha1 = first.size;
    const double alpha2 = second.size;
    const double values[6] = {alpha1, first.index.re, first.index.im, alpha2, second.index.re, second.index.im};
    for (int k = 0; k < 6; ++k) {
        if (!std::isfinite(values[k])) return {InputProblem::notFinite, k, values[k]};
    }
    for (int k : {0, 3}) {
        if (!(values[k] > 0.0)) return {InputProblem::notPositive, k, values[k]};
    }
    // The larger size parameter is the outer surface (on a tie the first
    // layer's): it makes a whole particle too small; the other is a core.
    const int outer = alpha1 < alpha2 ? 3 : 0;
    const int core = 3 - outer;
    if (values[outer] < kMinSizeParameter) return {InputProblem::outerSizeTooSmall, outer, values[outer]};
    if (values[core] < kMinSizeParameter) return {InputProblem::coreSizeTooSmall, core, values[core]};
    const double moduli[2] = {std::hypot(first.index.re, first.index.im), std::hypot(second.index.re, second.index.im)};
    for (int layer = 0; layer < 2; ++layer) {
        if (!(moduli[layer] >= kMinIndexModulus)) return {InputProblem::indexTooSmall, 3 * layer + 1, moduli[layer]};
    }
    // n + ik with n < 0 is the other root of the permittivity (n + ik)^2,
    // whose imaginary part 2nk then has the sign of gain, not absorption.
    for (int k : {1, 4}) {
        if (values[k] < 0.0) return {InputProblem::negativeRealPart, k, values[k]};
    }
    if (termCountFor(values[outer]) == 0) {
        const double v = (std::pow(values[outer], 0.34) * 7.5 + values[outer]) + 2.5;
        return {InputProblem::beyondCapacity, outer, std::trunc(v)};
    }
    // The tables start from a continued fraction at z = index * size
    // parameter, which converges only once its terms outgrow |z|: about |z|
    // passes for a lossless layer. The shell's index meets the outer size
    // parameter (its own) and the core's the core's.
    const double products[2] = {moduli[0] * alpha1, moduli[1] * alpha2};
    for (int layer = 0; layer < 2; ++layer) {
        if (products[layer] > kMaxIndexTimesSize) {
            return {InputProblem::indexTimesSizeTooLarge, 3 * layer + 1, products[layer]};
        }
    }
    return {InputProblem::none, -1, 0.0};
}

}  // namespace coatedmie
