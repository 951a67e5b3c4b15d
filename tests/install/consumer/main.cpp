// The reference particle (a shell of x = 5, m = 1.5 + 0.01i around a core of
// x = 3, m = 2 + 0.5i) through the installed engine's functions and an Engine.
#include <cstdio>

#include <coatedmie/engine.h>

int main() {
    coatedmie::EfficiencyRecord e{};
    const int n = coatedmie::computeCoatedSphere(5, 1.5, 0.01, 3, 2.0, 0.5, e);
    const double rightAngle = 3.141592653589793 / 2;
    double I1, I2, S11, S12, S33, S34, chi[2] = {0.0, 0.0};
    coatedmie::computeIntensities(n, &rightAngle, 1, &I1, &I2);
    coatedmie::Engine engine;
    if (engine.compute(5, 1.5, 0.01, 3, 2.0, 0.5) != n || !engine.legendreMoments(2, chi)) return 1;
    engine.mueller(&rightAngle, 1, {&S11, &S12, &S33, &S34});
    std::printf("%d %.6f %.6f %.6f %.7g %.7g %.7g %.6f\n", n, e.Kext, e.Ksca, e.Kabs, I1, I2, S11, chi[1]);
    return 0;
}
