#!/usr/bin/env python3
"""The roots that colour the map against 80-digit references (mpmath), on seeded polynomials.

usage: roots_accuracy.py ROOTS_PRINT [EMULATOR]
       roots_accuracy.py --cases     (the polynomials as ROOTS_PRINT reads them, for comparing builds)
       roots_accuracy.py --table ROOTS_PRINT   (the accuracy of families of roots beside their conditioning)

- 200 random polynomials of degree 2 to 20 with complex coefficients: every root within 1e-14 of its
  reference, relative to the root's modulus;
- (z - r)^m (z - s) with m = 2..5 and exact coefficients: the m roots near r within 10 eps^(1/m) |r|;
- roots spread from 1e-8 to 1e8 in modulus: within 1e-15 relative.
The references are the roots of the very double coefficients the program reads, found by
mpmath.polyroots at 80 digits; found and reference roots are paired nearest first.
"""
import random
import subprocess
import sys

import mpmath

mpmath.mp.dps = 80
EPS = 2.0 ** -52


def expand(roots):
    """Coefficients of prod (z - r), highest power first, in 80 digits, then rounded to doubles."""
    c = [mpmath.mpc(1)]
    for r in roots:
        c = [a - r * b for a, b in zip(c + [mpmath.mpc(0)], [mpmath.mpc(0)] + c)]
    return [complex(x) for x in c]


def references(coefficients):
    return mpmath.polyroots([mpmath.mpc(z) for z in coefficients], maxsteps=400, extraprec=400)


def paired(found, wanted):
    """Each reference root with the nearest found root still unpaired."""
    left = list(found)
    pairs = []
    for w in sorted(wanted, key=lambda w: -abs(w)):
        best = min(range(len(left)), key=lambda k: abs(mpmath.mpc(left[k]) - w))
        pairs.append((left.pop(best), w))
    return pairs


def table(program):
    """For each family, the largest relative error of a root found against the largest condition number of
    its simple roots times the unit roundoff: kappa(r) = sum |a_k| |r|^k / (|r| |p'(r)|), the relative
    change of r for a relative change of u = 2^-53 in every coefficient. An m-fold root has none; it is
    found to about u^(1/m)."""
    u = mpmath.mpf(2) ** -53
    rng = random.Random(23)
    chebyshev = [mpmath.mpf(1), mpmath.mpf(0)]  # T_1 = z, highest power first, after T_0 = 1
    previous = [mpmath.mpf(1)]
    for _ in range(19):
        chebyshev, previous = [2 * a - b for a, b in zip(chebyshev + [0], [0, 0] + previous)], chebyshev
    families = [
        ("z^20 - 1", [complex(1)] + [0j] * 19 + [complex(-1)]),
        ("roots from 1e-8 to 1e8", expand([mpmath.mpf(10) ** k * mpmath.expjpi(rng.uniform(-1, 1))
                                            for k in range(-8, 9, 2)])),
        ("10 random complex roots", expand([mpmath.mpc(rng.gauss(0, 1), rng.gauss(0, 1)) for _ in range(10)])),
        ("20 random coefficients", [complex(rng.gauss(0, 1), rng.gauss(0, 1)) for _ in range(21)]),
        ("Chebyshev T20", [complex(x) for x in chebyshev]),
        ("cluster 0.999, 1, 1.001", expand([mpmath.mpf("0.999"), mpmath.mpf(1), mpmath.mpf("1.001")])),
        ("Wilkinson (z - 1)...(z - 20)", expand(range(1, 21))),
        ("(z - 1)^5", expand([1] * 5)),
    ]
    text = "".join(" ".join(f"{z.real.hex()} {z.imag.hex()}" for z in c) + "\n" for _, c in families)
    out = subprocess.run([program], input=text, capture_output=True, text=True, check=True).stdout
    print("| polynomial | largest relative error | largest condition number times u |")
    print("| --- | ---: | ---: |")
    for (name, c), line in zip(families, out.splitlines()):
        numbers = [float.fromhex(x) for x in line.split()]
        found = [complex(numbers[k], numbers[k + 1]) for k in range(0, len(numbers), 2)]
        coefficients = [mpmath.mpc(z) for z in c]
        wanted = [mpmath.mpc(1)] * 5 if name == "(z - 1)^5" else references(c)
        error = max(float(abs(mpmath.mpc(z) - w) / abs(w)) for z, w in paired(found, wanted))
        kappa = 0
        n = len(c) - 1
        for w in wanted:
            derivative = mpmath.polyval([a * (n - k) for k, a in enumerate(coefficients[:-1])], w)
            if abs(derivative) > mpmath.mpf(10) ** -40:
                scale = sum(abs(a) * abs(w) ** (n - k) for k, a in enumerate(coefficients))
                kappa = max(kappa, scale / (abs(w) * abs(derivative)))
        bound = f"{float(kappa * u):.2g}" if kappa else f"none; u^(1/5) = {float(u ** (mpmath.mpf(1) / 5)):.2g}"
        print(f"| {name} | {error:.2g} | {bound} |")
    return 0


def main():
    if sys.argv[1] == "--table":
        return table(sys.argv[2])
    rng = random.Random(19)
    cases = []  # (coefficients, exact roots or None, tolerance function of a root)
    for _ in range(200):
        degree = rng.randint(2, 20)
        c = [complex(rng.gauss(0, 1), rng.gauss(0, 1)) for _ in range(degree + 1)]
        cases.append((c, None, lambda w: 1e-14))
    for m in range(2, 6):
        for r, s in [(1, -2), (0.5, 3), (complex(0.5, -0.25), complex(0, 2)), (-1.5, 0.75)]:
            roots = [complex(r)] * m + [complex(s)]
            cases.append((expand(roots), roots, lambda w, m=m: 10 * EPS ** (1.0 / m)))
    for _ in range(10):
        moduli = [10.0 ** k for k in range(-8, 9, 2)]
        roots = [mpmath.mpf(x) * mpmath.expjpi(rng.uniform(-1, 1)) for x in moduli]
        cases.append((expand(roots), None, lambda w: 1e-15))

    text = "".join(" ".join(f"{z.real.hex()} {z.imag.hex()}" for z in c) + "\n" for c, _, _ in cases)
    if sys.argv[1] == "--cases":
        sys.stdout.write(text)
        return 0
    command = sys.argv[2:] + [sys.argv[1]]
    out = subprocess.run(command, input=text, capture_output=True, text=True, check=True, timeout=600).stdout
    worst = {}
    failures = 0
    for (c, exact, tolerance), line in zip(cases, out.splitlines()):
        numbers = [float.fromhex(x) for x in line.split()]
        found = [complex(numbers[k], numbers[k + 1]) for k in range(0, len(numbers), 2)]
        wanted = [mpmath.mpc(r) for r in exact] if exact else references(c)
        kind = "multiple" if exact else ("random" if tolerance(0) == 1e-14 else "spread")
        for z, w in paired(found, wanted):
            error = float(abs(mpmath.mpc(z) - w) / abs(w))
            worst[kind] = max(worst.get(kind, 0.0), error)
            if not error <= tolerance(w):
                failures += 1
                if failures <= 10:
                    print(f"degree {len(c) - 1}: root {z} against {mpmath.nstr(w, 20)}: relative error {error:.3g}")
    for kind, error in sorted(worst.items()):
        print(f"{kind}: largest relative error {error:.3g}")
    if len(out.splitlines()) != len(cases):
        print("the program answered", len(out.splitlines()), "of", len(cases), "polynomials")
        return 1
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
