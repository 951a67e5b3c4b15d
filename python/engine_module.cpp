// coatedmie._engine, the compiled part of the Python package: efficiencies
// and angular intensities of coated spheres, for one particle or for arrays of
// them shared out over threads, each thread with an Engine of its own. The
// package's __init__.py re-exports what is defined here; the conventions are
// documented there.
#include <algorithm>
#include <atomic>
#include <cmath>
#include <complex>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <new>
#include <string>
#include <system_error>
#include <thread>
#include <vector>

#include <sched.h>

#include <pybind11/numpy.h>
#include <pybind11/pybind11.h>

#include <coatedmie/engine.h>

namespace py = pybind11;

namespace coatedmie {
namespace {

struct Layers {
    double alpha1, index1Re, index1Im, alpha2, index2Re, index2Im;
};

Layer first(const Layers& l) { return {l.alpha1, {l.index1Re, l.index1Im}}; }
Layer second(const Layers& l) { return {l.alpha2, {l.index2Re, l.index2Im}}; }

InputCheck check(const Layers& l) { return checkLayers(first(l), second(l)); }

bool valid(const Layers& l) { return check(l).problem == InputProblem::none; }

// Returns N, or 0 when the engine could not allocate its tables (the layers
// have passed the input rules, which leave no other refusal).
int compute(Engine& engine, const Layers& l) {
    return engine.compute(first(l), second(l));
}

// ---------------------------------------------------------------------------
// Messages for refused input, naming the arguments as Python callers know them.

std::string shown(py::handle value) { return py::repr(value).cast<std::string>(); }
std::string shown(double value) { return shown(py::float_(value)); }

std::string describe(const InputCheck& c, const Layers& l) {
    const double values[6] = {l.alpha1, l.index1Re, l.index1Im, l.alpha2, l.index2Re, l.index2Im};
    static const char* const names[6] = {"alpha1", "the real part of index1", "the imaginary part of index1",
                                         "alpha2", "the real part of index2", "the imaginary part of index2"};
    const std::string name = names[c.value];
    const std::string layer = std::to_string(c.value / 3 + 1);
    const std::string found = shown(values[c.value]);
    char text[64];
    switch (c.problem) {
        case InputProblem::notFinite:
            return name + " must be finite, found " + found;
        case InputProblem::notPositive:
            return name + " must be greater than 0, found " + found;
        case InputProblem::outerSizeTooSmall:
            return name + " must be at least 1e-30, found " + found +
                   "; the intensities of a particle that small are beyond double precision";
        case InputProblem::coreSizeTooSmall: {
            const std::string core = "alpha" + layer + " and index" + layer;
            const std::string shell = c.value == 0 ? "alpha2 and index2" : "alpha1 and index1";
            return name + " must be at least 1e-30, found " + found +
                   "; a core that small changes no digit of the results: for the sphere without it give " +
                   core + " the values of " + shell;
        }
        case InputProblem::indexTooSmall: {
            const auto index = py::reinterpret_steal<py::object>(
                PyComplex_FromDoubles(values[c.value], values[c.value + 1]));
            return "|index" + layer + "| must be at least 1e-4, found " + shown(index) + " of modulus " +
                   shown(c.measured) +
                   "; give the refractive index of the layer relative to the surrounding medium";
        }
        case InputProblem::negativeRealPart:
            return name + " must not be negative, found " + found +
                   "; for a non-magnetic layer such an index describes a medium with gain";
        case InputProblem::beyondCapacity:
            std::snprintf(text, sizeof text, c.measured < 1e15 ? "%.0f" : "about %.3g", c.measured);
            return name + " is " + found + ", beyond the largest size parameter accepted, " +
                   shown(kMaxOuterSizeParameter) + ": the series would need " + text +
                   " terms, more than the " + std::to_string(kMaxTermCount) + " its tables hold";
        case InputProblem::indexTimesSizeTooLarge:
            std::snprintf(text, sizeof text, "%.3g", c.measured);
            // Just above the limit three digits would show the limit itself.
            if (std::strtod(text, nullptr) <= kMaxIndexTimesSize) {
                std::snprintf(text, sizeof text, "%.17g", c.measured);
            }
            return "|index" + layer + "| * alpha" + layer + " is " + text +
                   ", above the limit of 1e7 that keeps a particle under about a second";
        case InputProblem::none:
            break;
    }
    return "the layers are accepted";
}

// ---------------------------------------------------------------------------
// Arguments.

// A Python float, int or complex (NumPy's float64 and complex128 included):
// the scalar call, which must stay cheap, reads these without NumPy.
bool readNumber(py::handle h, double& value) {
    if (PyFloat_Check(h.ptr())) {
        value = PyFloat_AS_DOUBLE(h.ptr());
        return true;
    }
    if (!PyLong_Check(h.ptr())) return false;
    value = PyLong_AsDouble(h.ptr());
    if (value == -1.0 && PyErr_Occurred()) throw py::error_already_set();
    return true;
}

bool readIndex(py::handle h, double& re, double& im) {
    if (PyComplex_Check(h.ptr())) {
        re = PyComplex_RealAsDouble(h.ptr());
        im = PyComplex_ImagAsDouble(h.ptr());
        return true;
    }
    im = 0.0;
    return readNumber(h, re);
}

bool readLayers(py::handle alpha1, py::handle index1, py::handle alpha2, py::handle index2, Layers& l) {
    return readNumber(alpha1, l.alpha1) && readIndex(index1, l.index1Re, l.index1Im) &&
           readNumber(alpha2, l.alpha2) && readIndex(index2, l.index2Re, l.index2Im);
}

enum class Invalid { raise, nan };

Invalid readInvalid(py::handle invalid) {
    if (PyUnicode_Check(invalid.ptr())) {
        if (PyUnicode_CompareWithASCIIString(invalid.ptr(), "raise") == 0) return Invalid::raise;
        if (PyUnicode_CompareWithASCIIString(invalid.ptr(), "nan") == 0) return Invalid::nan;
    }
    throw py::value_error("invalid must be 'raise' or 'nan', found " + shown(invalid));
}

int usableCores() {
    cpu_set_t cores;
    if (sched_getaffinity(0, sizeof cores, &cores) == 0) return std::max(1, CPU_COUNT(&cores));
    return static_cast<int>(std::max(1u, std::thread::hardware_concurrency()));
}

// 0 stands for None: as many threads as the process may use cores, counted
// only when an array call needs them.
int readThreads(py::handle threads) {
    if (threads.is_none()) return 0;
    const std::string expected = "threads must be a positive integer or None, found ";
    if (PyBool_Check(threads.ptr()) || !PyIndex_Check(threads.ptr())) {
        throw py::type_error(expected + shown(threads));
    }
    const Py_ssize_t count = PyNumber_AsSsize_t(threads.ptr(), nullptr);
    if (count == -1 && PyErr_Occurred()) throw py::error_already_set();
    if (count < 1) throw py::value_error(expected + shown(threads));
    return static_cast<int>(std::min<Py_ssize_t>(count, std::numeric_limits<int>::max()));
}

// NumPy's array of an argument, refused unless it holds numbers of the
// given kinds: NumPy's cast would turn None into NaN, and a complex size or
// angle into its real part with no more than a warning.
py::array numbers(py::handle value, const char* name, const char* kinds) {
    const py::array array = py::module_::import("numpy").attr("asarray")(value);
    const char kind = array.dtype().kind();
    if (std::strchr(kinds, kind) == nullptr) {
        const std::string wanted = std::strchr(kinds, 'c') ? " must be numbers" : " must be real numbers";
        const std::string found =
            array.ndim() == 0 ? shown(value) : "an array of " + py::str(array.dtype()).cast<std::string>();
        throw py::type_error(name + wanted + ", found " + found);
    }
    return array;
}

constexpr char kReal[] = "biuf";
constexpr char kComplex[] = "biufc";

struct Options {
    int threads;
    Invalid invalid;
};

Options readOptions(py::handle threads, py::handle invalid) {
    return {readThreads(threads), readInvalid(invalid)};
}

// The particles of a call, in C order of the broadcast shape of the four
// arguments: one given as Python numbers, or NumPy's broadcast of the four
// arguments copied C-contiguous.
class Particles {
public:
    explicit Particles(const Layers& l)
        : count_(1), sizes_{l.alpha1, l.alpha2}, indices_{{l.index1Re, l.index1Im}, {l.index2Re, l.index2Im}},
          alpha1_(&sizes_[0]), index1_(&indices_[0]), alpha2_(&sizes_[1]), index2_(&indices_[1]) {}

