// coatedmie._engine, the compiled part of the Python package: efficiencies
// and angular intensities of coated spheres, for one particle or for arrays of
// them shared out over threads, each thread with an Engine of its own. The
// package's __init__.py re-exports what is defined here; the conventions are
// documented there.
#include <algorithm>
#include <atomic>
#include <chrono>
#include <cmath>
#include <condition_variable>
#include <complex>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <mutex>
#include <new>
#include <string>
#include <system_error>
#include <thread>
#include <vector>

#include <sched.h>
#include <signal.h>
#include <unistd.h>

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

// The engine's words, with the values as Python shows them.
std::string describe(const InputCheck& c, const Layers& l) {
    static const LayerNames kNames[2] = {{"alpha1", "index1"}, {"alpha2", "index2"}};
    const double values[6] = {l.alpha1, l.index1Re, l.index1Im, l.alpha2, l.index2Re, l.index2Im};
    std::string shownValues[6];
    for (int k = 0; k < 6; ++k) shownValues[k] = shown(values[k]);
    return refusalText(c, kNames, shownValues);
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
// Results larger than the machine.

// Bytes of memory the process may have: the physical memory, or the cgroup's
// limit where that is lower.
double machineMemory() {
    const long pages = sysconf(_SC_PHYS_PAGES);
    const long pageSize = sysconf(_SC_PAGE_SIZE);
    double bytes = pages > 0 && pageSize > 0 ? double(pages) * double(pageSize) : HUGE_VAL;
    if (FILE* limit = std::fopen("/sys/fs/cgroup/memory.max", "r")) {
        unsigned long long value;
        if (std::fscanf(limit, "%llu", &value) == 1) bytes = std::min(bytes, double(value));
        std::fclose(limit);
    }
    return bytes;
}

std::string shapeText(const std::vector<py::ssize_t>& shape) {
    py::tuple t(shape.size());
    for (std::size_t d = 0; d < shape.size(); ++d) t[d] = shape[d];
    return shown(t);
}

std::string gibibytes(double bytes) {
    char text[32];
    std::snprintf(text, sizeof text, "%.1f GiB", bytes / 1073741824.0);
    return text;
}

// Refuses, before anything is allocated, a result of `arrays` arrays of the
// shape that the machine could not hold: overcommitted memory would let the
// arrays be created and the process be killed while filling them.
void refuseBeyondMemory(const char* function, int arrays, const char* type, std::size_t itemSize,
                        const std::vector<py::ssize_t>& shape) {
    double bytes = double(arrays) * double(itemSize);
    for (const py::ssize_t extent : shape) bytes *= double(extent);
    const double memory = machineMemory();
    if (bytes <= memory) return;
    const std::string what = arrays == 1 ? "an array" : std::to_string(arrays) + " arrays";
    const std::string text = std::string(function) + ": the result, " + what + " of " + type + " of shape " +
                             shapeText(shape) + ", would take " + gibibytes(bytes) + ", more than the " +
                             gibibytes(memory) + " of memory of this machine";
    PyErr_SetString(PyExc_MemoryError, text.c_str());
    throw py::error_already_set();
}

// ---------------------------------------------------------------------------
// Interruption.

// SIGINTs and stop requests since the module was loaded. An array call stops
// at the next particle once this differs from its value at the start, in
// every thread, so that Ctrl-C also ends the calls that run outside the main
// thread (Dask's, for lookup tables), where Python's handlers never run.
std::atomic<unsigned long> stopRequests{0};
static_assert(std::atomic<unsigned long>::is_always_lock_free, "read and written in a signal handler");
std::atomic<PyOS_sighandler_t> chainedSigint{nullptr};

void countSigint(int signal) {
    stopRequests.fetch_add(1, std::memory_order_relaxed);
    chainedSigint.load(std::memory_order_relaxed)(signal);
}

// Puts countSigint in front of Python's own SIGINT handler, while that raises
// KeyboardInterrupt: a program with another handler may want the work to go
// on. signal.signal() installs Python's handler again, which ends the chain.
void chainSigint() {
    const PyOS_sighandler_t current = PyOS_getsig(SIGINT);
    if (current == countSigint || current == SIG_DFL || current == SIG_IGN || current == SIG_ERR) return;
    const py::module_ signal = py::module_::import("signal");
    if (!signal.attr("getsignal")(SIGINT).is(signal.attr("default_int_handler"))) return;
    chainedSigint.store(current);
    PyOS_setsig(SIGINT, countSigint);
}

// One array call's view of interruption. The calling thread polls Python's
// signal handlers every kPollInterval, taking the GIL only for that; the
// threads computing stop before their next particle once a stop is requested.
class Interruption {
public:
    Interruption() : start_(stopRequests.load()) { chainSigint(); }

    bool requested() const {
        return stopped_.load(std::memory_order_relaxed) || stopRequests.load(std::memory_order_relaxed) != start_;
    }

    // Called by the calling thread without the GIL.
    void poll() {
        if (stopped_.load(std::memory_order_relaxed)) return;
        const auto now = Clock::now();
        if (now < nextPoll_ && stopRequests.load(std::memory_order_relaxed) == start_) return;
        nextPoll_ = now + kPollInterval;
        py::gil_scoped_acquire gil;
        if (PyErr_CheckSignals() != 0 || stopRequests.load() != start_) {
            // Outside the main thread Python runs no handler: the stop is
            // reported as the KeyboardInterrupt it comes from.
            if (!PyErr_Occurred()) PyErr_SetNone(PyExc_KeyboardInterrupt);
            stopped_.store(true);
        }
    }

    // With the GIL, once every thread has stopped.
    void raiseIfStopped() {
        if (stopped_.load() || stopRequests.load() != start_) {
            if (!PyErr_Occurred() && PyErr_CheckSignals() == 0) PyErr_SetNone(PyExc_KeyboardInterrupt);
            throw py::error_already_set();
        }
    }

private:
    using Clock = std::chrono::steady_clock;
    static constexpr std::chrono::milliseconds kPollInterval{50};
    const unsigned long start_;
    std::atomic<bool> stopped_{false};
    Clock::time_point nextPoll_ = Clock::now() + kPollInterval;
};

// ---------------------------------------------------------------------------
// Threads.

// The scalar calls and a calling thread's share of an array call compute
// here, so that the tables grown for one call serve the next.
Engine& callingThreadEngine() {
    thread_local Engine engine;
    return engine;
}

// Calls work(engine, k) for k = 0 .. count - 1 on up to `threads` threads
// (0: one per core), never more than the cores the process may use or the
// chunks there are, the calling thread among them, each with an Engine of its
// own. Particle costs range over five orders of magnitude, so the indices are
// handed out in small chunks from a shared counter rather than split in equal
// ranges. Stops early, between particles, when interrupted.
template <class Work>
void shareOut(std::size_t count, int threads, std::size_t chunk, Interruption& interruption, const Work& work) {
    std::atomic<std::size_t> next{0};
    const auto run = [&](Engine& engine, bool polling) {
        for (std::size_t first; (first = next.fetch_add(chunk, std::memory_order_relaxed)) < count;) {
            const std::size_t end = std::min(count, first + chunk);
            for (std::size_t k = first; k < end; ++k) {
                if (polling) interruption.poll();
                if (interruption.requested()) return;
                work(engine, k);
            }
        }
    };
    const std::size_t chunks = (count + chunk - 1) / chunk;
    if (chunks == 0) return;
    const std::size_t cores = static_cast<std::size_t>(usableCores());
    const std::size_t wanted = threads > 0 ? std::min(static_cast<std::size_t>(threads), cores) : cores;
    const std::size_t helpers = std::min(wanted, chunks) - 1;
    std::mutex mutex;
    std::condition_variable finished;
    std::size_t running = 0;
    std::vector<std::thread> pool;
    pool.reserve(helpers);
    for (std::size_t t = 0; t < helpers; ++t) {
        {
            const std::lock_guard<std::mutex> lock(mutex);
            ++running;
        }
        try {
            pool.emplace_back([&] {
                {
                    Engine engine;
                    run(engine, false);
                }
                const std::lock_guard<std::mutex> lock(mutex);
                --running;
                finished.notify_one();
            });
        } catch (const std::system_error&) {
            const std::lock_guard<std::mutex> lock(mutex);
            --running;
            break;  // no more threads to be had: those running share the work
        }
    }
    run(callingThreadEngine(), true);
    std::unique_lock<std::mutex> lock(mutex);
    while (running > 0) {
        if (finished.wait_for(lock, std::chrono::milliseconds(50), [&] { return running == 0; })) break;
        lock.unlock();
        interruption.poll();
        lock.lock();
    }
    lock.unlock();
    for (std::thread& t : pool) t.join();
}

// Computes particles[k] for every k and hands the engine to
// store(k, engine), or calls storeInvalid(k) for a particle the input rules
// refuse. With Invalid::raise every particle is checked before any is
// computed, and the first refused one raises ValueError. The GIL is released
// meanwhile; store and storeInvalid must not touch Python objects.
template <class Compute, class Store, class StoreInvalid>
void computeAllWith(const Particles& particles, const Options& options, std::size_t chunk, const Compute& computeOne,
                    const Store& store, const StoreInvalid& storeInvalid) {
    const std::size_t count = particles.size();
    std::atomic<std::size_t> firstInvalid{count};
    std::atomic<bool> outOfMemory{false};
    Interruption interruption;
    {
        py::gil_scoped_release release;
        if (options.invalid == Invalid::raise) {
            shareOut(count, options.threads, 64 * chunk, interruption, [&](Engine&, std::size_t k) {
                std::size_t first = firstInvalid.load(std::memory_order_relaxed);
                if (k >= first || valid(particles[k])) return;
                while (k < first && !firstInvalid.compare_exchange_weak(first, k)) continue;
            });
        }
        if (firstInvalid.load() == count && !interruption.requested()) {
            shareOut(count, options.threads, chunk, interruption, [&](Engine& engine, std::size_t k) {
                const Layers layers = particles[k];
                if (options.invalid == Invalid::nan && !valid(layers)) {
                    storeInvalid(k);
                } else if (computeOne(engine, k, layers) == 0) {
                    outOfMemory.store(true, std::memory_order_relaxed);
                    storeInvalid(k);
                } else {
                    store(k, engine);
                }
            });
        }
    }
    interruption.raiseIfStopped();
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

template <class Store, class StoreInvalid>
void computeAll(const Particles& particles, const Options& options, std::size_t chunk, const Store& store,
                const StoreInvalid& storeInvalid) {
    computeAllWith(
        particles, options, chunk, [](Engine& engine, std::size_t, const Layers& layers) { return compute(engine, layers); },
        store, storeInvalid);
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

// The term counts and the seven values of Efficiencies, one entry per
// particle.
struct EfficiencyColumns {
    py::array_t<std::int64_t> N;
    std::int64_t* n;  // the arrays' storage, written by the worker threads
    std::vector<py::array_t<double>> columns;
    double* values[7];

    explicit EfficiencyColumns(const std::vector<py::ssize_t>& shape) : N(shape), n(N.mutable_data()) {
        for (int c = 0; c < 7; ++c) values[c] = columns.emplace_back(shape).mutable_data();
    }
    void store(std::size_t k, const Engine& engine) {
        const EfficiencyRecord& e = engine.efficiencies();
        const DerivedQuantityRecord d = engine.derivedQuantities();
        const double row[7] = {e.Kext, e.Ksca, e.Kabs, d.Kback, d.Kpr, d.g, d.albedo};
        n[k] = engine.termCount();
        for (int c = 0; c < 7; ++c) values[c][k] = row[c];
    }
    void storeNaN(std::size_t k) {
        n[k] = 0;
        for (int c = 0; c < 7; ++c) values[c][k] = kNaN;
    }
    // One Efficiencies record of arrays, or of numbers for a single particle.
    py::object record(bool scalar) {
        if (scalar) {
            const auto number = [&](int c) { return py::float_(*columns[c].data()); };
            return makeEfficiencies(py::int_(*N.data()), number(0), number(1), number(2), number(3), number(4),
                                    number(5), number(6));
        }
        return efficienciesType(N, columns[0], columns[1], columns[2], columns[3], columns[4], columns[5],
                                columns[6]);
    }
};

py::object efficiencies(py::handle alpha1, py::handle index1, py::handle alpha2, py::handle index2,
                        py::handle threads, py::handle invalid) {
    const Options options = readOptions(threads, invalid);
    Layers layers;
    if (readLayers(alpha1, index1, alpha2, index2, layers)) {
        return scalarEfficiencies(layers, options.invalid);
    }
    const Particles particles(alpha1, index1, alpha2, index2);
    if (particles.scalar()) return scalarEfficiencies(particles[0], options.invalid);

    refuseBeyondMemory("efficiencies", 8, "8-byte numbers", 8, particles.shape());
    EfficiencyColumns out(particles.shape());
    computeAll(
        particles, options, 16, [&](std::size_t k, Engine& engine) { out.store(k, engine); },
        [&](std::size_t k) { out.storeNaN(k); });
    return out.record(false);
}

// Values as efficiencies() gives them, and their derivatives: an array of the
// particles' shape + (7, 6), quantities Kext, Ksca, Kabs, Kback, Kpr, g,
// albedo, parameters index1.real, index1.imag (k of n + ik), alpha1,
// index2.real, index2.imag, alpha2.
py::tuple derivatives(py::handle alpha1, py::handle index1, py::handle alpha2, py::handle index2, py::handle threads,
                      py::handle invalid) {
    const Options options = readOptions(threads, invalid);
    const Particles particles(alpha1, index1, alpha2, index2);
    refuseBeyondMemory("derivatives", 50, "8-byte numbers", 8, particles.shape());
    std::vector<py::ssize_t> jacobianShape(particles.shape().begin(), particles.shape().end());
    jacobianShape.push_back(7);
    jacobianShape.push_back(6);
    py::array_t<double> jacobian(jacobianShape);
    double* jac = jacobian.mutable_data();
    EfficiencyColumns out(particles.shape());
    computeAllWith(
        particles, options, 8,
        [&](Engine& engine, std::size_t k, const Layers& layers) {
            Derivatives d;
            const int terms = engine.compute(first(layers), second(layers), d);
            if (terms == 0) return terms;
            const DerivativeRecord* columnsOf[6] = {&d.first.indexRe,  &d.first.indexIm,  &d.first.size,
                                                    &d.second.indexRe, &d.second.indexIm, &d.second.size};
            double* row = jac + 42 * k;
            for (int p = 0; p < 6; ++p) {
                const DerivativeRecord& r = *columnsOf[p];
                const double quantities[7] = {r.Kext, r.Ksca, r.Kabs, r.Kback, r.Kpr, r.g, r.albedo};
                for (int q = 0; q < 7; ++q) row[6 * q + p] = quantities[q];
            }
            return terms;
        },
        [&](std::size_t k, Engine& engine) { out.store(k, engine); },
        [&](std::size_t k) {
            out.storeNaN(k);
            for (int q = 0; q < 42; ++q) jac[42 * k + q] = kNaN;
        });
    return py::make_tuple(out.record(particles.scalar()), jacobian);
}

using DoubleArray = py::array_t<double, py::array::c_style | py::array::forcecast>;
using ComplexArray = py::array_t<std::complex<double>, py::array::c_style>;

// What the angular functions give at each angle.
enum class Angular { intensities, amplitudes, mueller, phaseFunction };

int columnsOf(Angular kind) { return kind == Angular::phaseFunction ? 1 : kind == Angular::mueller ? 4 : 2; }

// Writes the values of the engine's last computation at the angles theta
// (radians) for one particle: columnsOf(kind) arrays of theta.size() doubles
// at out[0..), or, for the amplitudes, two complex arrays (S1, S2) at out[0]
// and out[1] seen as interleaved doubles.
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

// The arrays of the given kinds, in their order, for particles at angles in
// degrees: one array if that is all, else a tuple.
py::object angular(const char* function, std::vector<Angular> kinds, py::handle alpha1, py::handle index1,
                   py::handle alpha2, py::handle index2, py::handle angles, py::handle threads, py::handle invalid) {
    const Options options = readOptions(threads, invalid);
    const DoubleArray anglesDegrees(numbers(angles, "angles", kReal));
    const std::size_t angleCount = static_cast<std::size_t>(anglesDegrees.size());
    if (options.invalid == Invalid::raise) {
        const double* degrees = anglesDegrees.data();
        const auto bad = std::find_if(degrees, degrees + angleCount, [](double a) { return !std::isfinite(a); });
        if (bad != degrees + angleCount) {
            const std::vector<py::ssize_t> shape(anglesDegrees.shape(), anglesDegrees.shape() + anglesDegrees.ndim());
            const std::string where = shape.empty() ? "" : " at flat index " + std::to_string(bad - degrees) +
                                                               " of shape " + shapeText(shape);
            throw py::value_error("angles must be finite, found " + shown(*bad) + where);
        }
    }
    Layers layers;
    const bool given = readLayers(alpha1, index1, alpha2, index2, layers);
    const Particles particles = given ? Particles(layers) : Particles(alpha1, index1, alpha2, index2);
    std::vector<py::ssize_t> shape = particles.shape();
    shape.insert(shape.end(), anglesDegrees.shape(), anglesDegrees.shape() + anglesDegrees.ndim());

    int columns = 0, complexColumns = 0;
    for (const Angular kind : kinds) (kind == Angular::amplitudes ? complexColumns : columns) += columnsOf(kind);
    refuseBeyondMemory(function, columns + complexColumns, complexColumns == 0 ? "float64" : "float64 and complex128",
                       complexColumns == 0 ? 8 : 8 + 8 * complexColumns / (columns + complexColumns), shape);

    // Degrees to radians as the program converts them: angle * (pi / 180),
    // pi = 4 atan(1).
    const double radiansPerDegree = 4.0 * std::atan(1.0) / 180.0;
    std::vector<double> theta(angleCount);
    for (std::size_t i = 0; i < angleCount; ++i) theta[i] = anglesDegrees.data()[i] * radiansPerDegree;

    std::vector<py::array> arrays;
    std::vector<double*> data;
    std::vector<std::size_t> strides;  // doubles per particle: complex amplitudes take two
    for (const Angular kind : kinds) {
        for (int c = 0; c < columnsOf(kind); ++c) {
            if (kind == Angular::amplitudes) {
                ComplexArray a(shape);
                data.push_back(reinterpret_cast<double*>(a.mutable_data()));
                strides.push_back(2 * angleCount);
                arrays.push_back(a);
            } else {
                DoubleArray a(shape);
                data.push_back(a.mutable_data());
                strides.push_back(angleCount);
                arrays.push_back(a);
            }
        }
    }
    const std::size_t chunk = std::max<std::size_t>(1, 16 / (1 + angleCount));
    computeAll(
        particles, options, chunk,
        [&](std::size_t k, Engine& engine) {
            thread_local std::vector<double> scratch;
            std::size_t c = 0;
            for (const Angular kind : kinds) {
                double* out[4];
                for (int j = 0; j < columnsOf(kind); ++j, ++c) out[j] = data[c] + k * strides[c];
                evaluate(kind, engine, theta, out, scratch);
            }
        },
        [&](std::size_t k) {
            for (std::size_t c = 0; c < data.size(); ++c) std::fill_n(data[c] + k * strides[c], strides[c], kNaN);
        });
    if (arrays.size() == 1) return arrays[0];
    py::tuple result(arrays.size());
    for (std::size_t c = 0; c < arrays.size(); ++c) result[c] = arrays[c];
    return result;
}

py::object legendreMoments(py::handle alpha1, py::handle index1, py::handle alpha2, py::handle index2,
                           py::handle count, py::handle threads, py::handle invalid) {
    const Options options = readOptions(threads, invalid);
    Layers layers;
    const bool given = readLayers(alpha1, index1, alpha2, index2, layers);
    const Particles particles = given ? Particles(layers) : Particles(alpha1, index1, alpha2, index2);
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
    // The engine computes at most the 2N + 1 moments that are not 0 and
    // writes the zeros beyond; a count beyond them costs only the zeros'
    // memory.
    refuseBeyondMemory("legendre_moments", 1, "float64", 8, shape);
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

const char* ruleName(InputProblem problem) {
    switch (problem) {
        case InputProblem::notFinite: return "not_finite";
        case InputProblem::notPositive: return "not_positive";
        case InputProblem::outerSizeTooSmall: return "outer_size_too_small";
        case InputProblem::coreSizeTooSmall: return "core_size_too_small";
        case InputProblem::indexTooSmall: return "index_too_small";
        case InputProblem::negativeRealPart: return "negative_real_part";
        case InputProblem::beyondCapacity: return "beyond_capacity";
        case InputProblem::indexTimesSizeTooLarge: return "index_times_size_too_large";
        case InputProblem::none: break;
    }
    return "none";
}

// The rule the input rules find one particle breaking, for the package to
// word in its callers' terms: None, or (rule, value, measured) as in
// InputCheck, the rule by name.
py::object inputProblem(double alpha1, std::complex<double> index1, double alpha2, std::complex<double> index2) {
    const InputCheck c = check({alpha1, index1.real(), index1.imag(), alpha2, index2.real(), index2.imag()});
    if (c.problem == InputProblem::none) return py::none();
    return py::make_tuple(ruleName(c.problem), c.value, c.measured);
}

}  // namespace
}  // namespace coatedmie

namespace {

// The docstrings, in numpydoc's layout. The first line of each is the
// signature that inspect.signature reads (a builtin's __text_signature__).

constexpr const char* kModuleDoc = R"(The compiled part of coatedmie: the engine over size parameters.

Use it through the package, which re-exports these functions.)";

constexpr const char* kEfficienciesTypeDoc = R"(Efficiencies and derived quantities of coated spheres.

For one particle given as scalars the fields are Python numbers (N an int),
for arrays of particles arrays of their broadcast shape (N of int64). All
efficiencies refer to the same cross-section as Kext.

Attributes
----------
N : int or ndarray
    Number of series terms; 0 for a particle refused with ``invalid="nan"``.
Kext : float or ndarray
    Extinction efficiency.
Ksca : float or ndarray
    Scattering efficiency.
Kabs : float or ndarray
    Absorption efficiency, Kext - Ksca; exactly 0 below 1e-10 of Kext.
Kback : float or ndarray
    Backscattering efficiency, ``4 |S1(180 deg)|^2 / y^2``.
Kpr : float or ndarray
    Radiation-pressure efficiency, Kext - g Ksca.
g : float or ndarray
    Asymmetry parameter, the mean cosine of the scattering angle.
albedo : float or ndarray
    Single-scattering albedo Ksca / Kext; exactly 1 when Kabs is 0.)";

constexpr const char* kEfficienciesDoc = R"(efficiencies(alpha1, index1, alpha2, index2, *, threads=None, invalid='raise')
--

Efficiencies of coated spheres given by size parameters and relative indices.

The particle is made of the layers (alpha1, index1) and (alpha2, index2) in
either order: the larger size parameter is the outer surface, the shell (on
a tie the first layer is a shell of zero thickness). Every value is bit for
bit what the coatedmie program gives for the same input.

Parameters
----------
alpha1, alpha2 : float or array_like
    Size parameters 2 pi r n_medium / wavelength of the two layers' outer
    surfaces (dimensionless), greater than 0.
index1, index2 : complex or array_like
    Refractive indices of the layers relative to the medium (dimensionless),
    n + ik or n - ik: one negative imaginary part puts both indices in the
    negative convention; both conventions give the same results.
threads : int or None, optional
    Threads sharing the particles of an array call; None (default) one per
    core the process may use, never more than the cores or than help. The
    results do not depend on it.
invalid : {'raise', 'nan'}, optional
    What a particle the input rules refuse gives: ``'raise'`` (default)
    raises ValueError naming the first one before anything is computed;
    ``'nan'`` gives it N = 0 and NaN, and computes the others.

Returns
-------
Efficiencies
    (N, Kext, Ksca, Kabs, Kback, Kpr, g, albedo): Python numbers when every
    argument is a scalar, otherwise arrays of the arguments' broadcast
    shape, each element what the call for that particle alone gives.
    Efficiencies are cross-sections divided by pi r_outer^2, or by the
    core's pi r_core^2 when the shell's index is exactly 1 + 0j.

Raises
------
ValueError
    A refused particle with ``invalid='raise'`` (a size parameter not
    above 0 or below 1e-30, an index of modulus below 1e-4 or with a
    negative real part, a value not finite, ``|index| * size parameter`` above
    1e7 for a layer, an outer size parameter above 99621.09443326859); a
    bad ``threads`` or ``invalid``; arguments that do not broadcast.
TypeError
    Arguments that are not numbers.
MemoryError
    A result larger than the machine's memory, refused before any work.
KeyboardInterrupt
    Ctrl-C during an array call: it stops within a particle's time.

Examples
--------
>>> import coatedmie
>>> r = coatedmie.efficiencies(5, 1.5 + 0.01j, 3, 2.0 + 0.5j)
>>> r.N, round(r.Kext, 6), round(r.g, 6)
(20, 3.135894, 0.707214)
>>> coatedmie.efficiencies([1, 5, 20], 1.5 + 0.01j, [0.6, 3, 12], 2.0 + 0.5j).N
array([11, 20, 43]))";

