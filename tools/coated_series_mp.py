"""The coated sphere's series in arbitrary precision: the independent reference
the tools check the engine and the examples against.

Nothing here shares the engine's algorithm (logarithmic derivatives, their
tables and start values, the safeguards near the zeros of psi_n):
- psi_n(z) = z j_n(z) and chi_n(z) = -z y_n(z) come from sin z and cos z by
  the upward recurrence f_(n-1) + f_(n+1) = (2n + 1)/z f_n (DLMF 10.51.1), with
  f_n' = f_(n-1) - n f_n / z (DLMF 10.51.2), in mpmath. Upward, psi_n is the
  decaying solution where n > |z| and loses about as many digits as chi_n^2
  has beyond 1: the working precision is raised by that much (digits_lost).
- The coefficients are those of Aden and Kerker (1951) as Bohren and Huffman
  (1983) write them in section 8.1, from psi_n and chi_n themselves, in their
  convention m = n + ik and xi_n = psi_n - i chi_n:
    A_n = (m2 psi_n(m2x) psi_n'(m1x) - m1 psi_n'(m2x) psi_n(m1x))
        / (m2 chi_n(m2x) psi_n'(m1x) - m1 chi_n'(m2x) psi_n(m1x))
    B_n = (m2 psi_n(m1x) psi_n'(m2x) - m1 psi_n(m2x) psi_n'(m1x))
        / (m2 chi_n'(m2x) psi_n(m1x) - m1 psi_n'(m1x) chi_n(m2x))
  and with P(C) = psi_n(m2y) - C chi_n(m2y), P'(C) likewise,
    a_n = (psi_n(y) P'(A_n) - m2 psi_n'(y) P(A_n)) / (xi_n(y) P'(A_n) - m2 xi_n'(y) P(A_n))
    b_n = (m2 psi_n(y) P'(B_n) - psi_n'(y) P(B_n)) / (m2 xi_n(y) P'(B_n) - xi_n'(y) P(B_n)).
  A zero of psi_n(m2y) is no singularity of these: it cancels nowhere.
- The series runs well past the engine's term count, until the terms fall
  below 1e-40.
- Efficiencies from the sums of Bohren and Huffman sections 4.4 and 4.5:
    Qext = 2/s^2 sum (2n+1) Re(a_n + b_n),  Qsca = 2/s^2 sum (2n+1)(|a_n|^2 + |b_n|^2),
    g Qsca = 4/s^2 [sum n(n+2)/(n+1) Re(a_n a*_(n+1) + b_n b*_(n+1))
                    + sum (2n+1)/(n(n+1)) Re(a_n b*_n)],
    Qback = 1/s^2 |sum (2n+1)(-1)^n (a_n - b_n)|^2,  Qpr = Qext - g Qsca.
- Amplitudes (eq. 4.74) S1 = sum w_n (a_n pi_n + b_n tau_n),
  S2 = sum w_n (a_n tau_n + b_n pi_n), w_n = (2n+1)/(n(n+1)), with
  pi_n = ((2n-1) mu pi_(n-1) - n pi_(n-2))/(n-1), tau_n = n mu pi_n - (n+1) pi_(n-1)
  (eq. 4.47), summed in fixed-point integers (2^-P, P >= 200 bits) at the
  exact angle cos(pi degrees/180). Mueller elements (eq. 4.77)
    S11 = (|S2|^2 + |S1|^2)/2, S12 = (|S2|^2 - |S1|^2)/2, S33 = Re(S2 S1*), S34 = Im(S2 S1*).
- The phase function p = 2 (|S1|^2 + |S2|^2) / (s^2 Qsca), whose mean over
  the sphere is 1, and its Legendre moments chi_l = (1/2) int p P_l dmu, by a
  Gauss-Legendre rule with enough nodes to integrate p P_l exactly (p is a
  polynomial of degree 2N in mu), its nodes by Newton's method in mpmath.

Conventions are the engine's: the layer with the larger size parameter is the
shell (on a tie the first); imaginary parts of either sign give the same
results (both taken non-negative); efficiencies refer to pi y^2, or to pi x^2
when the shell index is exactly 1 + 0i; Kabs is 0 when below 1e-10 of Kext
(exactly 0 when neither layer absorbs), and the albedo then exactly 1.

Every value is computed at two working precisions 30 digits apart, which must
agree (reference() to 25 digits on the scale of each quantity), else both
are raised by 60 digits. Needs mpmath (Debian: python3-mpmath); python3-gmpy2,
where installed, makes it several times faster.
"""