    Particles(py::handle alpha1, py::handle index1, py::handle alpha2, py::handle index2) {
        const py::sequence broadcast = py::module_::import("numpy").attr("broadcast_arrays")(
            numbers(alpha1, "alpha1", kReal), numbers(index1, "index1", kComplex),
            numbers(alpha2, "alpha2", kReal), numbers(index2, "index2", kComplex));
        const SizeArray a1(broadcast[0]), a2(broadcast[2]);
        const IndexArray n1(broadcast[1]), n2(broadcast[3]);
        shape_.assign(a1.shape(), a1.shape() + a1.ndim());
        count_ = static_cast<std::size_t>(a1.size());
        alpha1_ = a1.data();
        index1_ = n1.data();
        alpha2_ = a2.data();
        index2_ = n2.data();
        keepAlive_ = py::make_tuple(a1, n1, a2, n2);
    }

    Particles(const Particles&) = delete;
    Particles& operator=(const Particles&) = delete;

    // All four arguments are scalars: the shape is ().
    bool scalar() const { return shape_.empty(); }
    const std::vector<py::ssize_t>& shape() const { return shape_; }
    std::size_t size() const { return count_; }
    Layers operator[](std::size_t k) const {
        return {alpha1_[k], index1_[k].real(), index1_[k].imag(),
                alpha2_[k], index2_[k].real(), index2_[k].imag()};
    }

private:
    using SizeArray = py::array_t<double, py::array::c_style | py::array::forcecast>;
    using IndexArray = py::array_t<std::complex<double>, py::array::c_style | py::array::forcecast>;