// Shared by the four angular functions.
constexpr const char* kAngularParameters = R"(
Parameters
----------
alpha1, index1, alpha2, index2 : array_like
    The particles, as in `efficiencies`: size parameters (dimensionless)
    and refractive indices relative to the medium.
angles : float or array_like
    Scattering angles in degrees, of any shape, converted to radians as
    the program converts them; finite.
threads : int or None, optional
    As in `efficiencies`.
invalid : {'raise', 'nan'}, optional
    As in `efficiencies`; a refused particle gets NaN at every angle, and
    with ``'raise'`` an angle that is not finite raises ValueError too.
)";

constexpr const char* kAngularRaises = R"(
Raises
------
ValueError, TypeError, MemoryError, KeyboardInterrupt
    As in `efficiencies`; ValueError also for an angle that is not finite.
)";

constexpr const char* kIntensitiesDoc[3] = {
    R"(intensities(alpha1, index1, alpha2, index2, angles, *, threads=None, invalid='raise')
--

Unnormalised intensities ``I1 = |S1|^2`` and ``I2 = |S2|^2`` at scattering angles.
)",
    R"(
Returns
-------
I1, I2 : float or ndarray
    Dimensionless; I1 for light polarised perpendicular to the scattering
    plane, I2 parallel. The shape is the particles' broadcast shape
    followed by the angles' shape; bit for bit the program's values.
)",
    R"(
