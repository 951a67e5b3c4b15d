#!/usr/bin/python3
"""The engine's accuracy map: every quantity the Python package returns,
against the independent arbitrary-precision series of coated_series_mp.py, on
adversarial particles by regime.

    PYTHONPATH=build/release/python /usr/bin/python3 tools/accuracy_map.py run after.json
    PYTHONPATH=<old build>/python   /usr/bin/python3 tools/accuracy_map.py run before.json
    /usr/bin/python3 tools/accuracy_map.py summary before.json after.json
    /usr/bin/python3 tools/accuracy_map.py table > tests/engine/adversarial_reference.txt

`run` computes the reference values on first use (--jobs processes, the
longest particles first) and keeps them in --reference (default
accuracy-map-reference[-quick].json in the current folder), so a second run,
on another build, costs only the engine's time. `summary` prints, per regime
and per quantity, the number of particles and the worst and median error of
one run, or of two side by side, the impossible values, and the worst
particles with their exact inputs. `table` writes the adversarial particles
of the engine's test with their reference values.

Angles: the reference is evaluated at the angles the engine computes with,
the degrees converted to radians in double as the package converts them, so
that the rounding of that conversion (one unit in the last place of the
angle) is not counted as the engine's error.

Errors: efficiencies, Kback, Kpr, g and the albedo relative; Kabs as
|error| / Kext; amplitudes, intensities, S11 and the phase function relative
to the largest value of the particle's angle grid ("grid"; the relative error
at each angle is shown too, "rel"); S12, S33 and S34 as |error| / S11 at the
same angle; the Legendre moments absolute. Impossible values: NaN or infinity
for an accepted input, Kabs < 0, Ksca > Kext (1 + 1e-13), |g| > 1 + 1e-13,
albedo > 1 + 1e-13.
"""

import argparse
import json
import math
import multiprocessing
import os
import random
import statistics
import sys
import time

import mpmath
from mpmath import mp, mpf

import coated_series_mp as coated

ANGLES = [5.0 * k for k in range(37)]
QUICK_ANGLES = [10.0 * k for k in range(19)]
MOMENT_TERMS = 80           # moments for particles of at most this many terms
TARGET = 1e-10
OFFSETS = (0, "ulp", 1e-15, 1e-12, 1e-9, 1e-6, 1e-3)
SHELL_IMAGINARY = (0.0, 1e-15, 1e-12, 1e-9, 1e-6, 1e-3)

# Round refractive indices of common materials in the visible.
MATERIALS = {
    "water": 1.33 + 1e-8j, "sulfate": 1.53, "silica": 1.45, "organics": 1.5, "brown carbon": 1.55 + 0.05j,
    "soot": 1.75 + 0.44j, "dust": 1.53 + 0.008j, "gold": 0.2 + 3.0j, "silver": 0.05 + 4.0j,
}
CORE_SHELL_PAIRS = [("soot", "organics"), ("soot", "water"), ("dust", "water"), ("gold", "silica"),
                    ("silver", "organics"), ("brown carbon", "sulfate")]


# --- Particles ---------------------------------------------------------------

def particle(regime, y, m2, x, m1, detail=None):
    """The engine's input, shell first: (alpha1, index1, alpha2, index2)."""
    return {"regime": regime, "layers": (float(y), complex(m2), float(x), complex(m1)), "detail": detail}


def near(order, offset, imag):
    """Where a particle of the zero regimes lies: the order, the relative
    offset from the zero, the imaginary part of the index on it."""
    return {"order": order, "offset": str(offset), "imaginary part": imag}


def term_count(y):
    return coated.engine_term_count(y)


def smallest_size_with_terms(n):
    """The smallest y whose term count reaches n."""
    low, high = 0.0, float(n) + 10
    for _ in range(60):
        middle = (low + high) / 2
        low, high = (middle, high) if term_count(middle) < n else (low, middle)
    return high


def psi_zeros(n, start, count):
    """The first `count` zeros of psi_n(z) = z j_n(z) above `start`, as the
    nearest doubles: bracketed by signs in double arithmetic (the upward
    recurrence is stable where z > n, beyond which the zeros lie), then
    refined in mpmath."""
    def psi_double(z):
        before, now = math.cos(z), math.sin(z)
        for k in range(n):
            before, now = now, (2 * k + 1) / z * now - before
        return now

    def psi_mp(z):
        before, now = mpmath.cos(z), mpmath.sin(z)
        for k in range(n):
            before, now = now, (2 * k + 1) / z * now - before
        return now

    zeros = []
    z = max(start, n + 0.5)
    value = psi_double(z)
    while len(zeros) < count:
        following = z + 0.25
        following_value = psi_double(following)
        if value == 0 or value * following_value < 0:
            with mp.workdps(40):
                zeros.append(float(mpmath.findroot(psi_mp, (mpf(z), mpf(following)), solver="anderson")))
        z, value = following, following_value
    return zeros


