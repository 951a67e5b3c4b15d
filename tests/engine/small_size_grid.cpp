#include "small_size_grid.h"

#include <quadmath.h>

#include <cmath>
#include <cstdio>

#include <coatedmie/engine.h>
#include <number_text.h>

#include "quad_reference.h"

namespace coatedmie::small_size_grid {
namespace {

namespace qr = quad_reference;

double digits(double engine, qr::Real reference) {
    const qr::Real error = fabsq(qr::toReal(engine) - reference);
    if (error == 0) return 99;
    return -std::log10(qr::toDouble(error / fabsq(reference)));
}

double digits(double engineRe, double engineIm, qr::Complex reference) {
    const qr::Complex difference{qr::toReal(engineRe) - reference.re, qr::toReal(engineIm) - reference.im};
    const qr::Real error = qr::absolute(difference);
    if (error == 0) return 99;
    return -std::log10(qr::toDouble(error / qr::absolute(reference)));
}

std::string fixedText(double v) {
    char text[kMaxNumberText];
    return std::string(text, formatFixed(v, text));
}

// The fixed form of the exact value, unless that value lies so close to a
// rounding boundary (k + 1/2) 1e-6 that an error of `tolerance` may cross it;
// then any text of a value within the tolerance counts as right. The sign is
// never in doubt: a positive value must not print "-0.000000".
bool printsRight(double engine, qr::Real reference, qr::Real tolerance, std::string& difference) {
    const std::string got = fixedText(engine), want = fixedText(qr::toDouble(reference));
    if (got == want) return true;
    const qr::Real scaled = fabsq(reference) * qr::Real(1e6);
    const qr::Real fromBoundary = fabsq(scaled - floorq(scaled) - qr::Real(0.5)) * qr::Real(1e-6);
    const bool sameSign = (engine < 0) == (reference < 0);
    if (sameSign && fromBoundary < tolerance) return true;
    difference += got + " (reference " + want + ") ";
    return false;
}

}  // namespace

std::string describe(const Case& c) {
    char text[160];
    std::snprintf(text, sizeof text, "%s, core %g, s=%+d", c.layers->name, c.coreFraction,
                  c.signConvention);
    return text;
}

void forEachCase(double y, const std::function<void(const Case&)>& visit) {
    for (const LayerPair& layers : kLayerPairs) {
        for (double fraction : kCoreFractions) {
            for (int sign : {+1, -1}) {
                if (sign == -1 && layers.shellIm == 0 && layers.coreIm == 0) continue;
                visit(Case{y, fraction, &layers, sign});
            }
        }
    }
}

Comparison compare(const Case& c) {
    const LayerPair& l = *c.layers;
    const double x = c.coreFraction * c.y;
    const double s = c.signConvention;
    EfficiencyRecord e{};
    const int termCount = computeCoatedSphere(c.y, l.shellRe, s * l.shellIm, x, l.coreRe, s * l.coreIm, e);
    const bool vacuumShell = l.shellRe == 1.0 && l.shellIm == 0.0;
    const qr::Solution ref =
        c.y < 1e-8 ? qr::rayleighLimit(c.y, l.shellRe, s * l.shellIm, x, l.coreRe, s * l.coreIm)
        : vacuumShell ? qr::coatedSphere(x, l.coreRe, s * l.coreIm, x, l.coreRe, s * l.coreIm, termCount)
                      : qr::coatedSphere(c.y, l.shellRe, s * l.shellIm, x, l.coreRe, s * l.coreIm, termCount);

    Comparison r{99, 0, 99, 99, true, ""};
    const double pi = 4.0 * std::atan(1.0);
    for (int i = 0; i <= 12; ++i) {
        const double angle = i * 15.0;  // as the program forms a grid angle
        const double theta = angle * (pi / 180);
        IntensityRecord got{};
        computeIntensity(termCount, theta, got);
        const qr::Intensities want = qr::intensities(ref, theta);
        const double d = std::fmin(digits(got.I1, want.I1), digits(got.I2, want.I2));
        if (d < r.intensityDigits) {
            r.intensityDigits = d;
            r.worstAngle = angle;
        }
    }
    const CoefficientTables& t = coefficientTables();
    r.firstCoefficientDigits = digits(t.aRe[1], t.aIm[1], ref.a[0]);
    // A shell of zero thickness absorbs nothing, whatever its index.
    const bool lossless = l.coreIm == 0 && (l.shellIm == 0 || c.coreFraction == 1);
    // Lossless, Re a_n = |a_n|^2 is far below the quadruple sums' resolution
    // of Re a_n for small y; Kext equals Ksca, which the squares give well.
    const qr::Real kext = lossless ? ref.Ksca : ref.Kext;
    const qr::Real kabs = lossless ? 0 : ref.Kabs;
    r.extinctionDigits = digits(e.Kext, kext);

    const qr::Real tolerance = qr::toReal(1e-12);
    r.efficienciesPrintRight = printsRight(e.Kext, kext, tolerance, r.printedDifference) &
                               printsRight(e.Ksca, ref.Ksca, tolerance, r.printedDifference) &
                               printsRight(e.Kabs, kabs, tolerance, r.printedDifference);
    return r;
}

}  // namespace coatedmie::small_size_grid