Examples
--------
>>> import coatedmie
>>> I1, I2 = coatedmie.intensities(5, 1.5 + 0.01j, 3, 2.0 + 0.5j, [0, 90, 180])
>>> I1.round(4)
array([394.7263,   5.5194,   1.6449]))"};

constexpr const char* kAmplitudesDoc[3] = {
    R"(amplitudes(alpha1, index1, alpha2, index2, angles, *, threads=None, invalid='raise')
--

Complex amplitude functions S1 and S2 at scattering angles.

From the same sums as `intensities`, so that ``|S1|^2`` is I1 from the same
doubles; unnormalised like I1 and I2 (the far field is
E_s = exp(ikr) / (-ikr) S E_i, Bohren and Huffman's convention, time factor
exp(-i omega t)). Indices n - ik give the complex conjugates of the
amplitudes of n + ik.
)",
    R"(
Returns
-------
S1, S2 : complex or ndarray of complex128
    Dimensionless; shapes as in `intensities`.
)",
    R"(
Examples
--------
>>> import coatedmie
>>> S1, S2 = coatedmie.amplitudes(5, 1.5 + 0.01j, 3, 2.0 + 0.5j, [0, 180])
>>> abs(S1[0] - S2[0]) == 0.0, bool(abs(S1[1] + S2[1]) < 1e-12 * abs(S1[1]))
(True, True))"};