def offsets(value, chosen=OFFSETS):
    for offset in chosen:
        yield offset, math.nextafter(value, math.inf) if offset == "ulp" else value * (1 + offset)


def zero_particles(quick):
    """The shell's arguments m2 y and m2 x, the core's m1 x and y itself on
    and near zeros of psi_n."""
    orders = [0, 1, 2, 3, 5, 10, 20, 50, 100, 200, 500, 1000, 2000]
    cores = [(0.5, 1.75 + 0.44j), (0.8, 1.33 + 0j), (0.25, 0.2 + 3.0j)]
    shell_reals = [1.5, 1.33, 1.1]
    if quick:
        orders = [0, 1, 2, 5, 20, 100]
    result = []
    for n in orders:
        if n <= 20:
            zero_count, chosen, imaginary = (2, OFFSETS, SHELL_IMAGINARY)
        elif n <= 200:
            zero_count, chosen, imaginary = (1, OFFSETS, (0.0, 1e-15, 1e-9, 1e-3))
        else:
            zero_count, chosen, imaginary = (1, (0, "ulp", 1e-12, 1e-6), (0.0, 1e-12))
        if n >= 2000:
            chosen, imaginary = (0, 1e-12), (0.0,)
        if quick:
            chosen, imaginary = (0, "ulp", 1e-12, 1e-6), (0.0, 1e-9)
            zero_count = 1
        smallest = smallest_size_with_terms(n)
        for k in range(zero_count):
            # m2 y on a zero of psi_n; the core inside at a fraction of y.
            m2_real = shell_reals[(n + k) % 3]
            z = psi_zeros(n, m2_real * smallest, k + 1)[k]
            fraction, m1 = cores[(n + k) % 3]
            for offset, y in offsets(z / m2_real, chosen):
                for imag in imaginary:
                    result.append(particle("m2 y on a zero of psi_n", y, complex(m2_real, imag), y * fraction, m1,
                                           near(n, offset, imag)))
            # m2 x on a zero: the shell's inner argument.
            fraction, m1 = cores[(n + k + 1) % 3]
            z = psi_zeros(n, m2_real * fraction * smallest, k + 1)[k]
            for offset, x in offsets(z / m2_real, chosen):
                for imag in imaginary:
                    result.append(particle("m2 x on a zero of psi_n", x / fraction, complex(m2_real, imag), x, m1,
                                           near(n, offset, imag)))
        # m1 x on a zero (a lossless or weakly absorbing core); y = x / fraction.
        # (A thick absorbing shell costs the reference some 2 Im(m2 y) / ln 10 digits: not at high orders.)
        for m1_real, shell in ((1.5, 1.33 + 0j), (1.33, 1.75 + 0.44j))[:2 if n <= 200 else 1]:
            fraction = 0.5
            z = psi_zeros(n, m1_real * fraction * smallest, 1)[0]
            for offset, x in offsets(z / m1_real, chosen):
                for imag in imaginary[:3]:
                    result.append(particle("m1 x on a zero of psi_n", x / fraction, shell, x, complex(m1_real, imag),
                                           near(n, offset, imag)))
        # y itself on a zero of psi_n (the outer medium's argument).
        z = psi_zeros(n, smallest, 1)[0]
        for offset, y in offsets(z, chosen):
            for shell, core in ((1.5 + 0j, 1.75 + 0.44j), (1.33 + 1e-9j, 1.5 + 0j)):
                result.append(particle("y on a zero of psi_n", y, shell, y / 2, core, near(n, offset, shell.imag)))
    return result


def physical_particles(quick):
    """Round grids as users write them: wavelengths and diameters in nm and
    um, core fractions 0.25, 0.5, 0.8, in air and in water."""
    grids = [((400, 500, 600, 800, 1000), (100, 200, 400, 1000, 5000)),   # nm
             ((1, 10), (1, 2, 20))]                                          # um
    fractions = (0.25, 0.5, 0.8)
    media = (1.0, 1.33)
    if quick:
        grids = [((400, 600), (200, 400, 1000)), ((10,), (2, 20))]
        fractions = (0.5,)
    result = []
    for core_name, shell_name in CORE_SHELL_PAIRS:
        for wavelengths, diameters in grids:
            for wavelength in wavelengths:
                for diameter in diameters:
                    for fraction in fractions:
                        for medium in media:
                            y = math.pi * medium * diameter / wavelength
                            x = math.pi * medium * (diameter * fraction) / wavelength
                            if y > 400 or (MATERIALS[core_name].imag > 2 and y > 100):
                                continue  # the size regime covers these
                            m1, m2 = (complex(m.real / medium, m.imag / medium)
                                      for m in (MATERIALS[core_name], MATERIALS[shell_name]))
                            result.append(particle("round physical grid", y, m2, x, m1))
    return result


