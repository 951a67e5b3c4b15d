// Computes the reference particle through the installed engine, with the free
// functions and with an Engine: a shell of x = 5, m = 1.5 + 0.01i around a
// core of x = 3, m = 2.0 + 0.5i.
#include <cstdio>
#include <cstring>

#include <coatedmie/engine.h>

namespace {

int failures = 0;

void expectText(const char* what, const char* format, double value, const char* expected) {
    char text[64];
    std::snprintf(text, sizeof text, format, value);
    if (std::strcmp(text, expected) != 0) {
        std::printf("%s: expected %s, found %s\n", what, expected, text);
        ++failures;
    }
}

}  // namespace

int main() {
    coatedmie::EfficiencyRecord efficiencies{};
    const int termCount = coatedmie::computeCoatedSphere(5, 1.5, 0.01, 3, 2.0, 0.5, efficiencies);
    if (termCount != 20) {
        std::printf("term count: expected 20, found %d\n", termCount);
        return 1;
    }
    expectText("Kext", "%.6f", efficiencies.Kext, "3.135894");
    expectText("Ksca", "%.6f", efficiencies.Ksca, "2.011933");
    expectText("Kabs", "%.6f", efficiencies.Kabs, "1.123961");

    coatedmie::IntensityRecord intensity{};
    coatedmie::computeIntensity(termCount, 3.141592653589793 / 2, intensity);
    expectText("I1 at 90 degrees", "%.7g", intensity.I1, "5.519364");
    expectText("I2 at 90 degrees", "%.7g", intensity.I2, "0.7590923");

    // The table form, at 0 and 180 degrees.
    const double theta[2] = {0.0, 3.141592653589793};
    double I1[2];
    double I2[2];
    coatedmie::computeIntensities(termCount, theta, 2, I1, I2);
    expectText("I1 at 0 degrees", "%.7g", I1[0], "394.7263");
    expectText("I2 at 0 degrees", "%.7g", I2[0], "394.7263");
    expectText("I1 at 180 degrees", "%.7g", I1[1], "1.644918");

    // The reentrant engine, as the README shows it.
    coatedmie::Engine engine;
    if (engine.compute(5, 1.5, 0.01, 3, 2.0, 0.5) != 20) ++failures;
    double S11[2], S12[2], S33[2], S34[2];
    const double rightAngle[2] = {3.141592653589793 / 2, 3.141592653589793};
    engine.mueller(rightAngle, 2, {S11, S12, S33, S34});
    expectText("S11 at 90 degrees", "%.7g", S11[0], "3.139228");
    double chi[41];
    if (!engine.legendreMoments(41, chi)) ++failures;
    expectText("chi_1", "%.6f", chi[1], "0.707214");
    expectText("chi_2", "%.6f", chi[2], "0.631384");

    if (failures == 0) std::printf("Kext = %.6f through the installed engine\n", efficiencies.Kext);
    return failures == 0 ? 0 : 1;
}
