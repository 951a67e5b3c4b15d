// The input rules and the words of their refusals, which every front end
// shows: the program's reader and the Python module name the values their
// own way and show them as read, the rest is said here once.
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <initializer_list>
#include <string>

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

std::string limitText(double limit) {
    char text[32];
    const int power = static_cast<int>(std::lround(std::log10(limit)));
    std::snprintf(text, sizeof text, "1e%d", power);
    if ((power <= -4 || power >= 4) && std::strtod(text, nullptr) == limit) return text;
    for (int digits = 1; digits <= 17; ++digits) {
        std::snprintf(text, sizeof text, "%.*g", digits, limit);
        if (std::strtod(text, nullptr) == limit) break;
    }
    return text;
}

std::string refusalText(const InputCheck& check, const LayerNames (&names)[2], const std::string (&shown)[6]) {
    const int layer = check.value / 3;
    const int part = check.value % 3;
    const std::string size = names[layer].size;
    const std::string index = names[layer].index;
    const std::string name = part == 0 ? size : (part == 1 ? "the real part of " : "the imaginary part of ") + index;
    const std::string& found = shown[check.value];
    switch (check.problem) {
        case InputProblem::notFinite:
            return name + " must be finite, found " + found;
        case InputProblem::notPositive:
            return name + " must be greater than 0, found " + found;
        case InputProblem::outerSizeTooSmall:
            return name + " must be at least " + limitText(kMinSizeParameter) + ", found " + found +
                   "; the intensities of a particle that small are beyond double precision";
        case InputProblem::coreSizeTooSmall: {
            const std::string core = std::to_string(layer + 1);
            const std::string shell = std::to_string(2 - layer);
            return name + " must be at least " + limitText(kMinSizeParameter) + ", found " + found +
                   "; a core that small changes no digit of the results: for the sphere without it give layer " +
                   core + " the size parameter and index of layer " + shell;
        }
        case InputProblem::indexTooSmall:
            return "|" + index + "| must be at least " + limitText(kMinIndexModulus) + ", found " + found + " and " +
                   shown[check.value + 1] + "; give the refractive index of the layer relative to the surrounding medium";
        case InputProblem::negativeRealPart:
            return name + " must not be negative, found " + found +
                   "; for a non-magnetic layer such an index describes a medium with gain";
        case InputProblem::beyondCapacity: {
            char terms[32];
            std::snprintf(terms, sizeof terms, check.measured < 1e15 ? "%.0f" : "about %.3g", check.measured);
            return name + " is " + found + ", beyond the largest size parameter accepted, " +
                   limitText(kMaxOuterSizeParameter) + ": the series would need " + terms + " terms, more than the " +
                   std::to_string(kMaxTermCount) + " its tables hold";
        }
        case InputProblem::indexTimesSizeTooLarge: {
            char product[32];
            std::snprintf(product, sizeof product, "%.3g", check.measured);
            // Just above the limit three digits would show the limit itself.
            if (std::strtod(product, nullptr) <= kMaxIndexTimesSize) {
                std::snprintf(product, sizeof product, "%.17g", check.measured);
            }
            return "|" + index + "| * " + size + " is " + product + ", above the limit of " +
                   limitText(kMaxIndexTimesSize) + " that keeps a run under a few seconds";
        }
        case InputProblem::none:
            break;
    }
    return "";
}

}  // namespace coatedmie