    std::vector<py::ssize_t> shape_;
    std::size_t count_;
    double sizes_[2];
    std::complex<double> indices_[2];
    py::object keepAlive_;
    const double* alpha1_;
    const std::complex<double>* index1_;
    const double* alpha2_;
    const std::complex<double>* index2_;
};

// ---------------------------------------------------------------------------
// Threads.

// The scalar calls and a calling thread's share of an array call compute
// here, so that the tables grown for one call serve the next.
Engine& callingThreadEngine() {
    thread_local Engine engine;
    return engine;
}

// Calls work(engine, k) for k = 0 .. count - 1 on up to `threads` threads,
// the calling thread among them, each with an Engine of its own. Particle
// costs range over five orders of magnitude, so the indices are handed out in
// small chunks from a shared counter rather than split in equal ranges.
template <class Work>
void shareOut(std::size_t count, int threads, std::size_t chunk, const Work& work) {
    std::atomic<std::size_t> next{0};
    const auto run = [&](Engine& engine) {
        for (std::size_t first; (first = next.fetch_add(chunk, std::memory_order_relaxed)) < count;) {
            const std::size_t end = std::min(count, first + chunk);
            for (std::size_t k = first; k < end; ++k) work(engine, k);
        }
    };
    const std::size_t chunks = (count + chunk - 1) / chunk;
    if (chunks == 0) return;
    const std::size_t wanted = chunks == 1 ? 1 : threads > 0 ? threads : usableCores();
    const std::size_t helpers = std::min(wanted, chunks) - 1;
    std::vector<std::thread> pool;
    pool.reserve(helpers);
    for (std::size_t t = 0; t < helpers; ++t) {
        try {
            pool.emplace_back([&run] {
                Engine engine;
                run(engine);
            });
        } catch (const std::system_error&) {
            break;  // no more threads to be had: those running share the work
        }
    }
    run(callingThreadEngine());
    for (std::thread& t : pool) t.join();
}

// Computes particles[k] for every k and hands the engine to
// store(k, engine), or calls storeInvalid(k) for a particle the input rules
// refuse. With Invalid::raise every particle is checked before any is
// computed, and the first refused one raises ValueError. The GIL is released
// meanwhile; store and storeInvalid must not touch Python objects.
template <class Store, class StoreInvalid>
void computeAll(const Particles& particles, const Options& options, std::size_t chunk, const Store& store,
                const StoreInvalid& storeInvalid) {
    const std::size_t count = particles.size();
    std::atomic<std::size_t> firstInvalid{count};
    std::atomic<bool> outOfMemory{false};
    {
        py::gil_scoped_release release;
        if (options.invalid == Invalid::raise) {
            shareOut(count, options.threads, 64 * chunk, [&](Engine&, std::size_t k) {
                std::size_t first = firstInvalid.load(std::memory_order_relaxed);
                if (k >= first || valid(particles[k])) return;
                while (k < first && !firstInvalid.compare_exchange_weak(first, k)) continue;
            });
        }
        if (firstInvalid.load() == count) {
            shareOut(count, options.threads, chunk, [&](Engine& engine, std::size_t k) {
                const Layers layers = particles[k];
                if (options.invalid == Invalid::nan && !valid(layers)) {
                    storeInvalid(k);
                } else if (compute(engine, layers) == 0) {
                    outOfMemory.store(true, std::memory_order_relaxed);
                    storeInvalid(k);
                } else {
                    store(k, engine);
                }
            });
        }
    }
    if (outOfMemory.load()) throw std::bad_alloc();
    const std::size_t k = firstInvalid.load();
    if (k == count) return;
    const Layers layers = particles[k];
    std::string where;
    if (!particles.scalar()) {
        py::tuple shape(particles.shape().size());
        for (std::size_t d = 0; d < particles.shape().size(); ++d) shape[d] = particles.shape()[d];
        where = "particle at flat index " + std::to_string(k) + " of shape " + shown(shape) + ": ";
    }
    throw py::value_error(where + describe(check(layers), layers));
}

// ---------------------------------------------------------------------------
// The functions.

constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();

// collections.namedtuple("Efficiencies", ...), created once; the module keeps
// a reference for the life of the process.
py::handle efficienciesType;

// What the named tuple's own __new__ does, without its Python frame: the
// scalar call is the body of many a Python loop.
py::object makeEfficiencies(py::object N, py::object Kext, py::object Ksca, py::object Kabs, py::object Kback,
                            py::object Kpr, py::object g, py::object albedo) {
    const py::tuple fields = py::make_tuple(N, Kext, Ksca, Kabs, Kback, Kpr, g, albedo);
    const py::tuple arguments = py::make_tuple(fields);
    auto* type = reinterpret_cast<PyTypeObject*>(efficienciesType.ptr());
    PyObject* result = PyTuple_Type.tp_new(type, arguments.ptr(), nullptr);
    if (result == nullptr) throw py::error_already_set();
    return py::reinterpret_steal<py::object>(result);
}

py::object scalarEfficiencies(const Layers& layers, Invalid invalid) {
    const InputCheck c = check(layers);
    if (c.problem != InputProblem::none) {
        if (invalid == Invalid::raise) throw py::value_error(describe(c, layers));
        const py::float_ nan(kNaN);
        return makeEfficiencies(py::int_(0), nan, nan, nan, nan, nan, nan, nan);
    }
    Engine& engine = callingThreadEngine();
    int termCount;
    DerivedQuantityRecord d;
    {
        py::gil_scoped_release release;
        termCount = compute(engine, layers);
        d = engine.derivedQuantities();
    }
    if (termCount == 0) throw std::bad_alloc();
    const EfficiencyRecord& e = engine.efficiencies();
    return makeEfficiencies(py::int_(termCount), py::float_(e.Kext), py::float_(e.Ksca), py::float_(e.Kabs),
                            py::float_(d.Kback), py::float_(d.Kpr), py::float_(d.g), py::float_(d.albedo));
}

py::object efficiencies(py::handle alpha1, py::handle index1, py::handle alpha2, py::handle index2,
                        py::handle threads, py::handle invalid) {
    const Options options = readOptions(threads, invalid);
    Layers layers;
    if (readLayers(alpha1, index1, alpha2, index2, layers)) {
        return scalarEfficiencies(layers, options.invalid);
    }
    const Particles particles(alpha1, index1, alpha2, index2);
    if (particles.scalar()) return scalarEfficiencies(particles[0], options.invalid);

    py::array_t<std::int64_t> N(particles.shape());
    std::int64_t* n = N.mutable_data();
    std::vector<py::array_t<double>> columns;
    double* values[7];
    for (int c = 0; c < 7; ++c) values[c] = columns.emplace_back(particles.shape()).mutable_data();
    computeAll(
        particles, options, 16,
        [&](std::size_t k, Engine& engine) {
            const EfficiencyRecord& e = engine.efficiencies();
            const DerivedQuantityRecord d = engine.derivedQuantities();
            const double row[7] = {e.Kext, e.Ksca, e.Kabs, d.Kback, d.Kpr, d.g, d.albedo};
            n[k] = engine.termCount();
            for (int c = 0; c < 7; ++c) values[c][k] = row[c];
        },
        [&](std::size_t k) {
            n[k] = 0;
            for (int c = 0; c < 7; ++c) values[c][k] = kNaN;
        });
    return efficienciesType(N, columns[0], columns[1], columns[2], columns[3], columns[4], columns[5],
                            columns[6]);
}

using DoubleArray = py::array_t<double, py::array::c_style | py::array::forcecast>;
using ComplexArray = py::array_t<std::complex<double>, py::array::c_style>;

// What the angular functions give at each angle.
enum class Angular { intensities, amplitudes, mueller, phaseFunction };

// Writes the values of the engine's last computation at the angles theta
// (radians) for one particle: `columns` arrays of theta.size() doubles at
// out[0..columns), or, for the amplitudes, two complex arrays (S1, S2) at
// out[0] and out[1] seen as interleaved doubles.
void evaluate(Angular kind, const Engine& engine, const std::vector<double>& theta, double* const* out,
              std::vector<double>& scratch) {
    constexpr std::size_t kMostAtOnce = std::numeric_limits<int>::max();
    for (std::size_t first = 0; first < theta.size(); first += kMostAtOnce) {
        const int count = static_cast<int>(std::min(kMostAtOnce, theta.size() - first));
        const double* angles = theta.data() + first;
        switch (kind) {
            case Angular::intensities:
                engine.intensities(angles, count, out[0] + first, out[1] + first);
                break;
            case Angular::mueller:
                engine.mueller(angles, count, {out[0] + first, out[1] + first, out[2] + first, out[3] + first});
                break;
            case Angular::phaseFunction:
                engine.phaseFunction(angles, count, out[0] + first);
                break;
            case Angular::amplitudes: {
                scratch.resize(4 * static_cast<std::size_t>(count));
                double* parts = scratch.data();
                engine.amplitudes(angles, count, {parts, parts + count, parts + 2 * count, parts + 3 * count});
                for (int i = 0; i < count; ++i) {
                    out[0][2 * (first + i)] = parts[i];
                    out[0][2 * (first + i) + 1] = parts[count + i];
                    out[1][2 * (first + i)] = parts[2 * count + i];
                    out[1][2 * (first + i) + 1] = parts[3 * count + i];
                }
                break;
            }
        }
    }
}

py::object angular(Angular kind, py::handle alpha1, py::handle index1, py::handle alpha2, py::handle index2,
                   py::handle angles, py::handle threads, py::handle invalid) {
    const Options options = readOptions(threads, invalid);
    const DoubleArray anglesDegrees(numbers(angles, "angles", kReal));
    Layers layers;
    const bool numbers = readLayers(alpha1, index1, alpha2, index2, layers);
    const Particles particles = numbers ? Particles(layers) : Particles(alpha1, index1, alpha2, index2);
    std::vector<py::ssize_t> shape = particles.shape();
    shape.insert(shape.end(), anglesDegrees.shape(), anglesDegrees.shape() + anglesDegrees.ndim());

    // Degrees to radians as the program converts them: angle * (pi / 180),
    // pi = 4 atan(1).
    const double radiansPerDegree = 4.0 * std::atan(1.0) / 180.0;
    const std::size_t angleCount = static_cast<std::size_t>(anglesDegrees.size());
    std::vector<double> theta(angleCount);
    for (std::size_t i = 0; i < angleCount; ++i) theta[i] = anglesDegrees.data()[i] * radiansPerDegree;

    const int columns = kind == Angular::phaseFunction ? 1 : kind == Angular::mueller ? 4 : 2;
    // Doubles per particle in each output array: complex amplitudes take two.
    const std::size_t stride = (kind == Angular::amplitudes ? 2 : 1) * angleCount;
    std::vector<py::array> arrays;
    double* data[4];
    for (int c = 0; c < columns; ++c) {
        if (kind == Angular::amplitudes) {
            ComplexArray a(shape);
            data[c] = reinterpret_cast<double*>(a.mutable_data());
            arrays.push_back(a);
        } else {
            DoubleArray a(shape);
            data[c] = a.mutable_data();
            arrays.push_back(a);
        }
    }
    const std::size_t chunk = std::max<std::size_t>(1, 16 / (1 + angleCount));
    computeAll(
        particles, options, chunk,
        [&](std::size_t k, Engine& engine) {
            thread_local std::vector<double> scratch;
            double* out[4];
            for (int c = 0; c < columns; ++c) out[c] = data[c] + k * stride;
            evaluate(kind, engine, theta, out, scratch);
        },
        [&](std::size_t k) {
            for (int c = 0; c < columns; ++c) std::fill_n(data[c] + k * stride, stride, kNaN);
        });
    if (columns == 1) return arrays[0];
    py::tuple result(columns);
    for (int c = 0; c < columns; ++c) result[c] = arrays[c];
    return result;
}

py::object legendreMoments(py::handle alpha1, py::handle index1, py::handle alpha2, py::handle index2,
                           py::handle count, py::handle threads, py::handle invalid) {
    const Options options = readOptions(threads, invalid);
    Layers layers;
    const bool numbers = readLayers(alpha1, index1, alpha2, index2, layers);
    const Particles particles = numbers ? Particles(layers) : Particles(alpha1, index1, alpha2, index2);
    std::size_t moments = 0;
    if (count.is_none()) {
        // All 2N + 1 of the particle with the most terms; the others' are
        // padded with their exact zeros.
        for (std::size_t k = 0; k < particles.size(); ++k) {
            const Layers l = particles[k];
            if (!valid(l)) continue;
            const int termCount = termCountFor(std::max(l.alpha1, l.alpha2));
            moments = std::max(moments, 2 * static_cast<std::size_t>(termCount) + 1);
        }
    } else {
        const std::string expected = "count must be a non-negative integer or None, found ";
        if (PyBool_Check(count.ptr()) || !PyIndex_Check(count.ptr())) throw py::type_error(expected + shown(count));
        const Py_ssize_t n = PyNumber_AsSsize_t(count.ptr(), nullptr);
        if (n == -1 && PyErr_Occurred()) throw py::error_already_set();
        if (n < 0 || n > std::numeric_limits<int>::max()) throw py::value_error(expected + shown(count));
        moments = static_cast<std::size_t>(n);
    }
    std::vector<py::ssize_t> shape = particles.shape();
    shape.push_back(static_cast<py::ssize_t>(moments));
    DoubleArray chi(shape);
    double* out = chi.mutable_data();
    std::atomic<bool> outOfMemory{false};
    computeAll(
        particles, options, 1,
        [&](std::size_t k, Engine& engine) {
            if (!engine.legendreMoments(static_cast<int>(moments), out + k * moments)) {
                outOfMemory.store(true, std::memory_order_relaxed);
            }
        },
        [&](std::size_t k) { std::fill_n(out + k * moments, moments, kNaN); });
    if (outOfMemory.load()) throw std::bad_alloc();
    return chi;
}

// Where the input rules refuse the particles, without computing them.
py::array refused(py::handle alpha1, py::handle index1, py::handle alpha2, py::handle index2) {
    const Particles particles(alpha1, index1, alpha2, index2);
    py::array_t<bool> result(particles.shape());
    bool* out = result.mutable_data();
    for (std::size_t k = 0; k < particles.size(); ++k) out[k] = !valid(particles[k]);
    return std::move(result);
}

// The Safeguard bits each particle's computation takes (0 for a refused one).
py::array safeguards(py::handle alpha1, py::handle index1, py::handle alpha2, py::handle index2) {
    const Particles particles(alpha1, index1, alpha2, index2);
    py::array_t<std::uint8_t> result(particles.shape());
    std::uint8_t* out = result.mutable_data();
    Engine engine;
    for (std::size_t k = 0; k < particles.size(); ++k) {
        out[k] = valid(particles[k]) && compute(engine, particles[k]) > 0
                     ? static_cast<std::uint8_t>(engine.safeguards())
                     : 0;
    }
    return std::move(result);
}

}  // namespace
}  // namespace coatedmie