import math

import mpmath
from mpmath import mp, mpc, mpf

I = mpc(0, 1)
TAIL = mpf(10) ** -40
ABSORPTION_CUTOFF = 1e-10


class NoAgreement(Exception):
    pass


class PrecisionTooLow(Exception):
    pass


# --- Input -----------------------------------------------------------------

def layers(alpha1, index1, alpha2, index2):
    """(x, m1, y, m2): the core's size parameter and index, then the shell's,
    as the engine orders two layers given in either order; imaginary parts
    made non-negative. The numbers keep their values and types (doubles for
    the engine's input, mp values for decimal ones)."""
    first = (alpha1, index1 if index1.imag >= 0 else index1.conjugate())
    second = (alpha2, index2 if index2.imag >= 0 else index2.conjugate())
    shell, core = (second, first) if first[0] < second[0] else (first, second)
    return core[0], core[1], shell[0], shell[1]


def norm_size(x, m2, y):
    """The size parameter the efficiencies refer to: a core in vacuum (shell
    index exactly 1 + 0i) has the shell only as a boundary."""
    return x if m2 == 1 else y


def engine_term_count(y):
    return int(7.5 * y ** 0.34 + y + 2.5)


def term_limit(y):
    """Well past the engine's y + 7.5 y^0.34 + 2.5: beyond n = y the terms fall
    like exp(-(4/3) ((n - y) / (y/2)^(1/3))^(3/2)), below 1e-40 here;
    tail_small() confirms it."""
    return int(y + 14 * y ** (1 / 3) + 30)


# --- Riccati-Bessel functions ----------------------------------------------

def riccati(z, order):
    """psi_n(z), chi_n(z) and their derivatives for n = 0..order, by the upward
    recurrence from psi_(-1) = cos z, psi_0 = sin z, chi_(-1) = -sin z,
    chi_0 = cos z. xi_n = psi_n - i chi_n is the outgoing wave for m = n + ik,
    k >= 0."""
    psi = [None] * (order + 1)
    chi = [None] * (order + 1)
    dpsi = [None] * (order + 1)
    dchi = [None] * (order + 1)
    psi_before, psi_now = mpmath.cos(z), mpmath.sin(z)
    chi_before, chi_now = -mpmath.sin(z), mpmath.cos(z)
    for n in range(order + 1):
        psi[n], chi[n] = psi_now, chi_now
        dpsi[n] = psi_before - n * psi_now / z
        dchi[n] = chi_before - n * chi_now / z
        factor = (2 * n + 1) / z
        psi_before, psi_now = psi_now, factor * psi_now - psi_before
        chi_before, chi_now = chi_now, factor * chi_now - chi_before
    return psi, chi, dpsi, dchi


def digits_lost(arguments, order):
    """Upward, psi_n(z) is the decaying solution where n > |z|: the recurrence
    then loses about as many digits as chi_n(z)^2 has beyond 1."""
    lost = 0
    with mp.workdps(30):
        for z in arguments:
            chi_before, chi_now = -mpmath.sin(z), mpmath.cos(z)
            for n in range(order):
                chi_before, chi_now = chi_now, (2 * n + 1) / z * chi_now - chi_before
            lost = max(lost, 2 * float(mpmath.log10(abs(chi_now) + 1)))
    return int(lost)