def other_particles(quick):
    """Thin shells, x = y, indices near and below 1, vacuum shells, sizes
    from 1e-3 to 1e4, and random particles."""
    result = []
    sizes = (0.1, 1.0, 10.0, 100.0)
    # Thin shells, and a shell of no thickness.
    for y in sizes:
        for epsilon in (1e-3, 1e-6, 1e-9, 1e-12):
            for m2, m1 in ((1.5 + 0j, 1.75 + 0.44j), (1.33 + 1e-9j, 1.33 + 0j), (0.2 + 3.0j, 1.45 + 0j)):
                result.append(particle("thin shell", y, m2, y * (1 - epsilon), m1))
        for m2, m1 in ((1.5 + 0j, 1.75 + 0.44j), (1.33 + 0j, 1.5 + 0j), (0.2 + 3.0j, 1.45 + 0j)):
            result.append(particle("x = y", y, m2, y, m1))
    # Indices near 1, lossless and absorbing, in a shell or the whole sphere.
    for y in (0.01, 0.1, 1.0, 10.0, 100.0):
        for delta in (1e-3, 1e-4, 1e-6, 1e-8):
            for sign in (1, -1):
                m = 1 + sign * delta
                for imag in (0.0, delta):
                    result.append(particle("index near 1", y, complex(m, imag), y, complex(m, imag)))
                    result.append(particle("index near 1", y, complex(m, imag), y / 2, 1.5 + 0.01j))
    # Indices below 1.
    for y in (0.1, 1.0, 5.0, 20.0, 100.0):
        for m2, m1 in ((0.5 + 0j, 0.5 + 0j), (0.9 + 0j, 1.5 + 0j), (0.2 + 3.0j, 0.2 + 3.0j), (1.5 + 0j, 0.9 + 0j),
                       (0.9 + 1e-6j, 0.2 + 3.0j), (0.7 + 0.01j, 0.5 + 0j)):
            result.append(particle("index below 1", y, m2, y / 2, m1))
    # A vacuum shell (index exactly 1) around small cores.
    for y in (0.5, 3.16227766, 30.0):
        for x in (1e-1, 1e-3, 1e-5, 1e-8, 1e-12, 1e-20, 1e-30):
            for m1 in (6.5217 + 1j, 1.5 + 0j, 1.33 + 1e-9j):
                result.append(particle("vacuum shell", y, 1 + 0j, x, m1))
    # Sizes from 1e-3 to 1e4.
    for y in (1e-3, 3e-3, 0.01, 0.03, 0.1, 0.3, 1.0, 3.0, 10.0, 30.0, 100.0, 300.0, 1000.0, 3000.0, 1e4):
        pairs = [(1.33 + 0j, 1.5 + 0j), (1.5 + 1e-9j, 1.75 + 0.44j), (1.45 + 0j, 0.2 + 3.0j)]
        if y >= 3000:
            pairs = pairs[:1] if y > 3000 else pairs[:2]
        for m2, m1 in pairs:
            result.append(particle("sizes 1e-3 .. 1e4", y, m2, y * 0.6, m1))
    # Random particles over the accepted range, the core's fraction uniform,
    # log-uniform or close to 1.
    generator = random.Random(18)
    for _ in range(60 if quick else 400):
        y = 10 ** generator.uniform(-3, 3)
        fraction = generator.choice((generator.random(), 10 ** generator.uniform(-6, 0),
                                     1 - 10 ** generator.uniform(-6, -1)))
        x = max(y * fraction, 1e-30)

        def index():
            real = 10 ** generator.uniform(-1.3, 1)
            imag = 0.0 if generator.random() < 0.3 else 10 ** generator.uniform(-10, 1)
            return complex(real, imag)
        result.append(particle("random", y, index(), x, index()))
    if quick:
        result = result[::4]
    return result


def all_particles(quick):
    """Each particle once (a round grid meets the same size parameters at
    several wavelengths), in the regime that named it first."""
    unique = {}
    for p in zero_particles(quick) + physical_particles(quick) + other_particles(quick):
        unique.setdefault(key(p["layers"]), p)
    return list(unique.values())


# --- Reference ---------------------------------------------------------------

def key(layers):
    return repr(layers)


def moment_count(layers):
    n = term_count(max(layers[0], layers[2]))
    return 2 * n + 1 if n <= MOMENT_TERMS else 0


def text(value):
    return mpmath.nstr(value, 22, min_fixed=1, max_fixed=0)


