#!/usr/bin/env python3
"""Derives the standard illumination spectrum "AM1_5G 1 sun.spe" from the public ASTM G173-03
reference spectra (global tilt column, W m^-2 nm^-1).

Each spectral point of a spectrum file carries the power of its share of the wavelength axis:
P_i = E(lambda_i) * (lambda_{i+1} - lambda_{i-1}) / 2, with half intervals at the two ends, so
that the points sum to the trapezoidal integral of the irradiance (about 1000 W/m2).

Usage: tools/make_am15g_spectrum.py [csv] [output]
"""
import sys


def main():
    src = sys.argv[1] if len(sys.argv) > 1 else "data/ASTMG173.csv"
    dst = sys.argv[2] if len(sys.argv) > 2 else "home/spectrum/AM1_5G 1 sun.spe"
    wl, irr = [], []
    with open(src, encoding="latin-1") as f:
        for line in f:
            parts = line.strip().split(",")
            try:
                w, g = float(parts[0]), float(parts[2])
            except (ValueError, IndexError):
                continue
            wl.append(w)
            irr.append(g)
    n = len(wl)
    power = []
    for i in range(n):
        left = wl[i] - wl[i - 1] if i > 0 else 0.0
        right = wl[i + 1] - wl[i] if i + 1 < n else 0.0
        power.append(irr[i] * 0.5 * (left + right))
    total = sum(power)
    with open(dst, "w", newline="\n") as out:
        out.write("AM1.5G, 1 sun: ASTM G173-03 reference spectrum, global tilt (37 deg), public data\n")
        out.write("Derived by tools/make_am15g_spectrum.py from data/ASTMG173.csv: power per spectral point =\n")
        out.write("irradiance x (share of the wavelength axis); the points sum to %.3f W/m2\n" % total)
        out.write("wavelength [nm]\tpower [W/m2]\n")
        for w, p in zip(wl, power):
            out.write("%g\t%.6e\n" % (w, p))
    print("%s: %d points, %.3f W/m2" % (dst, n, total))


if __name__ == "__main__":
    main()
