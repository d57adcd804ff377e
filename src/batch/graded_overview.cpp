#include "batch/graded_overview.hpp"

#include <cmath>

#include "common/format.hpp"

namespace zoniq {

namespace {

constexpr double kHcOverQ = 1239.8419843320026;  // h·c/q [eV·nm]: photon energy = this / λ

std::string Tab(std::string s) { return "\t" + std::move(s); }

}  // namespace

std::string GradedVariablesText(const CalculationVariables& cv, const std::string& problemName,
                                const FileDateSource& fileDate) {
  const CalculationParameters& par = *cv.par;
  const PointData& pt = cv.pt;
  const Schaal& s = par.schaal;
  const int N = cv.mesh.N;
  const std::size_t W = cv.wavelengths.size();
  const bool absorption = W > 0 && cv.alpha.points() == static_cast<std::size_t>(N) && cv.alpha.width() >= W;

  DateTime when{0, 0, 0, 0, 0, 0};
  if (!fileDate || !fileDate(problemName, when)) when = DateTime{0, 0, 0, 0, 0, 0};
  char date[96];
  std::snprintf(date, sizeof date, "%d-%d-%d\tat\t%d:%02d:%02d", when.day, when.month, when.year, when.hour,
                when.minute, when.second);

  std::string out = "Overview of graded variables\n";
  out += "problem definition file :\t" + problemName + "\n";
  out += "last saved: \t" + std::string(date) + "\n";
  out += " working point: temperature = \t" + fix(par.T, 6, 1) + "\tK\n";
  out += "rightmost columns of the table: alpha [1/cm] (the wavelength [nm] is in the column header)\n";
  out +=
      "i\tx(um)\ty\tEg(eV)\tchi(eV)\teps\tNC(cm-3)\tNV(cm-3)\tND(cm-3)\tNA(cm-3)\tND-NA(cm-3)\tchi+Eg(eV)\t"
      "mun(cm2/Vs)\tmup(cm2/Vs)\tlambda (nm)";
  if (absorption)
    for (double l : cv.wavelengths) out += Tab(fix(l, 6, 1));
  out += "\n" + std::string(14, '\t') + "photon energy (eV)";
  if (absorption)
    for (double l : cv.wavelengths) out += Tab(fix(kHcOverQ / l, 9, 4));
  out += "\n";

  // The solver keeps densities of layer l in units of S_l [1/m³] and mobilities as
  // sqrt(τ)·Vt·μ/Dmax with τ = Vt/Vt(300 K).
  const double muScale = s.Dmax / (std::sqrt(par.Vt / kVt300) * par.Vt) * 1e4;  // → cm²/Vs
  int l = 0;
  for (int i = 0; i < N; ++i) {
    while (l + 1 < par.nlayers && i > cv.mesh.last[l]) ++l;
    const auto k = static_cast<std::size_t>(i);
    const double dens = s.S[static_cast<std::size_t>(l)] * 1e-6;  // → /cm³
    out += intw(i, 3);
    for (double v : {cv.mesh.xum[k], pt.y[k], pt.Eg[k], pt.chi[k], pt.eps[k]}) out += Tab(fix(v, 9, 5));
    for (double v : {pt.NC[k], pt.NV[k], pt.ND[k], pt.NA[k], pt.ND[k] - pt.NA[k]}) out += Tab(sci(v * dens, 12, 4));
    out += Tab(fix(pt.chi[k] + pt.Eg[k], 9, 5));
    out += Tab(sci(pt.mu_n[k] * muScale, 12, 4)) + Tab(sci(pt.mu_p[k] * muScale, 12, 4));
    if (absorption)
      for (std::size_t w = 0; w < W; ++w) out += Tab(sci(cv.alpha.at(k, w) * 0.01, 12, 4));
    out += "\n";
  }
  return out;
}

int recceldef_naar_file(const Environment& env, std::FILE* file, const CalculationVariables& cv,
                        const std::string& problemName, const FileDateSource& fileDate) {
  if (cv.par == nullptr || cv.mesh.N < 1) {
    env.Popup("Overview of graded variables", "No calculation made yet: nothing to save or show");
    return -1;
  }
  const std::string text = GradedVariablesText(cv, problemName, fileDate);
  if (std::fwrite(text.data(), 1, text.size(), file) != text.size() || std::fflush(file) != 0) return -1;
  return 0;
}

}  // namespace zoniq