def engine_radians(degrees):
    """The angles as the engine computes with them: degrees * (pi / 180) in
    double, as the package converts them."""
    radians_per_degree = 4.0 * math.atan(1.0) / 180.0
    return [d * radians_per_degree for d in degrees]


def reference_entry(job):
    layers, angles = job
    started = time.time()
    try:
        values = coated.reference(*layers, degrees=engine_radians(angles), radians=True,
                                  moment_count=moment_count(layers))
    except coated.NoAgreement as error:
        return key(layers), {"failed": str(error)}
    entry = {name: text(values[name]) for name in coated.SCALAR_NAMES}
    entry["S1"] = [[text(s.real), text(s.imag)] for s in values["S1"]]
    entry["S2"] = [[text(s.real), text(s.imag)] for s in values["S2"]]
    entry["moments"] = [text(v) for v in values["moments"]]
    entry["digits"] = values["digits"]
    entry["seconds"] = round(time.time() - started, 3)
    return key(layers), entry


def load_json(path):
    if path and os.path.exists(path):
        with open(path) as f:
            return json.load(f)
    return {}


def save_json(path, data):
    temporary = path + ".part"
    with open(temporary, "w") as f:
        json.dump(data, f)
    os.replace(temporary, path)


def ensure_references(particles, angles, path, jobs):
    store = load_json(path)
    missing = [p["layers"] for p in particles if key(p["layers"]) not in store]
    missing = list(dict.fromkeys(missing))
    missing.sort(key=lambda layers: -max(layers[0], layers[2]))  # the long ones first
    if missing:
        print(f"reference: {len(missing)} particles to compute with {jobs} processes", file=sys.stderr)
        started = time.time()
        with multiprocessing.Pool(jobs) as pool:
            for done, (k, entry) in enumerate(pool.imap_unordered(reference_entry, [(m, angles) for m in missing]), 1):
                store[k] = entry
                if done % 200 == 0:
                    save_json(path, store)
                    print(f"reference: {done}/{len(missing)}, {time.time() - started:.0f} s", file=sys.stderr)
        save_json(path, store)
        print(f"reference: done in {time.time() - started:.0f} s", file=sys.stderr)
    return store


# --- The engine against it ---------------------------------------------------

def relative(u, v):
    """|u - v| / |v| with u a double and v an mp value."""
    if not math.isfinite(u):
        return math.inf
    difference = abs(mpf(u) - v)
    return float(difference / abs(v)) if v != 0 else float(difference)


def scaled(u, v, scale):
    if not math.isfinite(u):
        return math.inf
    return float(abs(mpf(u) - v) / scale) if scale != 0 else float(abs(mpf(u) - v))


def complex_error(u, v, scale):
    if not (math.isfinite(u.real) and math.isfinite(u.imag)):
        return math.inf
    difference = abs(mpmath.mpc(u.real, u.imag) - v)
    return float(difference / scale) if scale != 0 else float(difference)


def engine_values(engine, layers, angles, moments):
    alpha1, index1, alpha2, index2 = layers
    values = {"efficiencies": engine.efficiencies(alpha1, index1, alpha2, index2, threads=1)}
    values["S1"], values["S2"] = engine.amplitudes(alpha1, index1, alpha2, index2, angles, threads=1)
    values["I1"], values["I2"] = engine.intensities(alpha1, index1, alpha2, index2, angles, threads=1)
    values["mueller"] = engine.mueller(alpha1, index1, alpha2, index2, angles, threads=1)
    values["p"] = engine.phase_function(alpha1, index1, alpha2, index2, angles, threads=1)
    values["moments"] = engine.legendre_moments(alpha1, index1, alpha2, index2, threads=1) if moments else []
    return values


