"""Round trips of coatedmie.retrieve: synthetic measurements of known particles and populations with Gaussian noise,
retrieved; how often the truth lies within the reported covariance, how often every solution the noise-free
measurements allow is reported, and the time per retrieval. Run by hand after a release build:

    /usr/bin/python3 bench/retrieval_bench.py [trials per particle case] [trials of the population] [module folder]

(defaults 100, 10 and build/release/python). Each particle case draws its truths and noise from its own seeded
generator, so a run repeats exactly.

Coverage: a trial counts when the truth lies within the two-standard-deviation region of a reported solution,
(p - truth)^T C^-1 (p - truth) <= the 95.45% quantile of chi-square with as many degrees of freedom as unknowns
(0.9545 expected). Beside it, the same count for the region Delta chi-square <= that quantile around the best
solution, which holds whatever the curvature, so that a gap between the two is the covariance's first-order
approximation at the noise level. Several solutions: for the particle cases, the solutions of the noise-free
measurements (zeros of their misfit) are found independently, by a dense grid of values (no derivatives) polished
by least squares on finite differences; a trial with several counts as detected when each lies within the
three-standard-deviation region of a reported solution (noise may move, merge or remove such solutions). The
search's completeness: the consistent minima of the noisy misfit found the same way on a 601 x 601 grid, and how
many of them are reported (the same point, or within one standard deviation of a reported solution, which is
one solution with it).
"""

import os
import statistics
import sys
import time
import warnings

HERE = os.path.dirname(os.path.abspath(__file__))
TRIALS = int(sys.argv[1]) if len(sys.argv) > 1 else 100
POPULATION_TRIALS = int(sys.argv[2]) if len(sys.argv) > 2 else 10
sys.path.insert(0, sys.argv[3] if len(sys.argv) > 3 else os.path.join(HERE, "..", "build", "release", "python"))

import numpy as np  # noqa: E402
from scipy.ndimage import minimum_filter  # noqa: E402
from scipy.optimize import least_squares  # noqa: E402
from scipy.stats import chi2  # noqa: E402

import coatedmie  # noqa: E402
from coatedmie.index_tables import GOLD_JOHNSON_CHRISTY  # noqa: E402

GOLD = coatedmie.read_index_table(GOLD_JOHNSON_CHRISTY)
SOOT = 1.95 + 0.79j

# name: (model, known, unknown bounds, measurements (quantity, wavelength), relative noise, truths drawn within)
CASES = {
    "soot coated with organics": (
        "core_shell", {"m_core": SOOT, "d_core": 150, "m_shell.imag": 0.0},
        {"coating_thickness": (0, 150), "m_shell.real": (1.3, 1.8)},
        [("Csca", 532), ("Cabs", 405), ("Cabs", 532), ("Cabs", 781)], 0.02,
        {"coating_thickness": (15, 135), "m_shell.real": (1.35, 1.75)}),
    "soot coated with sulfate": (
        "core_shell", {"m_core": SOOT, "m_shell": 1.43},
        {"d_core": (80, 250), "coating_thickness": (0, 150)},
        [("Csca", 532), ("Cabs", 405), ("Cabs", 532), ("Cabs", 781)], 0.02,
        {"d_core": (100, 230), "coating_thickness": (15, 135)}),
    "dust coated with water": (
        "core_shell", {"m_core": 1.53 + 0.008j, "m_shell": 1.33},
        {"d_core": (0.5, 2.0), "coating_thickness": (0, 0.5)},
        [("Csca", 0.55), ("Cback", 0.55), ("Cabs", 0.45)], 0.02,
        {"d_core": (0.65, 1.85), "coating_thickness": (0.05, 0.45)}),
    "dust coated with water, scattering and backscatter only": (
        "core_shell", {"m_core": 1.53 + 0.008j, "m_shell": 1.33},
        {"d_core": (0.5, 2.0), "coating_thickness": (0, 0.5)},
        [("Csca", 0.55), ("Cback", 0.55)], 0.02,
        {"d_core": (0.65, 1.85), "coating_thickness": (0.05, 0.45)}),
    "gold nanoshell in water": (
        "core_shell", {"m_core": 1.45, "m_shell": {w: complex(GOLD(w)) for w in (650, 800)}, "n_medium": 1.33},
        {"d_core": (80, 200), "coating_thickness": (5, 30)},
        [("Cext", 650), ("Csca", 650), ("Cext", 800)], 0.02,
        {"d_core": (90, 190), "coating_thickness": (7, 28)}),
}
POPULATION = (
    "lognormal", {"m_core": SOOT, "m_shell": 1.43, "number_concentration": 1000},
    {"median_diameter": (60, 250), "gsd": (1.3, 2.0), "core_fraction": (0.3, 0.9)},
    [(q, w) for q in ("scattering", "absorption") for w in (450, 550, 700)], 0.02,
    {"median_diameter": (80, 230), "gsd": (1.4, 1.9), "core_fraction": (0.35, 0.85)})


