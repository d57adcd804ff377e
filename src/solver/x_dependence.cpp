#include "solver/x_dependence.hpp"

#include <algorithm>
#include <cmath>

#include "celldef/absorption.hpp"
#include "celldef/interpolation.hpp"
#include "solver/metastable.hpp"

namespace zoniq {

namespace {

// The error routine of the calculation, or a silent one when the calculation has none.
struct EnvironmentOf {
  explicit EnvironmentOf(const CalculationVariables& cv) {
    if (cv.ctx && cv.ctx->env.ui && cv.ctx->env.errors) {
      env = cv.ctx->env;
    } else {
      env = Environment{&quietUi, &quietErrors, cv.ctx ? cv.ctx->env.programFolder : std::string()};
    }
  }
  RecordingUserInterface quietUi;
  ErrorReporting quietErrors;
  Environment env;
};

}  // namespace

void Full_x_Dependence(CalculationVariables& cv) {
  CalculationParameters& par = *cv.par;
  const EnvironmentOf e(cv);
  const double Vt = par.Vt;
  const double tau = Vt / kVt300;
  const double tau15 = std::pow(tau, 1.5);
  const double sqrtTau = std::sqrt(tau);
  const Schaal& s = par.schaal;
  PointData& pt = cv.pt;
  const double PhiL = par.Fi_left;
  for (int l = 0; l < par.nlayers; ++l) {
    LayerParameters& lp = par.cell.layer[l];
    const int f = cv.mesh.first[l];
    const int n = cv.mesh.last[l] - f + 1;
    if (n <= 0) continue;
    const std::span<const double> pos(cv.mesh.xum.data() + f, n);
    auto at = [&](std::vector<double>& a) { return std::span<double>(a.data() + f, n); };
    const std::span<const double> y(pt.y.data() + f, n);
    interpolation(lp.composition, pos, at(pt.y), 0, e.env);
    auto overY = [&](Profile& p, std::vector<double>& out) { interpolation(p, y, at(out), 1, e.env); };
    overY(lp.chi, pt.chi);
    overY(lp.Eg, pt.Eg);
    overY(lp.eps, pt.eps);
    overY(lp.Nc, pt.NC);
    overY(lp.Nv, pt.NV);
    overY(lp.v_th_n, pt.vth_n);
    overY(lp.v_th_p, pt.vth_p);
    overY(lp.mu_n, pt.mu_n);
    overY(lp.mu_p, pt.mu_p);
    overY(lp.me_rel, pt.me);
    overY(lp.mh_rel, pt.mh);
    overY(lp.K_rad, pt.Krad);
    overY(lp.c_n_auger, pt.Cn);
    overY(lp.c_p_auger, pt.Cp);
    interpolation(lp.Nd, lp.Nd.dependence == DEP_POSITION ? pos : y, at(pt.ND), 1, e.env);
    interpolation(lp.Na, lp.Na.dependence == DEP_POSITION ? pos : y, at(pt.NA), 1, e.env);

    const double S = s.S[l];
    const double vscale = sqrtTau / s.snelheid;
    const double muscale = sqrtTau * Vt / s.Dmax;
    const double L2D = s.L * s.L / s.Dmax;
    double maxChi = -1e300, maxNC = 0.0, maxChiEg = -1e300, maxNV = 0.0;
    for (int i = f; i < f + n; ++i) {
      pt.NC[i] *= tau15 / S;
      pt.NV[i] *= tau15 / S;
      pt.vth_n[i] *= vscale;
      pt.vth_p[i] *= vscale;
      pt.mu_n[i] *= muscale;
      pt.mu_p[i] *= muscale;
      pt.Krad[i] *= S * L2D;
      pt.Cn[i] *= S * S * L2D;
      pt.Cp[i] *= S * S * L2D;
      pt.ND[i] /= S;
      pt.NA[i] /= S;
      pt.Nnet[i] = pt.ND[i] - pt.NA[i];
      pt.Nn[i] = pt.NC[i] * std::exp((pt.chi[i] - PhiL) / Vt);
      pt.Np[i] = pt.NV[i] * std::exp((PhiL - pt.chi[i] - pt.Eg[i]) / Vt);
      maxChi = std::max(maxChi, pt.chi[i]);
      maxNC = std::max(maxNC, pt.NC[i]);
      maxChiEg = std::max(maxChiEg, pt.chi[i] + pt.Eg[i]);
      maxNV = std::max(maxNV, pt.NV[i]);
    }
    for (int i = f; i < f + n; ++i) {
      pt.theta_n[i] = (pt.chi[i] - maxChi) / Vt + std::log(pt.NC[i] / maxNC);
      pt.theta_p[i] = ((pt.chi[i] + pt.Eg[i]) - maxChiEg) / Vt - std::log(pt.NV[i] / maxNV);
    }
  }
}

namespace {

// Total density of a defect level at the points of its layer, times factor.
void DefectDensity(CalculationVariables& cv, BulkRecombinationParameters& level, std::vector<double>& result,
                   double factor, const Environment& env) {
  const int l = level.layerNumber;
  const int f = cv.mesh.first[l];
  const int n = cv.mesh.last[l] - f + 1;
  result.resize(static_cast<std::size_t>(std::max(n, 0)));
  if (n <= 0) return;
  const std::span<const double> abscissae(
      (level.Nt.dependence == DEP_COMPOSITION ? cv.pt.y.data() : cv.mesh.xum.data()) + f, n);
  interpolation(level.Nt, abscissae, result, 1, env);
  for (double& v : result) v *= factor;
}

}  // namespace

void Full_Nt_x_Dependence(CalculationVariables& cv, BulkRecombinationParameters& level, std::vector<double>& result,
                          double factor) {
  const EnvironmentOf e(cv);
  DefectDensity(cv, level, result, level.peakToTotal * factor, e.env);
}

void Full_MetaNt_x_Dependence(CalculationVariables& cv, int layer, MetaStableDefectParameters& meta,
                              std::vector<double>& result, double factor) {
  const EnvironmentOf e(cv);
  const int f = cv.mesh.first[layer];
  const int n = cv.mesh.last[layer] - f + 1;
  result.resize(static_cast<std::size_t>(std::max(n, 0)));
  if (n <= 0) return;
  const std::span<const double> abscissae(
      (meta.Nt.dependence == DEP_COMPOSITION ? cv.pt.y.data() : cv.mesh.xum.data()) + f, n);
  interpolation(meta.Nt, abscissae, result, 1, e.env);
  for (double& v : result) v *= factor;
}

void FillAllDefectRecords(CalculationVariables& cv) {
  CalculationParameters& par = *cv.par;
  const EnvironmentOf e(cv);
  for (int l = 0; l < par.nlayers; ++l) {
    const int f = cv.mesh.first[l];
    const int n = cv.mesh.last[l] - f + 1;
    // The two configurations of a metastable transition share its total density.
    for (int k = 0; k < MAXMETATRANSITIONS; ++k)
      if (MetaTransitionCalc& t = cv.meta.t[l][k]; t.on)
        Full_MetaNt_x_Dependence(cv, l, par.cell.layer[l].meta[k], t.Nt, 1.0 / par.schaal.S[l]);
    for (BulkDefectRecord& d : cv.rec.layer[l]) {
      const int m = d.input.defect;
      std::vector<double>& Nt = cv.defectNt[l][m];
      if (!MetaDefectDensity(cv, l, m, Nt))
        DefectDensity(cv, par.cell.layer[l].srh[m][0], Nt, 1.0 / par.schaal.S[l], e.env);
      d.first = f;
      d.count = n;
      for (LevelRecord& r : d.records) r.resize(n);
      LayerPointData lpd{
          std::span<const double>(cv.pt.vth_n.data() + f, n), std::span<const double>(cv.pt.vth_p.data() + f, n),
          std::span<const double>(cv.pt.NC.data() + f, n),    std::span<const double>(cv.pt.NV.data() + f, n),
          std::span<const double>(cv.pt.Eg.data() + f, n),    std::span<const double>(Nt)};
      FillDefectRecord(d, lpd, par.Vt, cv.ctx ? cv.ctx->counter : nullptr);
    }
  }
  FillInterfaceDefectRecords(cv);
}

int bepaal_alfa(CalculationVariables& cv, std::span<const double> wavelengths) {
  CalculationParameters& par = *cv.par;
  const EnvironmentOf e(cv);
  cv.wavelengths.assign(wavelengths.begin(), wavelengths.end());
  const std::size_t nwl = cv.wavelengths.size();
  // Rows for the present mesh only; a refined mesh evaluates the absorption again (the
  // generation hook), outside the Newton iterations. Stored solutions share the tables.
  const std::size_t points = static_cast<std::size_t>(std::clamp(cv.mesh.N, 0, MAXPOINTS));
  cv.alpha.Reset(points, nwl);
  cv.alphaL.Reset(points, nwl);
  cv.cutoff.assign(MAXPOINTS, 0.0);
  for (int l = 0; l < par.nlayers; ++l) {
    LayerParameters& layer = par.cell.layer[l];
    AlphaTable tableA, tableB;
    PrepareLayerAlphaTables(layer, tableA, tableB, e.env);
    const int first = cv.mesh.first[l];
    for (int j = first; j <= cv.mesh.last[l]; ++j) {
      cv.cutoff[j] = cv.pt.Eg[j] > 0.0 ? kPhotonEnergyNm / cv.pt.Eg[j] : 0.0;
      const auto jj = static_cast<std::size_t>(j);
      // Within a layer the absorption depends on the point only through its composition: a
      // point with the composition of the one before it (all points of an ungraded layer)
      // shares that point's rows.
      if (j > first && cv.pt.y[j] == cv.pt.y[j - 1]) {
        cv.alpha.ShareRow(jj, jj - 1);
        cv.alphaL.ShareRow(jj, jj - 1);
        continue;
      }
      const std::span<double> row = cv.alpha.NewRow(jj);
      InterpolateAlpha(layer, layer.absorption, cv.wavelengths, row, tableA, tableB, cv.pt.y[j], e.env);
      const std::span<double> rowL = cv.alphaL.NewRow(jj);
      for (std::size_t k = 0; k < nwl; ++k) rowL[k] = row[k] * par.schaal.L;
    }
  }
  return 1;
}

double ExtractAlpha(CalculationVariables& cv, double lambda, int layer) {
  if (cv.wavelengths.empty()) {
    SolverMessage(cv, "Error", "Error in ExtractAlpha, noswl<=0");
    return 0.0;
  }
  const EnvironmentOf e(cv);
  return ExtractLayerAlpha(cv.par->cell.layer[layer], lambda, e.env);
}

}  // namespace zoniq