def compare(engine, layers, angles, entry):
    """The errors and the impossible values of one particle."""
    with mp.workdps(30):
        ref = {name: mpf(entry[name]) for name in coated.SCALAR_NAMES}
        s1 = [mpmath.mpc(*map(mpf, v)) for v in entry["S1"]]
        s2 = [mpmath.mpc(*map(mpf, v)) for v in entry["S2"]]
        moments = [mpf(v) for v in entry["moments"]]
        got = engine_values(engine, layers, angles, bool(moments))
        e = got["efficiencies"]
        errors = {name: relative(getattr(e, name), ref[name]) for name in ("Kext", "Ksca", "Kback", "Kpr", "g",
                                                                              "albedo")}
        errors["Kabs/Kext"] = scaled(e.Kabs, ref["Kabs"], ref["Kext"])
        i1 = [coated.norm2(s) for s in s1]
        i2 = [coated.norm2(s) for s in s2]
        got_s, want_s = list(got["S1"]) + list(got["S2"]), s1 + s2
        got_i, want_i = list(got["I1"]) + list(got["I2"]), i1 + i2
        largest_s = max(abs(s) for s in want_s)
        largest_i = max(want_i)
        errors["S1,S2 rel"] = max(complex_error(u, v, abs(v)) for u, v in zip(got_s, want_s))
        errors["S1,S2 grid"] = max(complex_error(u, v, largest_s) for u, v in zip(got_s, want_s))
        errors["I1,I2 rel"] = max(relative(u, v) for u, v in zip(got_i, want_i))
        errors["I1,I2 grid"] = max(scaled(u, v, largest_i) for u, v in zip(got_i, want_i))
        mueller = [coated.mueller(u, v) for u, v in zip(s1, s2)]
        s11 = [m[0] for m in mueller]
        errors["S11 grid"] = max(scaled(u, v, max(s11)) for u, v in zip(got["mueller"][0], s11))
        errors["S12,S33,S34 /S11"] = max(scaled(u, m[j], m[0]) for j in (1, 2, 3)
                                         for u, m in zip(got["mueller"][j], mueller))
        x, _, y, m2 = coated.layers(*layers)
        size2 = mpf(coated.norm_size(x, m2, y)) ** 2
        p = [4 * v / (size2 * ref["Ksca"]) for v in s11]
        errors["p rel"] = max(relative(u, v) for u, v in zip(got["p"], p))
        errors["p grid"] = max(scaled(u, v, max(p)) for u, v in zip(got["p"], p))
        if moments:
            engine_moments = list(got["moments"])
            engine_moments += [0.0] * (len(moments) - len(engine_moments))
            errors["moments abs"] = max(scaled(u, v, 1) for u, v in zip(engine_moments, moments))
    impossible = []
    everything = [e.Kext, e.Ksca, e.Kabs, e.Kback, e.Kpr, e.g, e.albedo]
    for name in ("S1", "S2"):
        everything += [v.real for v in got[name]] + [v.imag for v in got[name]]
    for name in ("I1", "I2", "p", "moments"):
        everything += list(got[name])
    for column in got["mueller"]:
        everything += list(column)
    if not all(math.isfinite(v) for v in everything):
        impossible.append("NaN or infinite")
    if e.Kabs < 0:
        impossible.append("Kabs < 0")
    if e.Ksca > e.Kext * (1 + 1e-13):
        impossible.append(f"Ksca > Kext (by {e.Ksca / e.Kext - 1:.1e})")
    if abs(e.g) > 1 + 1e-13:
        impossible.append(f"|g| > 1 (by {abs(e.g) - 1:.1e})")
    if e.albedo > 1 + 1e-13:
        impossible.append(f"albedo > 1 (by {e.albedo - 1:.1e})")
    return errors, impossible


def run(args):
    angles = QUICK_ANGLES if args.quick else ANGLES
    particles = all_particles(args.quick)
    path = args.reference or f"accuracy-map-reference{'-quick' if args.quick else ''}.json"
    started = time.time()
    store = ensure_references(particles, angles, path, args.jobs)
    reference_seconds = time.time() - started
    import coatedmie
    started = time.time()
    rows = []
    for p in particles:
        entry = store[key(p["layers"])]
        row = {"regime": p["regime"], "layers": [repr(v) for v in p["layers"]], "detail": p["detail"]}
        if "failed" in entry:
            row["reference failed"] = entry["failed"]
        elif coatedmie._engine._refused(*p["layers"]):
            row["refused"] = True
        else:
            row["errors"], row["impossible"] = compare(coatedmie, p["layers"], angles, entry)
        rows.append(row)
    result = {"engine": os.path.dirname(coatedmie.__file__), "version": coatedmie.__version__,
              "quick": args.quick, "angles": angles, "particles": rows,
              "reference seconds": round(reference_seconds, 1), "engine seconds": round(time.time() - started, 1)}
    save_json(args.output, result)
    print(f"{len(rows)} particles, reference {reference_seconds:.0f} s, engine and comparison "
          f"{result['engine seconds']:.0f} s: {args.output}", file=sys.stderr)


# --- Summary -------------------------------------------------------------------

QUANTITIES = ["Kext", "Ksca", "Kabs/Kext", "Kback", "Kpr", "g", "albedo", "S1,S2 rel", "S1,S2 grid", "I1,I2 rel",
              "I1,I2 grid", "S11 grid", "S12,S33,S34 /S11", "p rel", "p grid", "moments abs"]
JUDGED = [q for q in QUANTITIES if not q.endswith(" rel")]   # the criteria; "rel" is shown for information


def short(value):
    if value is None:
        return "-"
    if math.isinf(value) or math.isnan(value):
        return "NaN/inf"
    return f"{value:.1e}" if value else "0"