PYBIND11_MODULE(_engine, m) {
    using namespace coatedmie;
    m.doc() = "The compiled part of coatedmie; use the package.";
    py::options options;
    options.disable_function_signatures();
    m.attr("__version__") = COATEDMIE_VERSION;

    const py::tuple fields = py::make_tuple("N", "Kext", "Ksca", "Kabs", "Kback", "Kpr", "g", "albedo");
    py::object type = py::module_::import("collections")
                          .attr("namedtuple")("Efficiencies", fields, py::arg("module") = "coatedmie");
    type.attr("__doc__") = R"(Efficiencies and derived quantities of a coated sphere.

N       number of series terms (0 for a particle refused with invalid="nan")
Kext    extinction efficiency
Ksca    scattering efficiency
Kabs    absorption efficiency, Kext - Ksca, exactly 0 below 1e-10 of Kext
Kback   backscattering efficiency, 4 |S1(180 deg)|^2 / y^2
Kpr     radiation-pressure efficiency, Kext - g Ksca
g       asymmetry parameter, the mean cosine of the scattering angle
albedo  single-scattering albedo Ksca / Kext, exactly 1 when Kabs is 0
All efficiencies refer to the same cross-section as Kext. For one particle
given as scalars the fields are Python numbers, for arrays of particles
arrays of their broadcast shape.)";
    m.attr("Efficiencies") = type;
    efficienciesType = type.inc_ref();

    m.def("efficiencies", &efficiencies, py::arg("alpha1"), py::arg("index1"), py::arg("alpha2"),
          py::arg("index2"), py::kw_only(), py::arg("threads") = py::none(), py::arg("invalid") = "raise",
          R"(efficiencies(alpha1, index1, alpha2, index2, *, threads=None, invalid="raise")

Efficiencies(N, Kext, Ksca, Kabs, Kback, Kpr, g, albedo) of the coated spheres
made of the layers (alpha1, index1) and (alpha2, index2), in either order.

Each argument is a number or an array; arrays broadcast against each other as
in NumPy, and each field of the result is an array of the broadcast shape (N
of integers), element for element bit for bit what the call for that one
particle gives. threads: how many threads share the particles (None: one per
core the process may use). invalid="raise" raises ValueError naming the first
refused particle before computing any; invalid="nan" gives it N = 0 and NaN.)");
    const auto angularFunction = [&m](const char* name, Angular kind, const char* doc) {
        m.def(
            name,
            [kind](py::handle alpha1, py::handle index1, py::handle alpha2, py::handle index2, py::handle angles,
                   py::handle threads, py::handle invalid) {
                return angular(kind, alpha1, index1, alpha2, index2, angles, threads, invalid);
            },
            py::arg("alpha1"), py::arg("index1"), py::arg("alpha2"), py::arg("index2"), py::arg("angles"),
            py::kw_only(), py::arg("threads") = py::none(), py::arg("invalid") = "raise", doc);
    };
    angularFunction("intensities", Angular::intensities,
                    R"(intensities(alpha1, index1, alpha2, index2, angles, *, threads=None, invalid="raise")

(I1, I2): the unnormalised intensities |S1|^2 and |S2|^2 at the scattering
angles in degrees (an array of any shape), converted to radians exactly as the
program does.

The particles broadcast as in efficiencies(); the results have the particles'
broadcast shape followed by the angles' shape. threads and invalid as in
efficiencies(); a refused particle gets NaN at every angle.)");
    angularFunction("amplitudes", Angular::amplitudes,
                    R"(amplitudes(alpha1, index1, alpha2, index2, angles, *, threads=None, invalid="raise")

(S1, S2): the complex amplitude functions at the scattering angles in degrees,
from the same sums as intensities(), so that |S1|^2 is I1 from the same
doubles. Unnormalised like I1 and I2. They follow the sign convention of the
indices: indices n - ik give the complex conjugates of the amplitudes of
n + ik. Shapes, threads and invalid as in intensities().)");
    angularFunction("mueller", Angular::mueller,
                    R"(mueller(alpha1, index1, alpha2, index2, angles, *, threads=None, invalid="raise")

(S11, S12, S33, S34): the Mueller matrix of the sphere at the scattering
angles in degrees, unnormalised like I1 and I2, in the convention of Bohren
and Huffman (time factor exp(-i omega t)):
    S11 = (|S2|^2 + |S1|^2)/2    S12 = (|S2|^2 - |S1|^2)/2
    S33 = Re(S2 S1*)             S34 = Im(S2 S1*)
with S22 = S11, S44 = S33, S21 = S12, S43 = -S34 and the other elements 0.
Both sign conventions of the indices give the same elements. -S12/S11 is the
degree of linear polarisation for unpolarised incident light. Shapes, threads
and invalid as in intensities().)");
    angularFunction("phase_function", Angular::phaseFunction,
                    R"(phase_function(alpha1, index1, alpha2, index2, angles, *, threads=None, invalid="raise")

The phase function p = 2 (I1 + I2) / (s^2 Ksca) at the scattering angles in
degrees, s^2 the squared size parameter the efficiencies refer to: normalised
so that its mean over all directions is 1 (its integral over the sphere is
4 pi). Shapes, threads and invalid as in intensities().)");
    m.def("_refused", &refused, py::arg("alpha1"), py::arg("index1"), py::arg("alpha2"), py::arg("index2"),
          "Where the input rules refuse the particles (broadcast as in efficiencies), without computing them.");
    m.def(
        "vector_path", [] { return std::string(vectorPathName(vectorPath())); },
        R"(vector_path()

The name of the vector path the engine's kernels run on: "portable" (SSE2 on
x86-64), "avx2" or "avx512". By default the widest this processor runs, or a
narrower one that the environment variable COATEDMIE_VECTOR_PATH names. Every
path gives the same bits.)");
    m.def(
        "set_vector_path",
        [](const std::string& name) {
            VectorPath path;
            if (!vectorPathFromName(name.c_str(), path)) {
                throw py::value_error("unknown vector path " + shown(py::str(name)) +
                                      "; the paths are 'portable', 'avx2' and 'avx512'");
            }
            if (!setVectorPath(path)) {
                throw py::value_error("this processor does not run the vector path " + shown(py::str(name)) +
                                      "; the widest it runs is " + shown(py::str(vectorPathName(vectorPath()))));
            }
        },
        py::arg("name"),
        R"(set_vector_path(name)

Runs the engine's kernels on the vector path `name` ("portable", "avx2" or
"avx512") from now on, in every thread. Raises ValueError for a name it does
not know or a path this processor does not run. The results are the same bits
on every path: this is for tests, benchmarks and reproducing a machine's
timings.)");
    m.def("_safeguards", &safeguards, py::arg("alpha1"), py::arg("index1"), py::arg("alpha2"), py::arg("index2"),
          "The engine's Safeguard bits for each particle (broadcast as in efficiencies): 1 start values from "
          "the tables, 2 an exact zero avoided, 4 lossless coefficients put on their circle, 8 a vacuum shell's "
          "core computed alone, 16 a negative Kabs within rounding set to 0.");
    m.def("legendre_moments", &legendreMoments, py::arg("alpha1"), py::arg("index1"), py::arg("alpha2"),
          py::arg("index2"), py::arg("count") = py::none(), py::kw_only(), py::arg("threads") = py::none(),
          py::arg("invalid") = "raise",
          R"(legendre_moments(alpha1, index1, alpha2, index2, count=None, *, threads=None, invalid="raise")

The Legendre moments chi_0 .. chi_{count-1} of the phase function,
p(cos theta) = sum_l (2l + 1) chi_l P_l(cos theta), along the last axis: chi_0 = 1
and chi_1 = g, the normalisation discrete-ordinates codes take. With N series
terms p is a polynomial of degree 2N in cos theta, so chi_0 .. chi_2N describe it
exactly and every later moment is 0; count=None gives all 2N + 1 (of the
particle with the most terms, the others padded with their zeros). Near double
precision for every N, by a Gauss-Legendre rule that integrates exactly; the
time grows like N (N + count/2): milliseconds at N = 1000, about a second at
N = 10^4 for all moments, a minute at N = 10^5. Shapes, threads and invalid as
in efficiencies(), the moments added as the last axis.)");}