constexpr const char* kMuellerDoc[3] = {
    R"(mueller(alpha1, index1, alpha2, index2, angles, *, threads=None, invalid='raise')
--

Mueller matrix elements S11, S12, S33, S34 at scattering angles.

Unnormalised like I1 and I2, in Bohren and Huffman's convention (time factor
exp(-i omega t)): ``S11 = (|S2|^2 + |S1|^2)/2``, ``S12 = (|S2|^2 - |S1|^2)/2``,
``S33 = Re(S2 S1*)``, ``S34 = Im(S2 S1*)``, with S22 = S11, S44 = S33,
S21 = S12, S43 = -S34 and the other elements 0. Both sign conventions of the indices
give the same elements. -S12/S11 is the degree of linear polarisation of the
light scattered from unpolarised light; S11 / k^2 is the differential
scattering cross-section, k the wavenumber in the medium.
)",
    R"(
Returns
-------
S11, S12, S33, S34 : float or ndarray
    Dimensionless; shapes as in `intensities`.
)",
    R"(
Examples
--------
>>> import coatedmie
>>> S11, S12, S33, S34 = coatedmie.mueller(5, 1.5 + 0.01j, 3, 2.0 + 0.5j, [0, 90])
>>> float(S12[0]), round(float(-S12[1] / S11[1]), 4)
(0.0, 0.7582))"};