def nan_last(value):
    """A sort key that puts NaN above every number."""
    return math.inf if math.isnan(value) else value


def statistics_of(rows, regime, quantity):
    values = [r["errors"][quantity] for r in rows
              if "errors" in r and quantity in r["errors"] and (regime is None or r["regime"] == regime)]
    if not values:
        return None
    finite = [v for v in values if not math.isnan(v)]
    return len(values), max(finite, default=math.inf), statistics.median(finite) if finite else math.inf


def summary(args):
    runs = [load_json(path) for path in args.runs]
    names = ["before", "after"] if len(runs) == 2 else ["worst"]
    regimes = list(dict.fromkeys(r["regime"] for r in runs[-1]["particles"]))
    out = sys.stdout
    print(f"# Accuracy map: {len(runs[-1]['particles'])} particles, angles {runs[-1]['angles'][0]:g} .. "
          f"{runs[-1]['angles'][-1]:g} deg ({len(runs[-1]['angles'])}), target {TARGET:g}", file=out)
    for run_ in runs:
        print(f"#   {run_['engine']} (version {run_['version']}): engine {run_['engine seconds']} s", file=out)
    print("\n## Worst error per quantity over all regimes (median in brackets)\n", file=out)
    header = "| quantity | particles | " + " | ".join(names) + " |"
    print(header + "\n|" + "---|" * (2 + len(names)), file=out)
    for quantity in QUANTITIES:
        cells = []
        count = 0
        for run_ in runs:
            found = statistics_of(run_["particles"], None, quantity)
            if found:
                count = found[0]
                cells.append(f"{short(found[1])} ({short(found[2])})")
            else:
                cells.append("-")
        print(f"| {quantity} | {count} | " + " | ".join(cells) + " |", file=out)

    print("\n## Worst error per regime, over the judged quantities (which one in brackets)\n", file=out)
    print("| regime | particles | " + " | ".join(names) + " | impossible values " + " / ".join(names) + " |",
          file=out)
    print("|" + "---|" * (3 + len(names)), file=out)
    for regime in regimes:
        cells = []
        impossible = []
        count = 0
        for run_ in runs:
            rows = [r for r in run_["particles"] if r["regime"] == regime and "errors" in r]
            count = len(rows)
            worst, which = -1.0, ""
            for quantity in JUDGED:
                found = statistics_of(rows, None, quantity)
                if found and (found[1] > worst or math.isnan(found[1])):
                    worst, which = found[1], quantity
            cells.append(f"{short(worst)} ({which})")
            impossible.append(str(sum(1 for r in rows if r["impossible"])))
        print(f"| {regime} | {count} | " + " | ".join(cells) + " | " + " / ".join(impossible) + " |", file=out)

    final = runs[-1]["particles"]
    print("\n## Per regime and quantity: particles beyond the target, worst error"
          + (" (before -> after)" if len(runs) == 2 else "") + "\n", file=out)
    for regime in regimes:
        parts = []
        for quantity in JUDGED:
            found = [statistics_of(run_["particles"], regime, quantity) for run_ in runs]
            if not found[-1]:
                continue
            beyond = [sum(1 for r in run_["particles"] if r["regime"] == regime and "errors" in r
                          and quantity in r["errors"] and not r["errors"][quantity] <= TARGET) for run_ in runs]
            worst = " -> ".join(short(f[1]) if f else "-" for f in found)
            parts.append(f"{quantity} {worst} [{' -> '.join(map(str, beyond))}]")
        print(f"- {regime}: " + "; ".join(parts), file=out)

    print("\n## The zero regimes by relative offset from the zero, and by imaginary part of the index there:"
          " worst error over the judged quantities" + (" (before -> after)" if len(runs) == 2 else "") + "\n",
          file=out)
    for regime in [r for r in regimes if "zero" in r]:
        for field in ("offset", "imaginary part"):
            values = list(dict.fromkeys(str(r["detail"][field]) for r in final if r["regime"] == regime))
            cells = []
            for value in values:
                worst = []
                for run_ in runs:
                    errors = [max((r["errors"][q] for q in JUDGED if q in r["errors"]), key=nan_last)
                              for r in run_["particles"] if r["regime"] == regime and "errors" in r
                              and str(r["detail"][field]) == value]
                    worst.append(short(max(errors, key=nan_last)))
                cells.append(f"{value}: {' -> '.join(worst)}")
            print(f"- {regime}, by {field}: " + "; ".join(cells), file=out)

    def kind_counts(rows):
        kinds = {}
        for r in rows:
            for kind in r.get("impossible", []):
                kind = kind.split(" (by")[0]
                kinds[kind] = kinds.get(kind, 0) + 1
        return kinds

    kinds = kind_counts(final)
    print("\n## Impossible values" + (" after" if len(runs) == 2 else "") + f": {kinds or 'none'}", file=out)
    if len(runs) == 2:
        print(f"## Impossible values before: {kind_counts(runs[0]['particles']) or 'none'}", file=out)
    for r in final:
        if r.get("impossible"):
            print(f"- {r['regime']}: {', '.join(r['impossible'])}: efficiencies({', '.join(r['layers'])})", file=out)

    print(f"\n## Worst particles beyond {TARGET:g}" + (" (after)" if len(runs) == 2 else "") + "\n", file=out)
    for quantity in JUDGED:
        offenders = sorted((r for r in final if "errors" in r and quantity in r["errors"]
                            and not r["errors"][quantity] <= TARGET),
                           key=lambda r: -r["errors"][quantity] if not math.isnan(r["errors"][quantity]) else -math.inf)
        if offenders:
            print(f"- {quantity}: {len(offenders)} particles; worst:", file=out)
            for r in offenders[:args.worst]:
                print(f"    {short(r['errors'][quantity])}  {r['regime']}: ({', '.join(r['layers'])})", file=out)
    others = [r for r in final if "errors" not in r]
    if others:
        print(f"\n{len(others)} particles not compared: "
              f"{sum(1 for r in others if r.get('refused'))} refused by the engine, "
              f"{sum(1 for r in others if 'reference failed' in r)} without a reference", file=out)