def start_digits(x, m1, y, m2):
    """A first working precision: what the recurrence loses at the outer
    boundary up to the last order summed (in a thick absorbing shell that
    includes the 2 Im(m2 y) / ln 10 digits by which psi_n(m2 y) and
    chi_n(m2 y) grow alike, which the coefficients cancel), and in the core
    beyond that common growth, up to the orders whose field still reaches
    the shell's inner surface (beyond |m2 x| the weight of A_n and B_n falls
    like chi_n(m2 x)^-2). Where that is not enough, at_two_precisions raises
    the precision."""
    outer = digits_lost([mpc(m2) * y, mpf(y)], term_limit(y))
    core = 0
    if x:
        z = mpc(m1) * x
        inner = abs(complex(m2)) * x
        growth = 2 * float(abs(z.imag)) / math.log(10)
        core = max(0, digits_lost([z], min(term_limit(y), int(inner + 8 * inner ** (1 / 3) + 15))) - int(growth))
    return 40 + max(outer, core)


# --- Coefficients ------------------------------------------------------------

def coated_coefficients(x, m1, y, m2, order):
    """a_n, b_n for n = 1..order (entry 0 None), the arguments exact mp values."""
    psiy, chiy, dpsiy, dchiy = riccati(y, order)
    psi2y, chi2y, dpsi2y, dchi2y = riccati(m2 * y, order)
    if x == 0:
        A = B = [mpf(0)] * (order + 1)  # no core: a homogeneous sphere
    else:
        psi1, _, dpsi1, _ = riccati(m1 * x, order)
        psi2x, chi2x, dpsi2x, dchi2x = riccati(m2 * x, order)
        A = [(m2 * psi2x[n] * dpsi1[n] - m1 * dpsi2x[n] * psi1[n])
             / (m2 * chi2x[n] * dpsi1[n] - m1 * dchi2x[n] * psi1[n]) for n in range(order + 1)]
        B = [(m2 * psi1[n] * dpsi2x[n] - m1 * psi2x[n] * dpsi1[n])
             / (m2 * dchi2x[n] * psi1[n] - m1 * dpsi1[n] * chi2x[n]) for n in range(order + 1)]
    a, b = [None], [None]
    for n in range(1, order + 1):
        xi, dxi = psiy[n] - I * chiy[n], dpsiy[n] - I * dchiy[n]
        inner_a = dpsi2y[n] - A[n] * dchi2y[n]
        outer_a = psi2y[n] - A[n] * chi2y[n]
        inner_b = dpsi2y[n] - B[n] * dchi2y[n]
        outer_b = psi2y[n] - B[n] * chi2y[n]
        a.append((psiy[n] * inner_a - m2 * dpsiy[n] * outer_a)
                 / (xi * inner_a - m2 * dxi * outer_a))
        b.append((m2 * psiy[n] * inner_b - dpsiy[n] * outer_b)
                 / (m2 * xi * inner_b - dxi * outer_b))
    return a, b


def tail_small(a, b):
    return all(abs(a[n]) + abs(b[n]) < TAIL for n in range(len(a) - 3, len(a)))


def series(x, m1, y, m2):
    """a, b at the working precision, run until the last terms are
    negligible; PrecisionTooLow when they do not fall, the upward recurrence
    having lost every digit."""
    x, y, m1, m2 = mpf(x), mpf(y), mpc(m1), mpc(m2)
    order = term_limit(y)
    for _ in range(4):
        a, b = coated_coefficients(x, m1, y, m2, order)
        if tail_small(a, b):
            return a, b
        order += 20 + int(4 * y ** (1 / 3))
    raise PrecisionTooLow(f"the terms do not fall below {mpmath.nstr(TAIL, 3)} at {mp.dps} digits")


# --- Efficiencies ------------------------------------------------------------