constexpr const char* kPhaseFunctionDoc[3] = {
    R"(phase_function(alpha1, index1, alpha2, index2, angles, *, threads=None, invalid='raise')
--

Phase function at scattering angles, of mean 1 over all directions.

p = 2 (I1 + I2) / (s^2 Ksca), s^2 the squared size parameter the
efficiencies refer to, so that its integral over the sphere is 4 pi.
)",
    R"(
Returns
-------
float or ndarray
    Dimensionless; shape as in `intensities`.
)",
    R"(
Examples
--------
>>> import coatedmie
>>> round(float(coatedmie.phase_function(0.001, 1.5, 0.0005, 1.5, 90)), 6)  # Rayleigh: 3/4 (1 + cos^2)
0.75)"};

constexpr const char* kLegendreMomentsDoc =
    R"(legendre_moments(alpha1, index1, alpha2, index2, count=None, *, threads=None, invalid='raise')
--

Legendre moments chi_0 .. chi_{count-1} of the phase function.

p(cos theta) = sum_l (2l + 1) chi_l P_l(cos theta), so chi_0 = 1 and
chi_1 = g, the normalisation discrete-ordinates codes take. With N series
terms p is a polynomial of degree 2N in cos theta: chi_0 .. chi_2N describe
it exactly and every later moment is exactly 0, written without being
computed. Near double precision (about 1e-13 absolute) for every N, by a
Gauss-Legendre rule that integrates exactly; the time grows like
N (N + count/2): milliseconds at N = 1000, about a second at N = 10^4 for
all moments, a minute at N = 10^5.

