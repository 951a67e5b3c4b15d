// A program of one's own that links the installed engine: the reference
// particle, a shell of x = 5, m = 1.5 + 0.01i around a core of x = 3,
// m = 2 + 0.5i. The manual shows this file; the suite builds and runs it
// against a fresh install and compares what it prints.
#include <cstdio>

#include <coatedmie/engine.h>

int main() {
    coatedmie::Engine engine;  // owns its tables: one per thread, any number of threads at once
    // layers as {size parameter, {index real part, imaginary part}}, in either order
    const int terms = engine.compute({5, {1.5, 0.01}}, {3, {2.0, 0.5}});
    if (terms == 0) return 1;  // refused: too large a particle or |index| x size
    const coatedmie::EfficiencyRecord& e = engine.efficiencies();

    const double rightAngle = 3.141592653589793 / 2;  // angles in radians
    double I1, I2, S11, S12, S33, S34;
    engine.intensities(&rightAngle, 1, &I1, &I2);
    engine.mueller(&rightAngle, 1, {&S11, &S12, &S33, &S34});
    double chi[2];  // Legendre moments of the phase function: chi[0] = 1, chi[1] = g
    if (!engine.legendreMoments(2, chi)) return 1;

    std::printf("%d %.6f %.6f %.6f %.7g %.7g %.7g %.6f\n", terms, e.Kext, e.Ksca, e.Kabs, I1, I2, S11, chi[1]);
    return 0;
}