def computed(model, known, parameters, keys):
    """The quantities of keys for the particle or population, by the package's value calls."""
    everything = {**known, **parameters}
    if "m_shell.real" in everything:
        everything["m_shell"] = everything.pop("m_shell.real") + 1j * everything.pop("m_shell.imag")
    values = {}
    for quantity, wavelength in keys:
        def at(name):
            value = everything[name]
            return value[wavelength] if isinstance(value, dict) else value
        if model == "core_shell":
            d_core = at("d_core")
            r = coatedmie.core_shell(at("m_core"), at("m_shell"), wavelength, d_core,
                                     d_core + 2 * at("coating_thickness"), everything.get("n_medium", 1.0))
            values[(quantity, wavelength)] = getattr(r, quantity)
        else:
            r = coatedmie.lognormal(at("m_core"), at("m_shell"), wavelength, at("median_diameter"), at("gsd"),
                                    at("core_fraction"), rtol=1e-6, max_particles=2_000_000)
            b = coatedmie.optical_coefficients(r, at("number_concentration"), "nm")
            values[(quantity, wavelength)] = getattr(b, quantity)
    return values


def brute_force_minima(model, known, unknown, keys, measured, sigma, largest, nodes=241):
    """The local minima of the misfit inside the bounds of chi-square at most largest, found without derivatives:
    the local minima of a dense grid, polished by least squares on finite differences."""
    names = list(unknown)
    axes = [np.linspace(*unknown[name], nodes) for name in names]
    A, B = np.meshgrid(*axes, indexing="ij")
    misfit = np.zeros_like(A)
    for key in keys:
        misfit += ((computed(model, known, {names[0]: A, names[1]: B}, [key])[key] - measured[key]) / sigma[key]) ** 2
    starts = np.argwhere((misfit == minimum_filter(misfit, size=3, mode="nearest")) & (misfit < largest + 4))
    low, high = np.array([unknown[n][0] for n in names]), np.array([unknown[n][1] for n in names])

    def residuals(p):
        values = computed(model, known, dict(zip(names, p)), keys)
        return [(values[key] - measured[key]) / sigma[key] for key in keys]
    zeros = []
    for i, j in starts:
        fit = least_squares(residuals, [A[i, j], B[i, j]], bounds=(low, high), x_scale=high - low, xtol=1e-12,
                            ftol=1e-14, gtol=1e-14)
        if 2 * fit.cost <= largest and not any(np.all(np.abs(fit.x - z) < 1e-4 * (high - low)) for z in zeros):
            zeros.append(fit.x)
    return zeros


def within(point, solution, names, probability):
    d = np.array([point[name] for name in names]) - np.array([solution.parameters[name] for name in names])
    with np.errstate(all="ignore"):
        try:
            return float(d @ np.linalg.solve(solution.covariance, d)) <= chi2.ppf(probability, len(names))
        except np.linalg.LinAlgError:
            return False


def same(point, solution, names, unknown):
    """Whether a minimum is the solution: the same point, or within its one-standard-deviation region."""
    d = point - np.array([solution.parameters[n] for n in names])
    width = np.array([unknown[n][1] - unknown[n][0] for n in names])
    if np.all(np.abs(d) <= 1e-5 * width):
        return True
    with np.errstate(all="ignore"):
        return bool(np.all(np.isfinite(solution.covariance)) and d @ np.linalg.pinv(solution.covariance) @ d < 1)