# --- The engine test's table ----------------------------------------------------

TABLE_DEGREES = (0, 30, 60, 90, 120, 150, 180)
TABLE_MOMENTS = 61

# (what the particle stands for, its layers as the engine takes them, shell
# first), chosen from the map: every regime, each a particle the engine got
# wrong before the safeguards or one that checks a regime it always got right.
SOOT, GOLD, SILVER = 1.75 + 0.44j, 0.2 + 3.0j, 0.05 + 4.0j
TABLE = [
    ("soot in a lossless shell on a round grid, m2 y = pi: 1.5 shell, 200/400 nm at 600 nm",
     (2.0943951023931957, 1.5 + 0j, 1.0471975511965979, SOOT)),
    ("the shell's inner argument m2 x = pi: 400/500 nm at 600 nm",
     (2.617993877991494, 1.5 + 0j, 2.0943951023931957, SOOT)),
    ("m2 y on the second zero of psi_2", (6.0633408869842365, 1.5 + 0j, 3.0316704434921182, SOOT)),
    ("m2 y 1e-12 above pi", (2.09439510239529, 1.5 + 0j, 1.047197551197645, SOOT)),
    ("m2 y on pi, shell index 1.5 + 1e-12i", (2.0943951023931953, 1.5 + 1e-12j, 1.0471975511965976, SOOT)),
    ("m2 y on the first zero of psi_2, shell index 1.5 + 1e-15i",
     (5.76345919689455 / 1.5, 1.5 + 1e-15j, 5.76345919689455 / 3, SOOT)),
    ("m2 y on a zero of psi_5, weakly absorbing shell around a lossless core",
     (7.034445196272742, 1.33 + 1e-9j, 7.034445196272742 * 0.8, 1.33 + 0j)),
    ("m2 y on a zero of psi_20, gold core", (23.596073440945577, 1.1 + 0j, 23.596073440945577 / 4, GOLD)),
    ("m2 x 1e-9 above the first zero of psi_1", (2 * 2.9956063082683158, 1.5 + 0j, 2.9956063082683158, 1.33 + 0j)),
    ("m2 x on a zero of psi_10, shell index 1.5 + 1e-6i",
     (10.022312869162292 / 0.8, 1.5 + 1e-6j, 10.022312869162292, SOOT)),
    ("the core's m1 x on a zero of psi_3", (2 * 4.658621333667013, 1.33 + 0j, 4.658621333667013, 1.5 + 0j)),
    ("y on the first zero of psi_1", (4.493409457909064, 1.5 + 0j, 2.246704728954532, SOOT)),
    ("y on the first zero of psi_1, lossless core", (4.493409457909065, 1.33 + 1e-9j, 2.2467047289545325, 1.5 + 0j)),
    ("y 1e-12 above the first zero of psi_1", (4.493409457913558, 1.33 + 1e-9j, 2.246704728956779, 1.5 + 0j)),
    ("silver in organics, 400/800 nm at 400 nm", (6.283185307179586, 1.5 + 0j, 3.141592653589793, SILVER)),
    ("soot in organics in water, 200/400 nm at 600 nm",
     (2.7855454861829503, 1.1278195488721805 + 0j, 1.3927727430914751, 1.3157894736842104 + 0.3308270676691729j)),
    ("gold in silica, 50/100 nm at 500 nm", (0.6283185307179586, 1.45 + 0j, 0.3141592653589793, GOLD)),
    ("thin gold shell, x = y (1 - 1e-12)", (100.0, GOLD, 99.9999999999, 1.45 + 0j)),
    ("thin lossless shell, x = y (1 - 1e-9)", (1.0, 1.5 + 0j, 0.999999999, SOOT)),
    ("x = y: a shell of no thickness", (10.0, GOLD, 10.0, 1.45 + 0j)),
    ("index near 1, lossless", (0.1, 1.0001 + 0j, 0.1, 1.0001 + 0j)),
    ("index near 1, absorbing shell", (1.0, 1.001 + 0.001j, 0.5, 1.5 + 0.01j)),
    ("index below 1", (5.0, 0.9 + 0j, 2.5, 1.5 + 0j)),
    ("gold sphere", (20.0, GOLD, 10.0, GOLD)),
    ("vacuum shell around a small core", (3.16227766, 1 + 0j, 1e-8, 6.5217 + 1j)),
    ("vacuum shell around a tiny core", (3.16227766, 1 + 0j, 1e-20, 6.5217 + 1j)),
    ("vacuum shell around a lossless core", (30.0, 1 + 0j, 1e-12, 1.5 + 0j)),
    ("small particle", (0.001, 1.33 + 0j, 0.0006, 1.5 + 0j)),
    ("lossless small particle where the series starts, y = 0.01", (0.01, 1.33 + 0j, 0.006, 1.5 + 0j)),
    ("large gold core", (300.0, 1.45 + 0j, 180.0, GOLD)),
    ("a random lossless particle whose absorption came out negative",
     (0.016122303073921908, 0.8978104420226113 + 0j, 0.015977450183387743, 0.10969763268706381 + 0j)),
]