def efficiencies(a, b, size, absorbing=True):
    """Kext, Ksca, Kabs, Kback, Kpr, g, albedo in the engine's conventions,
    referred to pi size^2."""
    order = len(a) - 1
    ext = sca = asym = mpf(0)
    back = mpc(0)
    for n in range(1, order + 1):
        ext += (2 * n + 1) * (a[n] + b[n]).real
        sca += (2 * n + 1) * (abs(a[n]) ** 2 + abs(b[n]) ** 2)
        asym += mpf(2 * n + 1) / (n * (n + 1)) * (a[n] * mpmath.conj(b[n])).real
        if n < order:
            asym += mpf(n * (n + 2)) / (n + 1) * (a[n] * mpmath.conj(a[n + 1])
                                                  + b[n] * mpmath.conj(b[n + 1])).real
        back += (2 * n + 1) * (-1) ** n * (a[n] - b[n])
    norm = mpf(size) ** 2
    kext, ksca, gksca = 2 * ext / norm, 2 * sca / norm, 4 * asym / norm
    kabs = kext - ksca if absorbing else mpf(0)
    albedo = ksca / kext
    if abs(kabs) < ABSORPTION_CUTOFF * abs(kext):
        kabs, albedo = mpf(0), mpf(1)
    return {"Kext": kext, "Ksca": ksca, "Kabs": kabs, "Kback": abs(back) ** 2 / norm,
            "Kpr": kext - gksca, "g": gksca / ksca, "albedo": albedo}


# --- Amplitudes, in fixed point ----------------------------------------------

def to_fixed(value, bits):
    return int(mpmath.nint(mpmath.ldexp(value, bits)))


def amplitude_sums(a, b, mus, bits):
    """(S1re, S1im, S2re, S2im) per mu as integers scaled by 2^(2 bits)."""
    order = len(a) - 1
    wa = [None] + [((2 * n + 1) * a[n]) / (n * (n + 1)) for n in range(1, order + 1)]
    wb = [None] + [((2 * n + 1) * b[n]) / (n * (n + 1)) for n in range(1, order + 1)]
    war = [0] + [to_fixed(v.real, bits) for v in wa[1:]]
    wai = [0] + [to_fixed(v.imag, bits) for v in wa[1:]]
    wbr = [0] + [to_fixed(v.real, bits) for v in wb[1:]]
    wbi = [0] + [to_fixed(v.imag, bits) for v in wb[1:]]
    one = 1 << bits
    result = []
    for mu_value in mus:
        mu = to_fixed(mu_value, bits)
        pi_before, pi_now = 0, one      # pi_0, pi_1
        tau = mu                        # tau_1
        s1r = war[1] * pi_now + wbr[1] * tau
        s1i = wai[1] * pi_now + wbi[1] * tau
        s2r = war[1] * tau + wbr[1] * pi_now
        s2i = wai[1] * tau + wbi[1] * pi_now
        for n in range(2, order + 1):
            pi_next = ((2 * n - 1) * ((mu * pi_now) >> bits) - n * pi_before) // (n - 1)
            tau = n * ((mu * pi_next) >> bits) - (n + 1) * pi_now
            pi_before, pi_now = pi_now, pi_next
            s1r += war[n] * pi_now + wbr[n] * tau
            s1i += wai[n] * pi_now + wbi[n] * tau
            s2r += war[n] * tau + wbr[n] * pi_now
            s2i += wai[n] * tau + wbi[n] * pi_now
        result.append((s1r, s1i, s2r, s2i))
    return result


def cos_degrees(degrees):
    return mpmath.cospi(mpf(degrees) / 180)


def intensities(a, b, degrees, bits):
    """(I1, I2) = (|S1|^2, |S2|^2) per angle in degrees."""
    return [(mpmath.ldexp(mpf(s1r * s1r + s1i * s1i), -4 * bits),
             mpmath.ldexp(mpf(s2r * s2r + s2i * s2i), -4 * bits))
            for s1r, s1i, s2r, s2i in amplitude_sums(a, b, [cos_degrees(d) for d in degrees], bits)]


def amplitudes(a, b, mus, bits):
    """(S1, S2) per mu, as mpc."""
    return [(mpc(mpmath.ldexp(s1r, -2 * bits), mpmath.ldexp(s1i, -2 * bits)),
             mpc(mpmath.ldexp(s2r, -2 * bits), mpmath.ldexp(s2i, -2 * bits)))
            for s1r, s1i, s2r, s2i in amplitude_sums(a, b, mus, bits)]