def run(name, case, trials, seed, oracle):
    model, known, unknown, keys, noise, truths = case
    names = list(unknown)
    rng = np.random.default_rng(seed)
    counts = dict(covered=0, covered_delta=0, none=0, several=0, truth_several=0, detected=0, on_bound=0,
                  consistent=0, reported=0)
    seconds, evaluations = [], []
    for _ in range(trials):
        truth = {n: rng.uniform(*truths[n]) for n in names}
        exact = computed(model, known, truth, keys)
        sigma = {k: noise * abs(v) for k, v in exact.items()}
        measured = {k: (v + sigma[k] * rng.standard_normal(), sigma[k]) for k, v in exact.items()}
        start = time.perf_counter()
        with warnings.catch_warnings():
            warnings.simplefilter("ignore")
            r = coatedmie.retrieve(measured, known, unknown, model=model, length_unit="nm")
        seconds.append(time.perf_counter() - start)
        evaluations.append(r.evaluations)
        counts["none"] += not r.solutions
        counts["several"] += len(r.solutions) > 1
        counts["on_bound"] += any(s.on_bound for s in r.solutions)
        counts["covered"] += any(within(truth, s, names, 0.9545) for s in r.solutions)
        if r.solutions:
            at_truth = sum(((exact[k] - measured[k][0]) / sigma[k]) ** 2 for k in keys)
            counts["covered_delta"] += at_truth - r.solutions[0].chi_square <= chi2.ppf(0.9545, len(names))
        if oracle:
            zeros = brute_force_minima(model, known, unknown, keys, exact, sigma, 1e-8)
            # The search's completeness: the consistent minima of the noisy misfit, by brute force on a grid
            # finer than the search's first, each reported (or within one standard deviation of a reported one,
            # which merges them).
            values = {k: v for k, (v, _) in measured.items()}
            minima = brute_force_minima(model, known, unknown, keys, values, sigma, r.threshold, nodes=601)
            counts["consistent"] += len(minima)
            counts["reported"] += sum(any(same(m, s, names, unknown) for s in r.solutions) for m in minima)
            if len(zeros) > 1:
                counts["truth_several"] += 1
                counts["detected"] += all(any(within(dict(zip(names, z)), s, names, 0.9973) for s in r.solutions)
                                          for z in zeros)
    rate = counts["covered"] / trials
    print(f"{name}: {trials} trials, noise {noise:.0%}; truth within 2 sigma {counts['covered']} "
          f"({rate:.1%}, binomial sd {np.sqrt(0.9545 * 0.0455 / trials):.1%}), within Delta chi2 "
          f"{counts['covered_delta']}; no solution {counts['none']}, several {counts['several']}, on a bound "
          f"{counts['on_bound']}" + (f"; several in truth {counts['truth_several']}, all reported "
                                      f"{counts['detected']}; consistent minima by brute force {counts['consistent']}, "
                                      f"reported {counts['reported']}" if oracle else "") +
          f"; time per retrieval median {statistics.median(seconds):.3f} s (max {max(seconds):.2f} s), "
          f"{statistics.median(evaluations):.0f} evaluations", flush=True)
    return counts


def main():
    print(f"{os.cpu_count()} cores; coatedmie {coatedmie.__version__}", flush=True)
    totals = dict(covered=0, trials=0, truth_several=0, detected=0)
    for seed, (name, case) in enumerate(CASES.items()):
        counts = run(name, case, TRIALS, seed, oracle=True)
        totals["covered"] += counts["covered"]
        totals["trials"] += TRIALS
        totals["truth_several"] += counts["truth_several"]
        totals["detected"] += counts["detected"]
    print(f"particles: truth within 2 sigma in {totals['covered']} of {totals['trials']} "
          f"({totals['covered'] / totals['trials']:.1%}); several solutions in truth {totals['truth_several']}, "
          f"all reported {totals['detected']}", flush=True)
    if POPULATION_TRIALS:
        run("lognormal population of soot coated with sulfate", POPULATION, POPULATION_TRIALS, 99, oracle=False)


if __name__ == "__main__":
    main()
