// The Python module `coatedmie`: efficiencies, derived quantities and angular
// intensities of a coated sphere, from the same engine and with the same input
// checks as the program, so that every value is the double the program prints.
//
// The engine keeps its series coefficients in static tables and is not
// reentrant. Every function here therefore holds the GIL from its first check
// to its last result: calls from several Python threads run one after the
// other, each computation together with the intensities it reads.
#include <algorithm>
#include <cmath>
#include <complex>
#include <string>
#include <vector>

#include <pybind11/complex.h>
#include <pybind11/numpy.h>
#include <pybind11/pybind11.h>

#include <coatedmie/engine.h>

#include "angle_grid.h"
#include "parameter_file.h"
#include "run_driver.h"

namespace py = pybind11;

namespace coatedmie {
namespace {

// The two layers as the program reads them: size parameter and index, in the
// order given.
struct Layers {
    double alpha1, index1Re, index1Im, alpha2, index2Re, index2Im;
};

Layers layersFrom(double alpha1, std::complex<double> index1, double alpha2,
                  std::complex<double> index2) {
    return {alpha1, index1.real(), index1.imag(), alpha2, index2.real(), index2.imag()};
}

std::string pythonRepr(double value) { return py::repr(py::float_(value)).cast<std::string>(); }

// The program's checks, in its order and with its wording (less the file name
// and line that the program puts first).
void checkLayers(const Layers& l) {
    const double values[6] = {l.alpha1, l.index1Re, l.index1Im, l.alpha2, l.index2Re, l.index2Im};
    const char* const names[6] = {"Alpha1",       "the real part of index1", "the imaginary part of index1",
                                  "Alpha2",       "the real part of index2", "the imaginary part of index2"};
    for (int k = 0; k < 6; ++k) {
        if (!std::isfinite(values[k])) {
            throw py::value_error(std::string(names[k]) + " must be finite, found " + pythonRepr(values[k]));
        }
    }
    for (int k : {0, 3}) {
        if (!(values[k] > 0.0)) {
            throw py::value_error(std::string(names[k]) + " must be greater than 0, found " +
                                  pythonRepr(values[k]));
        }
    }
    const RunParameters parameters{l.alpha1, l.index1Re, l.index1Im, l.alpha2, l.index2Re, l.index2Im,
                                   0, 0.0, 0.0};
    std::string shown[kRealValueCount];
    for (int k = 0; k < kRealValueCount; ++k) shown[k] = pythonRepr(values[k]);
    std::string problem;
    int slot = 0;
    if (!checkSmallValues(parameters, shown, problem, slot)) throw py::value_error(problem);
    if (termCountFor(std::fmax(l.alpha1, l.alpha2)) == 0) throw py::value_error(kCapacityMessage);
    if (!checkContinuedFractionLength(parameters, kParameterFileName, problem)) {
        const std::string prefix = std::string(kParameterFileName) + ": ";
        throw py::value_error(problem.compare(0, prefix.size(), prefix) == 0 ? problem.substr(prefix.size())
                                                                             : problem);
    }
}

// Checks the layers and runs the engine; returns N.
int computeLayers(const Layers& l, EfficiencyRecord& efficiencies) {
    checkLayers(l);
    const int termCount = computeCoatedSphere(l.alpha1, l.index1Re, l.index1Im, l.alpha2, l.index2Re,
                                              l.index2Im, efficiencies);
    if (termCount == 0) {
        throw py::value_error(
            "a refractive index times its size parameter is too large for the computation to finish");
    }
    return termCount;
}

// collections.namedtuple("Efficiencies", ...), created once; the module keeps
// a reference for the life of the process.
py::handle efficienciesType;

py::object efficiencies(double alpha1, std::complex<double> index1, double alpha2,
                        std::complex<double> index2) {
    EfficiencyRecord e{0.0, 0.0, 0.0};
    const int termCount = computeLayers(layersFrom(alpha1, index1, alpha2, index2), e);
    DerivedQuantityRecord d;
    computeDerivedQuantities(termCount, e, d);
    return efficienciesType(termCount, e.Kext, e.Ksca, e.Kabs, d.Kback, d.Kpr, d.g, d.albedo);
}

using DoubleArray = py::array_t<double, py::array::c_style | py::array::forcecast>;

py::tuple intensities(double alpha1, std::complex<double> index1, double alpha2,
                      std::complex<double> index2, const DoubleArray& anglesDegrees) {
    EfficiencyRecord e{0.0, 0.0, 0.0};
    const int termCount = computeLayers(layersFrom(alpha1, index1, alpha2, index2), e);
    const std::vector<py::ssize_t> shape(anglesDegrees.shape(), anglesDegrees.shape() + anglesDegrees.ndim());
    DoubleArray I1(shape), I2(shape);
    const double* degrees = anglesDegrees.data();
    double* i1 = I1.mutable_data();
    double* i2 = I2.mutable_data();
    // Degrees to radians exactly as the program's table: angle * (pi / 180),
    // pi = 4 atan(1).
    const double degToRad = makeAngleGrid(0, 0.0, 0.0).degToRad;
    constexpr int kChunk = 256;
    double theta[kChunk];
    const py::ssize_t total = anglesDegrees.size();
    for (py::ssize_t first = 0; first < total; first += kChunk) {
        const int count = static_cast<int>(std::min<py::ssize_t>(kChunk, total - first));
        for (int k = 0; k < count; ++k) theta[k] = degrees[first + k] * degToRad;
        computeIntensities(termCount, theta, count, i1 + first, i2 + first);
    }
    return py::make_tuple(I1, I2);
}

DoubleArray angleGrid(int angleCount, double startAngle, double endAngle) {
    const AngleGrid grid = makeAngleGrid(angleCount, startAngle, endAngle);
    DoubleArray degrees(angleCount > 0 ? angleCount : 0);
    std::vector<double> radians(static_cast<std::size_t>(degrees.size()));
    if (degrees.size() > 0) {
        fillAngles(grid, 1, static_cast<int>(degrees.size()), degrees.mutable_data(), radians.data());
    }
    return degrees;
}

}  // namespace
}  // namespace coatedmie