def norm2(z):
    return z.real ** 2 + z.imag ** 2


def mueller(s1, s2):
    """S11, S12, S33, S34 from the amplitudes."""
    product = s2 * mpmath.conj(s1)
    return (norm2(s2) + norm2(s1)) / 2, (norm2(s2) - norm2(s1)) / 2, product.real, product.imag


# --- Legendre moments ----------------------------------------------------------

def legendre_fixed(n, x, bits):
    """P_n(x), P_(n-1)(x) by Bonnet's recurrence in integers scaled by 2^bits."""
    before, now = 1 << bits, x
    for k in range(1, n):
        before, now = now, ((2 * k + 1) * ((x * now) >> bits) - k * before) // (k + 1)
    return now, before


def gauss_legendre(n, bits):
    """Nodes and weights of the n-point rule on [-1, 1], integrating
    polynomials of degree 2n - 1 exactly, at the working precision: Newton's
    method on P_n, first in double from Tricomi's estimate
    cos(pi (i - 1/4)/(n + 1/2)), then in fixed point, each step doubling the
    digits; weights 2 / ((1 - x^2) P_n'(x)^2), P_n' = n (x P_n - P_(n-1)) / (x^2 - 1)."""
    def newton(x):
        """(P_n / P_n', P_n') at x."""
        p, before = (mpmath.ldexp(v, -bits) for v in legendre_fixed(n, to_fixed(x, bits), bits))
        derivative = n * (x * p - before) / (x * x - 1)
        return p / derivative, derivative

    def newton_double(x):
        before, now = 1.0, x
        for k in range(1, n):
            before, now = now, ((2 * k + 1) * x * now - k * before) / (k + 1)
        return now / (n * (x * now - before) / (x * x - 1))

    nodes, weights = [], []
    steps = 2 + int(math.log2(bits / 50 + 1))
    for i in range(1, n // 2 + 1):
        x = math.cos(math.pi * (i - 0.25) / (n + 0.5))
        for _ in range(6):
            x -= newton_double(x)
        x = mpf(x)
        for _ in range(steps):
            x -= newton(x)[0]
        derivative = newton(x)[1]
        weight = 2 / ((1 - x * x) * derivative ** 2)
        nodes += [x, -x]
        weights += [weight, weight]
    if n % 2:
        before = mpmath.ldexp(legendre_fixed(n, 0, bits)[1], -bits)
        nodes.append(mpf(0))
        weights.append(2 / (n * before) ** 2)  # P_n'(0) = n P_(n-1)(0)
    return nodes, weights


def legendre_moments(a, b, size, ksca, count, bits):
    """chi_0 .. chi_(count-1) of p(mu) = 2 (|S1|^2 + |S2|^2) / (size^2 Ksca)."""
    order = len(a) - 1
    nodes, weights = gauss_legendre(order + (count + 1) // 2 + 1, bits)
    scale = 2 / (mpf(size) ** 2 * ksca)
    chi = [0] * count
    for mu, weight, (s1, s2) in zip(nodes, weights, amplitudes(a, b, nodes, bits)):
        half_weight_p = to_fixed(weight * scale * (norm2(s1) + norm2(s2)) / 2, bits)
        x = to_fixed(mu, bits)
        before, now = 0, 1 << bits
        for l in range(count):
            chi[l] += half_weight_p * now
            before, now = now, ((2 * l + 1) * ((x * now) >> bits) - l * before) // (l + 1)
    return [mpmath.ldexp(c, -2 * bits) for c in chi]


# --- Everything at two precisions ---------------------------------------------

SCALAR_NAMES = ("Kext", "Ksca", "Kabs", "Kback", "Kpr", "g", "albedo")
ANGULAR_NAMES = ("S1", "S2", "I1", "I2", "S11", "S12", "S33", "S34", "p")


def values_at(x, m1, y, m2, degrees, moment_count, digits, radians=False):
    """All quantities at `digits` working digits (less what the recurrences
    lose)."""
    with mp.workdps(digits):
        mus = [mpmath.cos(mpf(theta)) if radians else cos_degrees(theta) for theta in degrees]
        a, b = series(x, m1, y, m2)
        size = norm_size(x, m2, y)
        values = efficiencies(a, b, size, absorbing=(m1.imag != 0 or m2.imag != 0))
        values["order"] = len(a) - 1
        bits = int(digits * 3.33) + 64
        angular = {name: [] for name in ANGULAR_NAMES}
        for s1, s2 in amplitudes(a, b, mus, bits):
            s11, s12, s33, s34 = mueller(s1, s2)
            for name, value in zip(ANGULAR_NAMES, (s1, s2, norm2(s1), norm2(s2), s11, s12, s33, s34,
                                                   4 * s11 / (mpf(size) ** 2 * values["Ksca"]))):
                angular[name].append(value)
        values.update(angular)
        values["moments"] = legendre_moments(a, b, size, values["Ksca"], moment_count, bits) if moment_count else []
        return values


def scales(values):
    """What each quantity's error is measured against: itself, Kext for Kabs,
    the grid's largest value for amplitudes, intensities, S11 and the phase
    function, S11 at the same angle for the other Mueller elements, 1 for the
    moments."""
    result = {name: [abs(values[name])] for name in SCALAR_NAMES}
    result["Kabs"] = [abs(values["Kext"])]
    largest_amplitude = max([abs(s) for s in values["S1"] + values["S2"]], default=mpf(0))
    largest_intensity = max(values["I1"] + values["I2"], default=mpf(0))
    for name in ("S1", "S2"):
        result[name] = [largest_amplitude] * len(values[name])
    for name in ("I1", "I2"):
        result[name] = [largest_intensity] * len(values[name])
    for name in ("S11", "p"):
        result[name] = [max(values[name], default=mpf(0))] * len(values[name])
    for name in ("S12", "S33", "S34"):
        result[name] = list(values["S11"])
    result["moments"] = [mpf(1)] * len(values["moments"])
    return result


def agreeing(low, high, tolerance):
    """Each value of `low` within tolerance of `high`, relative to the value
    or, far below its scale, to 1e-15 of the scale."""
    for name, scale in scales(high).items():
        lows = low[name] if isinstance(low[name], list) else [low[name]]
        highs = high[name] if isinstance(high[name], list) else [high[name]]
        for u, v, s in zip(lows, highs, scale):
            if abs(u - v) > tolerance * max(abs(v), s * mpf(10) ** -15):
                return False
    return True


def at_two_precisions(compute, digits, agree, limit=2000, growth=0):
    """compute(digits) at digits and digits + 30 until agree(low, high),
    raising digits by 60 (and by `growth` times digits) after each miss;
    returns the higher one and its digits."""
    while True:
        try:
            low = compute(digits)
            high = compute(digits + 30)
            with mp.workdps(digits + 30):
                if agree(low, high):
                    return high, digits + 30
        except (PrecisionTooLow, ZeroDivisionError):
            pass  # a Wronskian cancelled to 0: every digit of psi_n lost
        if digits > limit:
            raise NoAgreement(f"no agreement between working precisions up to {limit} digits")
        digits += 60 + int(growth * digits)


def reference(alpha1, index1, alpha2, index2, degrees=(), moment_count=0, tolerance=1e-25, radians=False):
    """Every quantity of the particle made of the two layers (as the engine
    takes them: doubles, complex indices), intensities and the rest at the
    angles in degrees (or, with radians=True, at the angles in radians that
    the doubles given are exactly), and the first moment_count Legendre
    moments. A dict of mp values: the names of SCALAR_NAMES, lists for
    ANGULAR_NAMES and "moments", and "order" (terms summed) and "digits"
    (working digits)."""
    x, m1, y, m2 = layers(alpha1, index1, alpha2, index2)
    values, digits = at_two_precisions(lambda d: values_at(x, m1, y, m2, degrees, moment_count, d, radians),
                                       start_digits(x, m1, y, m2),
                                       lambda low, high: agreeing(low, high, mpf(tolerance)), growth=0.5)
    values["digits"] = digits
    return values