def write_table(out):
    radians = engine_radians(TABLE_DEGREES)
    print("# Adversarial particles of the accuracy map, written by tools/accuracy_map.py table: the", file=out)
    print("# textbook series in arbitrary precision (tools/coated_series_mp.py, independent of the engine),", file=out)
    print("# at 17 digits. For each particle, after a comment naming it:", file=out)
    print("#   particle alpha1 index1Re index1Im alpha2 index2Re index2Im Kext Ksca Kabs Kback Kpr g albedo", file=out)
    degrees = ", ".join(map(str, TABLE_DEGREES))
    print(f"#   angle theta S1re S1im S2re S2im, at {degrees} degrees converted to", file=out)
    print("#     radians as the package converts them (theta is that double, exactly)", file=out)
    print(f"#   moments chi_0 chi_1 ... (the first {TABLE_MOMENTS}, or all 2N + 1 when fewer)", file=out)
    for title, layers in TABLE:
        count = min(2 * term_count(max(layers[0], layers[2])) + 1, TABLE_MOMENTS)
        values = coated.reference(*layers, degrees=radians, radians=True, moment_count=count)

        def digits(v):
            return mpmath.nstr(v, 17)
        print(f"# {title}", file=out)
        alpha1, index1, alpha2, index2 = layers
        print("particle", *(repr(v) for v in (alpha1, index1.real, index1.imag, alpha2, index2.real, index2.imag)),
              *(digits(values[name]) for name in coated.SCALAR_NAMES), file=out)
        for theta, s1, s2 in zip(radians, values["S1"], values["S2"]):
            print("angle", repr(theta), *(digits(v) for v in (s1.real, s1.imag, s2.real, s2.imag)), file=out)
        print("moments", *(digits(v) for v in values["moments"]), file=out)


def main(argv=None):
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    commands = parser.add_subparsers(dest="command", required=True)
    run_parser = commands.add_parser("run", help="the engine on PYTHONPATH against the reference")
    run_parser.add_argument("output", help="JSON file of the run's errors")
    run_parser.add_argument("--quick", action="store_true", help="a smaller map, a few minutes")
    run_parser.add_argument("--jobs", type=int, default=2, help="processes for the reference (default 2)")
    run_parser.add_argument("--reference", help="JSON file keeping the reference values")
    summary_parser = commands.add_parser("summary", help="the summary of one run, or of two side by side")
    summary_parser.add_argument("runs", nargs="+", help="one run, or the runs before and after")
    summary_parser.add_argument("--worst", type=int, default=5, help="particles listed per quantity")
    commands.add_parser("table", help="the engine test's adversarial particles and their reference values")
    args = parser.parse_args(argv)
    if args.command == "run":
        run(args)
    elif args.command == "summary":
        if len(args.runs) > 2:
            parser.error("one run, or two (before and after)")
        summary(args)
    else:
        write_table(sys.stdout)
    return 0


if __name__ == "__main__":
    sys.exit(main())