PYBIND11_MODULE(coatedmie, m) {
    using namespace coatedmie;
    m.doc() = R"(Light scattering and absorption by a coated sphere.

A homogeneous core inside a concentric homogeneous shell, in a non-absorbing
medium. Each layer is a size parameter (2 pi r n_medium / wavelength of its
outer surface) and a complex refractive index relative to the medium. The
layers may be given in either order: the larger size parameter is the shell
(on a tie the first layer is a shell of zero thickness). Imaginary parts may be
written in either sign convention (n + ik or n - ik); one negative imaginary
part puts both indices in the negative convention, and both conventions give
the same results. Efficiencies are cross-sections divided by pi r_outer^2, or
by the core's pi r_core^2 when the shell index is exactly 1 + 0j.

Values are bit for bit those of the coatedmie program for the same inputs.
Invalid input raises ValueError with the program's message: a size parameter
that is not greater than 0 or below 1e-30, an index of modulus below 1e-4, a
value that is not finite, |index| * size parameter above 1e7 for a layer, or a
larger size parameter above about 99621 (more series terms than the tables
hold).

The engine keeps its coefficients in static tables and is not reentrant: every
call holds the GIL for its whole computation, so calls from several threads
run one after another.

Example:
    >>> import coatedmie
    >>> r = coatedmie.efficiencies(5, 1.5 + 0.01j, 3, 2.0 + 0.5j)
    >>> r.N, round(r.Kext, 6), round(r.g, 6)
    (20, 3.135894, 0.707214)
    >>> I1, I2 = coatedmie.intensities(5, 1.5 + 0.01j, 3, 2.0 + 0.5j, [0, 90, 180])
)";
    m.attr("__version__") = COATEDMIE_VERSION;

    py::object type = py::module_::import("collections")
                          .attr("namedtuple")("Efficiencies", py::make_tuple("N", "Kext", "Ksca", "Kabs", "Kback",
                                                                              "Kpr", "g", "albedo"),
                                              py::arg("module") = "coatedmie");
    type.attr("__doc__") = R"(Efficiencies and derived quantities of one coated sphere.

N       number of series terms
Kext    extinction efficiency
Ksca    scattering efficiency
Kabs    absorption efficiency, Kext - Ksca, exactly 0 below 1e-10 of Kext
Kback   backscattering efficiency, 4 |S1(180 deg)|^2 / y^2
Kpr     radiation-pressure efficiency, Kext - g Ksca
g       asymmetry parameter, the mean cosine of the scattering angle
albedo  single-scattering albedo Ksca / Kext, exactly 1 when Kabs is 0
All efficiencies refer to the same cross-section as Kext.)";
    m.attr("Efficiencies") = type;
    efficienciesType = type.inc_ref();

    m.def("efficiencies", &efficiencies, py::arg("alpha1"), py::arg("index1"), py::arg("alpha2"),
          py::arg("index2"),
          R"(Efficiencies(N, Kext, Ksca, Kabs, Kback, Kpr, g, albedo) of the coated sphere
made of the layers (alpha1, index1) and (alpha2, index2), in either order.)");
    m.def("intensities", &intensities, py::arg("alpha1"), py::arg("index1"), py::arg("alpha2"),
          py::arg("index2"), py::arg("angles"),
          R"((I1, I2): the unnormalised intensities |S1|^2 and |S2|^2 at the scattering
angles in degrees (an array of any shape; results have the same shape),
converted to radians exactly as the program does.)");
    m.def("angle_grid", &angleGrid, py::arg("count"), py::arg("start"), py::arg("end"),
          R"(The program's angle grid in degrees: (i - 1) * step + start for i = 1..count,
step = (end - start) / (count - 1); empty for count <= 0.)");
}
