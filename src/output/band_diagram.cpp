#include "output/band_diagram.hpp"

#include <cmath>
#include <limits>

#include "common/format.hpp"
#include "solver/currents.hpp"

namespace zoniq {

namespace {

void Size(BandDiagramProfiles& o, std::size_t n) {
  for (std::vector<double>* a :
       {&o.x, &o.Ec, &o.Fn, &o.Fp,       &o.Ev,       &o.n,    &o.p, &o.rhoDefect, &o.netDoping, &o.rho,
        &o.E, &o.jn, &o.jp, &o.jnTunnel, &o.jpTunnel, &o.jtot, &o.G, &o.R,         &o.cumG,      &o.cumR})
    a->assign(n, 0.0);
}

}  // namespace

void BandDiagramFromSolution(const CalculationVariables& cv, int generationSide, BandDiagramProfiles& out) {
  const CalculationParameters& par = *cv.par;
  const Schaal& s = par.schaal;
  const MeshBlock& mesh = cv.mesh;
  const int N = mesh.N;
  const double Vt = par.Vt;
  out.V = cv.V;
  out.N = N;
  out.nlayers = par.nlayers;
  out.first = mesh.first;
  out.last = mesh.last;
  Size(out, static_cast<std::size_t>(N));
  out.interfaces.assign(static_cast<std::size_t>(par.nlayers > 1 ? par.nlayers - 1 : 0), InterfaceProfileRow{});
  if (N == 0) return;

  CurrentDensities j;
  extraheer_stroom(cv, j);
  out.jn = j.j_n;
  out.jp = j.j_p;
  out.jnTunnel = j.jn_tunnel;
  out.jpTunnel = j.jp_tunnel;
  out.jtot = j.j_tot;

  const PointData& pt = cv.pt;
  for (int l = 0; l < par.nlayers; ++l) {
    const int f = mesh.first[l], la = mesh.last[l];
    const double dens = s.S[l] * 1e-6;                         // [S_l] → /cm³
    const double rate = s.S[l] * s.Dmax / (s.L * s.L) * 1e-6;  // [S_l·Dmax/L²] → /cm³·s
    for (int i = f; i <= la; ++i) {
      const auto ii = static_cast<std::size_t>(i);
      const double uTot = cv.u0[ii] + cv.u[ii], vTot = cv.v0[ii] + cv.v[ii];
      out.x[ii] = mesh.xum[ii];
      // Energies are measured from the Fermi level of the left contact, upwards.
      out.Ec[ii] = par.Fi_left - pt.chi[ii] - Vt * cv.psi[ii];
      out.Ev[ii] = out.Ec[ii] - pt.Eg[ii];
      out.Fn[ii] = Vt * std::log(uTot);
      out.Fp[ii] = -Vt * std::log(vTot);
      out.n[ii] = dens * pt.Nn[ii] * cv.Eplus[ii] * uTot;
      out.p[ii] = dens * pt.Np[ii] * cv.Emin[ii] * vTot;
      out.rhoDefect[ii] = dens * cv.blocks.total.rho[ii];
      out.netDoping[ii] = dens * pt.Nnet[ii];
      out.G[ii] = rate * cv.G[ii];
      out.R[ii] = rate * cv.blocks.total.U[ii];
    }
    for (int i = f; i <= la; ++i) {
      const auto ii = static_cast<std::size_t>(i);
      // The end points of a layer carry no bulk defect charge of their own: their charge
      // density is that of the neighbouring point inside the layer.
      const std::size_t k = la > f ? static_cast<std::size_t>(i == f ? f + 1 : i == la ? la - 1 : i) : ii;
      out.rho[ii] = out.p[k] - out.n[k] + out.rhoDefect[k] + out.netDoping[k];
      // Field from the potential within the layer: central inside, one-sided at its ends
      // [V/m → V/cm].
      if (la > f) {
        const int a = i == f ? i : i - 1, b = i == la ? i : i + 1;
        const double dx = mesh.x[static_cast<std::size_t>(b)] - mesh.x[static_cast<std::size_t>(a)];
        out.E[ii] =
            dx > 0.0
                ? -(Vt / s.L) * (cv.psi[static_cast<std::size_t>(b)] - cv.psi[static_cast<std::size_t>(a)]) / dx * 0.01
                : 0.0;
      }
    }
  }

  // Interfaces: capture currents of each side in its own current scale q·S·Dmax/L [A/m² → mA/cm²].
  for (int l = 0; l + 1 < par.nlayers; ++l) {
    InterfaceProfileRow& r = out.interfaces[static_cast<std::size_t>(l)];
    const double cl = kQ * s.S[l] * s.Dmax / s.L * 0.1;
    const double cr = kQ * s.S[l + 1] * s.Dmax / s.L * 0.1;
    const InterfaceTermBlock& t = cv.ifr;
    const auto ll = static_cast<std::size_t>(l);
    r.x = mesh.xum[static_cast<std::size_t>(mesh.last[l])];
    r.jn1 = cl * t.Fn_left[ll];
    r.jn2 = cr * t.Fn_right[ll];
    r.jp1 = cl * t.Fp_left[ll];
    r.jp2 = cr * t.Fp_right[ll];
    r.jn1t = cl * t.Fn_left_t[ll];
    r.jn2t = cr * t.Fn_right_t[ll];
    r.jp1t = cl * t.Fp_left_t[ll];
    r.jp2t = cr * t.Fp_right_t[ll];
    r.js = r.jn1 + r.jn2;
    r.pi = t.sigma[ll] * 1e-4;  // C/m² → C/cm²
    const auto p = static_cast<std::size_t>(mesh.last[l]);
    r.jth = (out.jn[p] + out.jnTunnel[p] + r.jn1) + (out.jp[p] + out.jpTunnel[p] - r.jp1);
    r.fn.fill(std::numeric_limits<double>::quiet_NaN());
    r.fp.fill(std::numeric_limits<double>::quiet_NaN());
    if (ll < cv.ifrec.iface.size())
      for (const InterfaceDefectRecord& d : cv.ifrec.iface[ll]) {
        const int k = d.input.defect;
        if (k < 0 || k >= MAXIFACEDEFECTS) continue;
        // The density-weighted mean: the axis weights times the trapezoid weights sum to one.
        double fn = 0.0, fp = 0.0;
        for (int e = 0; e < d.axis.count && e < static_cast<int>(d.records.size()); ++e) {
          const auto u = static_cast<std::size_t>(e);
          const double w = d.axis.weight[u] * d.axis.quadrature[u];
          fn += w * d.records[u].f;
          fp += w * d.records[u].een_min_f;
        }
        r.fn[static_cast<std::size_t>(k)] = fn;
        r.fp[static_cast<std::size_t>(k)] = fp;
      }
  }

  // Box widths around every point [m]: half the distance to each neighbour (an interface
  // point has a zero-width half on its interface side).
  const std::vector<double>& xm = mesh.xm;
  auto box = [&](int i) {
    if (N < 2) return 0.0;
    const auto ii = static_cast<std::size_t>(i);
    if (i == 0) return 0.5 * (xm[1] - xm[0]);
    if (i == N - 1) return 0.5 * (xm[ii] - xm[ii - 1]);
    return 0.5 * (xm[ii + 1] - xm[ii - 1]);
  };
  // q·rate·box: /cm³·s × 1e6 → /m³·s; × q × m → A/m²; × 0.1 → mA/cm².
  const double toCurrent = kQ * 1e6 * 0.1;
  if (generationSide == -1) {
    double sum = 0.0;
    for (int i = 0; i < N; ++i) {
      sum += toCurrent * out.G[static_cast<std::size_t>(i)] * box(i);
      out.cumG[static_cast<std::size_t>(i)] = sum;
    }
  } else {
    double sum = 0.0;
    for (int i = N - 1; i >= 0; --i) {
      sum += toCurrent * out.G[static_cast<std::size_t>(i)] * box(i);
      out.cumG[static_cast<std::size_t>(i)] = sum;
    }
  }

  // Cumulative recombination: the minority-carrier current into the left contact, then the
  // bulk and interface recombination met on the way, and at the end the minority-carrier
  // current into the right contact.
  const bool leftElectrons = ElectronsAreMinorityAtContact(par, 0);
  const bool rightElectrons = ElectronsAreMinorityAtContact(par, 1);
  double sum = leftElectrons ? out.jn[0] : out.jp[0];
  for (int l = 0; l < par.nlayers; ++l) {
    for (int i = mesh.first[l]; i <= mesh.last[l]; ++i) {
      const auto ii = static_cast<std::size_t>(i);
      if (l > 0 && i == mesh.first[l]) sum += out.interfaces[static_cast<std::size_t>(l - 1)].js;
      sum += toCurrent * out.R[ii] * box(i);
      if (i == N - 1) sum += rightElectrons ? out.jn[ii] : out.jp[ii];
      out.cumR[ii] = sum;
    }
  }
}

std::string BandDiagramText(const BandDiagramProfiles& b) {
  std::string t;
  t.reserve(static_cast<std::size_t>(b.N + 2 * b.nlayers) * 360 + 2048);
  t += "Band diagramme at actual bias voltage\t" + fix(b.V, 10, 4) + "\tVolt\n";
  t += "\nbulk\n\n";
  t += "   i\t       x(um)\t      Ec(eV)\t      Fn(eV)\t      Fp(eV)\t      Ev(eV)\t     n(/cm3)\t     p(/cm3)\t"
       "rho(defect) (/cm3)\tnet doping (/cm3)\t   rho(/cm3)\t     E(V/cm)\t  jn(mA/cm2)\t  jp(mA/cm2)\t"
       "  jn_tunnel(mA/cm2)\t  jp_tunnel(mA/cm2)\tjtot(mA/cm2)\t generation(#/cm3.s)\t  recombination(#/cm3.s)\t"
       "cumulative generation (mA/cm2)\tcumulative recombination (mA/cm2)\n\n";
  for (int l = 0; l < b.nlayers; ++l) {
    for (int i = b.first[static_cast<std::size_t>(l)]; i <= b.last[static_cast<std::size_t>(l)]; ++i) {
      const auto k = static_cast<std::size_t>(i);
      t += ' ';
      t += intw(i, 3);
      t += "\t " + fix(b.x[k], 14, 6);
      for (double e : {b.Ec[k], b.Fn[k], b.Fp[k], b.Ev[k]}) t += "\t " + fix(e, 14, 8);
      for (double v : {b.n[k], b.p[k], b.rhoDefect[k], b.netDoping[k], b.rho[k], b.E[k], b.jn[k], b.jp[k],
                       b.jnTunnel[k], b.jpTunnel[k], b.jtot[k], b.G[k]})
        t += "\t " + sci(v, 16, 8);
      t += "\t  " + sci(b.R[k], 16, 8);
      t += "\t " + sci(b.cumG[k], 16, 8);
      t += "\t  " + sci(b.cumR[k], 16, 8);
      t += '\n';
    }
  }
  t += "\n\n\ninterface\n\n";
  t += "  IF\t       x(um)\t jn1(mA/cm2)\t jn2(mA/cm2)\t jp1(mA/cm2)\t jp2(mA/cm2)\t jn1[with tunnel](mA/cm2)\t "
       "jn2[with tunnel](mA/cm2)\t jp1[with tunnel](mA/cm2)\t jp2[with tunnel](mA/cm2)\t  js(mA/cm2)\t   "
       "pi(C/cm2)\n\n";
  for (std::size_t k = 0; k < b.interfaces.size(); ++k) {
    const InterfaceProfileRow& r = b.interfaces[k];
    t += "   " + intw(static_cast<long>(k), 1);
    t += "\t  " + fix(r.x, 14, 6);
    for (double v : {r.jn1, r.jn2, r.jp1, r.jp2, r.jn1t, r.jn2t, r.jp1t, r.jp2t, r.js, r.pi})
      t += "\t  " + sci(v, 16, 8);
    t += '\n';
  }
  return t;
}

}  // namespace zoniq