Parameters
----------
alpha1, index1, alpha2, index2 : array_like
    The particles, as in `efficiencies`.
count : int or None, optional
    Moments per particle, at least 0. None (default): all 2N + 1 of the
    particle with the most terms, the others padded with their zeros.
threads, invalid : optional
    As in `efficiencies`.

Returns
-------
ndarray
    Dimensionless moments along the last axis, after the particles'
    broadcast shape.

Raises
------
ValueError, TypeError, MemoryError, KeyboardInterrupt
    As in `efficiencies`; ValueError also for a negative count.

Examples
--------
>>> import coatedmie
>>> chi = coatedmie.legendre_moments(5, 1.5 + 0.01j, 3, 2.0 + 0.5j)
>>> len(chi), round(chi[0], 12), round(chi[1], 6)
(41, 1.0, 0.707214))";

}  // namespace

PYBIND11_MODULE(_engine, m) {
    using namespace coatedmie;
    m.doc() = kModuleDoc;
    // The docstrings carry the signatures in the form inspect reads.
    py::options options;
    options.disable_function_signatures();
    m.attr("__version__") = COATEDMIE_VERSION;

    const py::tuple fields = py::make_tuple("N", "Kext", "Ksca", "Kabs", "Kback", "Kpr", "g", "albedo");
    py::object type = py::module_::import("collections")
                          .attr("namedtuple")("Efficiencies", fields, py::arg("module") = "coatedmie");
    type.attr("__doc__") = kEfficienciesTypeDoc;
    m.attr("Efficiencies") = type;
    efficienciesType = type.inc_ref();

    m.def("efficiencies", &efficiencies, py::arg("alpha1"), py::arg("index1"), py::arg("alpha2"),
          py::arg("index2"), py::kw_only(), py::arg("threads") = py::none(), py::arg("invalid") = "raise",
          kEfficienciesDoc);
    const auto angularFunction = [&m](const char* name, std::vector<Angular> kinds, const std::string& doc) {
        m.def(
            name,
            [name, kinds](py::handle alpha1, py::handle index1, py::handle alpha2, py::handle index2,
                          py::handle angles, py::handle threads, py::handle invalid) {
                return angular(name, kinds, alpha1, index1, alpha2, index2, angles, threads, invalid);
            },
            py::arg("alpha1"), py::arg("index1"), py::arg("alpha2"), py::arg("index2"), py::arg("angles"),
            py::kw_only(), py::arg("threads") = py::none(), py::arg("invalid") = "raise", doc.c_str());
    };
    // head, Parameters, Returns, Raises, Examples
    const auto angularDoc = [](const char* const* parts) {
        return std::string(parts[0]) + kAngularParameters + parts[1] + kAngularRaises + parts[2];
    };
    angularFunction("intensities", {Angular::intensities}, angularDoc(kIntensitiesDoc));
    angularFunction("amplitudes", {Angular::amplitudes}, angularDoc(kAmplitudesDoc));
    angularFunction("mueller", {Angular::mueller}, angularDoc(kMuellerDoc));
    angularFunction("phase_function", {Angular::phaseFunction}, angularDoc(kPhaseFunctionDoc));
    angularFunction("_scattering", {Angular::amplitudes, Angular::mueller, Angular::phaseFunction},
                    "_scattering(alpha1, index1, alpha2, index2, angles, *, threads=None, invalid='raise')\n--\n\n"
                    "(S1, S2, S11, S12, S33, S34, p): amplitudes, mueller and phase_function from one computation "
                    "of each particle.");
    m.def("legendre_moments", &legendreMoments, py::arg("alpha1"), py::arg("index1"), py::arg("alpha2"),
          py::arg("index2"), py::arg("count") = py::none(), py::kw_only(), py::arg("threads") = py::none(),
          py::arg("invalid") = "raise", kLegendreMomentsDoc);

    m.def("_refused", &refused, py::arg("alpha1"), py::arg("index1"), py::arg("alpha2"), py::arg("index2"),
          "_refused(alpha1, index1, alpha2, index2)\n--\n\n"
          "Where the input rules refuse the particles (broadcast as in efficiencies), without computing them.");
    m.def(
        "vector_path", [] { return std::string(vectorPathName(vectorPath())); },
        R"(vector_path()
--

The vector path the engine's kernels run on.

Returns
-------
str
    "portable" (SSE2 on x86-64), "avx2" or "avx512": by default the widest
    this processor runs, or a narrower one that the environment variable
    COATEDMIE_VECTOR_PATH names. Every path gives the same bits.
)");
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
--

Runs the engine's kernels on another vector path from now on, in every thread.

The results are the same bits on every path: this is for tests, benchmarks
and reproducing a machine's timings.

Parameters
----------
name : {"portable", "avx2", "avx512"}
    The path.

Raises
------
ValueError
    For a name it does not know, or a path this processor does not run.

Examples
--------
>>> import coatedmie
>>> widest = coatedmie.vector_path()
>>> coatedmie.set_vector_path("portable")
>>> coatedmie.vector_path()
'portable'
>>> coatedmie.set_vector_path(widest)
)");
    m.def("_derivatives", &derivatives, py::arg("alpha1"), py::arg("index1"), py::arg("alpha2"), py::arg("index2"),
          py::kw_only(), py::arg("threads") = py::none(), py::arg("invalid") = "raise",
          "_derivatives(alpha1, index1, alpha2, index2, *, threads=None, invalid='raise')\n--\n\n"
          "(values, jacobian): values as efficiencies() gives them, bit for bit, and an array of the particles' "
          "shape + (7, 6) of their derivatives: quantities Kext, Ksca, Kabs, Kback, Kpr, g, albedo; parameters "
          "index1.real, index1.imag (the k of n + ik), alpha1, index2.real, index2.imag, alpha2.");
    m.def("_safeguards", &safeguards, py::arg("alpha1"), py::arg("index1"), py::arg("alpha2"), py::arg("index2"),
          "_safeguards(alpha1, index1, alpha2, index2)\n--\n\n"
          "The engine's Safeguard bits for each particle (broadcast as in efficiencies): 1 start values from "
          "the tables, 2 an exact zero avoided, 4 lossless coefficients put on their circle, 8 a vacuum shell's "
          "core computed alone, 16 a negative Kabs within rounding set to 0, 32 the small-particle form "
          "from y = 0.01 to 0.1.");
    m.def("_input_problem", &inputProblem, py::arg("alpha1"), py::arg("index1"), py::arg("alpha2"),
          py::arg("index2"),
          "_input_problem(alpha1, index1, alpha2, index2)\n--\n\n"
          "None, or (rule, value, measured): the first input rule one particle breaks, the value it names "
          "(0..5: alpha1, index1 real and imaginary parts, alpha2, ...) and what it measured.");
    py::dict limits;
    limits["min_size_parameter"] = kMinSizeParameter;
    limits["min_index_modulus"] = kMinIndexModulus;
    limits["max_index_times_size"] = kMaxIndexTimesSize;
    limits["max_outer_size_parameter"] = kMaxOuterSizeParameter;
    limits["max_term_count"] = kMaxTermCount;
    m.attr("_limits") = limits;
    m.def(
        "_stop_array_calls", [] { stopRequests.fetch_add(1); },
        "_stop_array_calls()\n--\n\n"
        "Makes every array call running, in any thread, stop at its next particle and raise KeyboardInterrupt.");
}
