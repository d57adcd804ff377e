#include "output/result_files.hpp"

#include <cerrno>
#include <cstring>
#include <optional>

#include "common/format.hpp"
#include "common/paths.hpp"
#include "common/text.hpp"
#include "output/generation_profiles.hpp"

namespace zoniq {

namespace {

constexpr const char* kSaveErrorTitle = "Function Save or Show";

void Report(const OutputContext& ctx, std::string_view title, std::string_view message) {
  if (ctx.env && ctx.env->ui && ctx.env->errors) ctx.env->Error(title, message);
}

bool WriteAll(std::FILE* f, const std::string& text) {
  return text.empty() || std::fwrite(text.data(), 1, text.size(), f) == text.size();
}

// One padding row of `fields` fields for a sweep point that was not calculated.
void PaddingRow(std::string& t, int fields, int mode) {
  if (mode != kListFillZeros && mode != kListFillWhite) return;
  const char* field = mode == kListFillZeros ? "0.0" : " ";
  for (int k = 0; k < fields; ++k) {
    if (k > 0) t += '\t';
    t += field;
  }
  t += '\n';
}

double At(const std::vector<double>& a, int i) {
  return i >= 0 && static_cast<std::size_t>(i) < a.size() ? a[static_cast<std::size_t>(i)] : 0.0;
}

void ParameterLine(std::string& t, const std::string& text, bool extrapolated) {
  t += text;
  if (extrapolated) t += "\textrapolated";
  t += '\n';
}

}  // namespace

int DeliverText(const std::string& text, const OutputTarget& target, const OutputContext& ctx,
                const std::string& folder, const char* pattern, const char* prompt) {
  switch (target.mode) {
    case kOutputShow: {
      std::FILE* f = target.file ? target.file : stdout;
      if (!WriteAll(f, text) || std::fflush(f) != 0) {
        Report(ctx, kSaveErrorTitle, "The results could not be shown: writing to the output failed.");
        return kWriteFailed;
      }
      return kWritten;
    }
    case kOutputSave: {
      if (!ctx.env || !ctx.env->ui) return kNothingWritten;
      const std::optional<std::string> chosen =
          ctx.env->ui->FileSelectPopup(JoinPath(ctx.env->programFolder, folder), pattern, prompt, true);
      if (!chosen || chosen->empty()) return kNothingWritten;
      const std::string path = NativePath(*chosen);
      FilePtr f = OpenFile(path, "wb");
      if (!f) {
        Report(ctx, kSaveErrorTitle,
               "The file '" + *chosen + "' cannot be opened for writing: " + std::strerror(errno) + ".");
        return kWriteFailed;
      }
      const bool written = WriteAll(f.get(), text);
      const bool closed = std::fclose(f.release()) == 0;
      if (!written || !closed) {
        Report(ctx, kSaveErrorTitle, "Writing the file '" + *chosen + "' failed; the file is incomplete.");
        return kWriteFailed;
      }
      return kWritten;
    }
    case kOutputOpenFile:
      if (!target.file) return kNothingWritten;
      if (!WriteAll(target.file, text)) {
        Report(ctx, kSaveErrorTitle, "Writing the results to the open file failed; the file is incomplete.");
        return kWriteFailed;
      }
      return kWritten;
    default:
      return kNothingWritten;
  }
}

std::string IVBlock(const SimulationRecord& rec, const OutputContext& ctx) {
  const IVResult& iv = rec.iv;
  std::string t;
  if (iv.present == 0) return t;
  WriteOutputHeader(t, rec, kResultIV, true, ctx.header);
  // A curve with recovered points carries a tenth column, the point status; readers of the nine
  // columns (or of the first five) read it unchanged.
  const bool status = iv.AnyRecovered();
  t += "    v(V)\tjtot(mA/cm2)\t   jbulk(mA/cm2)\tjifr(mA/cm2)\tjs_n(mA/cm2)\tjs_p(mA/cm2)\tj_SRH(mA/cm2)\t"
       "j_Radiative(mA/cm2)\tj_Auger(mA/cm2)";
  t += status ? "\tpoint status\n\n" : "\n\n";
  const int done = std::min(iv.pointsDone, iv.points);
  for (int i = 0; i < iv.points; ++i) {
    if (i >= done) {
      PaddingRow(t, status ? 10 : 9, ctx.actionListMode);
      continue;
    }
    t += ' ';
    t += fix(At(iv.v, i), 10, 6);
    t += "\t  " + sci(At(iv.j, i), 16, 8);
    t += "\t      " + sci(At(iv.jbulk, i), 16, 8);
    for (const std::vector<double>* a : {&iv.jifr, &iv.js_n, &iv.js_p, &iv.jSRH, &iv.jRadiative, &iv.jAuger})
      t += "\t  " + sci(At(*a, i), 16, 8);
    if (status) t += "\t" + std::to_string(static_cast<std::size_t>(i) < iv.state.size() ? iv.state[i] : 0);
    t += '\n';
  }
  if (status)
    t += "\npoint status: 0 converged, 1 recovered by the coupled Newton iteration, 2 reached by halving the bias "
         "step, 3 reached by continuation in light intensity, 4 reached by continuation in temperature\n";
  const CellParameters& p = rec.cell;
  if (p.vocValid || p.jscValid || p.ffValid || p.etaValid) {
    const bool fromFile = rec.wp.generationFromFile != 0;
    t += "\nsolar cell parameters deduced from calculated IV-curve:\n";
    if (p.vocValid) ParameterLine(t, "Voc =\t" + fix(p.Voc, 12, 6) + "\tVolt", p.vocExtrapolated != 0);
    if (p.jscValid) ParameterLine(t, "Jsc =\t" + fix(p.Jsc, 14, 8) + "\tmA/cm2", p.jscExtrapolated != 0);
    if (p.ffValid) ParameterLine(t, "FF =\t" + fix(p.FF, 10, 4) + "\t%", FFExtrapolated(p));
    if (p.etaValid) {
      const bool x = EtaExtrapolated(p, fromFile);
      ParameterLine(t, std::string(fromFile ? "collection efficiency =\t" : "eta =\t") + fix(p.eta, 10, 4) + "\t%", x);
      ParameterLine(t, "V_MPP =\t" + fix(p.Vmpp, 12, 6) + "\tVolt", x);
      ParameterLine(t, "J_MPP =\t" + fix(p.Jmpp, 14, 8) + "\tmA/cm2", x);
    }
  }
  t += "\n\n\n";
  return t;
}

int iv_naar_file(const std::list<SimulationRecord>& records, const OutputTarget& target, const OutputContext& ctx) {
  if (records.empty()) {
    Report(ctx, kSaveErrorTitle, "No IV-calculation is made yet: nothing to save or to show !");
    return kNothingWritten;
  }
  if (target.mode == kOutputFill) return kNothingWritten;
  std::string text;
  for (const SimulationRecord& r : records) text += IVBlock(r, ctx);
  return DeliverText(text, target, ctx, kResultsFolder, "*.iv", "Select a file to save IV-data");
}

std::string CVBlock(const SimulationRecord& rec, const OutputContext& ctx) {
  const CVResult& cv = rec.cv;
  std::string t;
  if (cv.present == 0) return t;
  WriteOutputHeader(t, rec, kResultCV, true, ctx.header);
  const int done = std::min(cv.pointsDone, cv.points);
  const bool profile = done > 3;
  if (profile) {
    t += "relative dielectric constant used to calculate W and Napp: epsilon =\t" + fix(cv.epsilon, 0, 6) +
         (cv.epsilonSide == 1 ? "\tat right side of layer\t" : "\tat left side of layer\t") +
         std::to_string(cv.epsilonLayer) + "\t" + cv.epsilonLayerName + "\n\n";
    t += "    v(V)\t   C(nF/cm2)\t    G(S/cm2)\t       W(\xB5m)\t  Napp(/cm3)\t    jtot(mA/cm2)\t   jbulk(mA/cm2)\t"
         "jifr(mA/cm2)\t  jopp_n(mA/cm2)\t  jopp_p(mA/cm2)\n\n";
  } else {
    t += "    v(V)\t   C(nF/cm2)\t    G(S/cm2)\t  jtot(mA/cm2)\t   jbulk(mA/cm2)\t    jifr(mA/cm2)\t  "
         "jopp_n(mA/cm2)\t  jopp_p(mA/cm2)\n\n";
  }
  for (int i = 0; i < cv.points; ++i) {
    if (i >= done) {
      PaddingRow(t, profile ? 10 : 8, ctx.actionListMode);
      continue;
    }
    t += ' ';
    t += fix(At(cv.v, i), 12, 6);
    for (const std::vector<double>* a : {&cv.C, &cv.G}) t += "\t " + sci(At(*a, i), 16, 8);
    if (profile)
      for (const std::vector<double>* a : {&cv.W, &cv.Napp}) t += "\t " + sci(At(*a, i), 16, 8);
    for (const std::vector<double>* a : {&cv.jtot, &cv.jbulk, &cv.jifr, &cv.jopp_n, &cv.jopp_p})
      t += "\t " + sci(At(*a, i), 16, 8);
    t += '\n';
  }
  t += "\n\n\n";
  return t;
}

std::string CfBlock(const SimulationRecord& rec, const OutputContext& ctx) {
  const CfResult& cf = rec.cf;
  std::string t;
  if (cf.present == 0) return t;
  WriteOutputHeader(t, rec, kResultCf, true, ctx.header);
  t += "       f(Hz)\t   C(nF/cm2)\t    G(S/cm2)\t   Z.re(ohm.cm2)\t   Z.im(ohm.cm2)\t Z.magn(ohm.cm2)\t      "
       "Z.phase(\xB0)\n\n";
  const int done = std::min(cf.pointsDone, cf.points);
  for (int i = 0; i < cf.points; ++i) {
    if (i >= done) {
      PaddingRow(t, 7, ctx.actionListMode);
      continue;
    }
    t += ' ';
    t += sci(At(cf.f, i), 16, 8);
    for (const std::vector<double>* a : {&cf.C, &cf.G, &cf.Zre, &cf.Zim, &cf.Zmagn}) t += "\t " + sci(At(*a, i), 16, 8);
    t += "\t " + fix(At(cf.Zphase, i), 12, 6);
    t += '\n';
  }
  t += "\n\n\n";
  return t;
}

std::string QEBlock(const SimulationRecord& rec, const OutputContext& ctx) {
  const QEResult& qe = rec.qe;
  std::string t;
  if (qe.present == 0) return t;
  WriteOutputHeader(t, rec, kResultQE, true, ctx.header);
  t += "  lambda(nm)\t      QE(%)\tphoton energy (eV)\n\n";
  const int done = std::min(qe.pointsDone, qe.points);
  for (int i = 0; i < qe.points; ++i) {
    if (i >= done) {
      PaddingRow(t, 2, ctx.actionListMode);
      continue;
    }
    t += ' ';
    t += fix(At(qe.lambda, i), 12, 6);
    t += "\t " + sci(At(qe.QE, i), 14, 6);
    t += "\t" + fix(At(qe.photonEnergy, i), 12, 6);
    t += '\n';
  }
  t += "\n\n\n";
  return t;
}

namespace {

int CurveFile(const std::list<SimulationRecord>& records, const OutputTarget& target, const OutputContext& ctx,
              const char* noneText, std::string (*block)(const SimulationRecord&, const OutputContext&),
              const char* pattern, const char* prompt) {
  std::string text;
  for (const SimulationRecord& r : records) text += block(r, ctx);
  if (text.empty()) {
    Report(ctx, kSaveErrorTitle, noneText);
    return kNothingWritten;
  }
  if (target.mode == kOutputFill) return kNothingWritten;
  return DeliverText(text, target, ctx, kResultsFolder, pattern, prompt);
}

}  // namespace

int cv_naar_file(const std::list<SimulationRecord>& records, const OutputTarget& target, const OutputContext& ctx) {
  return CurveFile(records, target, ctx, "No CV-calculation is made yet: nothing to save or to show !", CVBlock, "*.cv",
                   "Select a file to save CV-data");
}

int cf_naar_file(const std::list<SimulationRecord>& records, const OutputTarget& target, const OutputContext& ctx) {
  return CurveFile(records, target, ctx, "No C-f calculation is made yet: nothing to save or to show !", CfBlock,
                   "*.cf", "Select a file to save Cf-data");
}

int qe_naar_file(const std::list<SimulationRecord>& records, const OutputTarget& target, const OutputContext& ctx) {
  return CurveFile(records, target, ctx, "No QE calculation is made yet: nothing to save or to show !", QEBlock, "*.qe",
                   "Select a file to save QE-data");
}

std::string AcFileText(const SimulationRecord& current, const CalculationVariables& cv, const AcSolution& ac,
                       double omega, double bias, const OutputContext& ctx) {
  std::string t;
  WriteOutputHeader(t, current, kResultAc, true, ctx.header);
  t += "Calculation at actual bias voltage\t" + fix(bias, 10, 4) + "\tVolt\n";
  t += "Calculation at actual frequency\t" + sci(omega / 6.283185307179586, 12, 4) + "\tHz\n";
  t += '\n';
  std::string head =
      "i\tx "
      "(\xB5m)\tjn.re(mA/cm2)\tjn.im(mA/cm2)\tjp.re(mA/cm2)\tjp.im(mA/cm2)\tjdispl.re(mA/cm2)\tjdispl.im(mA/cm2)\t "
      "j.re (mA/cm2)\tj.im (mA/cm2)\tpsi.re(#kT/q)\t psi.im (#kT/q)\t Fn.re (#kT)\t Fn.im (#kT)\t Fp.re (#kT)\t Fp.im "
      "(#kT)";
  if (head.size() > 499) head.resize(499);
  t += head + "\n\n";
  const int N = std::min(cv.mesh.N, static_cast<int>(ac.dpsi.size()));
  // Per volt applied in the solution; the file gives the response to one kT/q.
  const double Vt = cv.par ? cv.par->Vt : 1.0;
  for (int i = 0; i < N; ++i) {
    const auto k = static_cast<std::size_t>(i);
    std::string row = intw(i, 3) + "\t" + fix(cv.mesh.xum[k], 13, 6);
    for (const Complex j : {ac.jn[k], ac.jp[k], ac.jd[k], ac.jtot[k]})
      row += "\t" + sci(0.1 * Vt * j.real(), 15, 6) + "\t" + sci(0.1 * Vt * j.imag(), 15, 6);
    for (const Complex v : {ac.dpsi[k], ac.dphin[k], ac.dphip[k]})
      row += "\t" + fix(v.real(), 13, 6) + "\t" + fix(v.imag(), 13, 6);
    if (row.size() > 499) row.resize(499);
    t += row + '\n';
  }
  return t;
}

int ac_naar_file(const SimulationRecord* current, const CalculationVariables& cv, const AcSolution* ac, double omega,
                 double bias, const OutputTarget& target, const OutputContext& ctx) {
  if (current == nullptr || ac == nullptr || cv.par == nullptr || cv.mesh.N < 2 ||
      static_cast<int>(ac->dpsi.size()) != cv.mesh.N) {
    Report(ctx, "Function Save or Show ac Energy Bands", "No ac-calculation is made yet: nothing to save or to show !");
    return kNothingWritten;
  }
  if (target.mode == kOutputFill) return kNothingWritten;
  return DeliverText(AcFileText(*current, cv, *ac, omega, bias, ctx), target, ctx, kResultsFolder, "*.ac",
                     "Select a file to save ac-data");
}

std::string BandDiagramFileText(const SimulationRecord& current, const CalculationVariables& cv,
                                const OutputContext& ctx) {
  std::string t;
  WriteOutputHeader(t, current, kResultBandDiagram, true, ctx.header);
  BandDiagramProfiles b;
  BandDiagramFromSolution(cv, current.wp.illuminatedFromRight != 0 ? +1 : -1, b);
  t += BandDiagramText(b);
  return t;
}

namespace {

// A record and a solved state to describe; otherwise the message of the writer.
bool HaveSolution(const SimulationRecord* current, const CalculationVariables& cv) {
  return current != nullptr && cv.par != nullptr && cv.mesh.N > 1;
}

}  // namespace

int eb_naar_file(const SimulationRecord* current, const CalculationVariables& cv, const OutputTarget& target,
                 const OutputContext& ctx, BandDiagramProfiles* profiles) {
  if (!HaveSolution(current, cv)) {
    Report(ctx, "Function Save or Show Energy Bands", "No calculation is made yet: nothing to save or to show !");
    return kNothingWritten;
  }
  if (target.mode == kOutputFill) {
    if (!profiles) return kNothingWritten;
    BandDiagramFromSolution(cv, current->wp.illuminatedFromRight != 0 ? +1 : -1, *profiles);
    return kWritten;
  }
  return DeliverText(BandDiagramFileText(*current, cv, ctx), target, ctx, kResultsFolder, "*.eb",
                     "Select a file to save EB-data");
}

std::string ft_naar_file(const CalculationVariables& cv) { return OccupationTable(cv); }

std::string GenerationFileText(const SimulationRecord& current, const CalculationVariables& cv, bool occupation,
                               const OutputContext& ctx) {
  std::string t;
  // The batch block stands in the header only.
  WriteOutputHeader(t, current, kResultGenerationRecombination, true, ctx.header);
  t += "Generation-recombination at actual bias voltage\t" + fix(cv.V, 10, 4) + "\tVolt\n";
  // Each legend line stands on its own line after an empty one.
  auto legend = [&t](std::string_view text) {
    t += "\n> ";
    t += text;
    t += '\n';
  };
  legend("Legend:");
  legend("=======");
  if (!occupation) {
    legend("Geh\tDirect band-to-band excitation of electron-hole pairs by light (this equals zero in dark)");
    t += '\n';
    legend(
        "All following properties are split up per layer, per defect in this layer and per charge state in "
        "this defect");
    legend(
        "(first index = layer, second index = mechanism, third index = defectlevel (0 is the most positively "
        "charged and hence the closest to the valence band))");
    legend("(IPV = Impurity Photovoltaic Effect)\n");
    legend("IPV Gn\tGros IPV electron effect: direct optical excitation from defect to conduction band");
    legend("net Gn\tnet electron generation: IPV Gn + thermal generation - thermal recombination");
    legend("Gnth\tthermal electron generation (thermal emission of electron from defect to conduction band)");
    legend("Rnth\thermal electron recombination (capture by defect of conduction band electron)");
    legend("IPV Gp\tGros IPV hole effect: direct optical excitation from defect to valence band");
    legend("net Gp\tnet hole generation: IPV Gp + thermal generation - thermal recombination");
    legend("Gpth\tthermal hole generation (thermal emission of hole from defect to valence band)");
    legend("Rpth\thermal hole recombination (capture by defect of valence band hole)");
    t += "\n\n";
    t += GenerationRecombinationTable(cv);
  } else {
    t += '\n';
    legend(
        "All following properties are split up per layer and per defect in this layer, per charge state in "
        "this defect and per energy if there is an energydistribution");
    legend(
        "(first index = layer, second index = mechanism, third index = defectlevel (0 is the most positively "
        "charged and hence the closest to the valence band)), fourth index = energy sub-level");
    legend("The charge state of the energylevel is given as well\n\n\n");
    t += ft_naar_file(cv);
  }
  return t;
}

int gen_naar_file(const SimulationRecord* current, const CalculationVariables& cv, bool occupation,
                  const OutputTarget& target, const OutputContext& ctx) {
  if (!HaveSolution(current, cv)) {
    if (ctx.env && ctx.env->ui)
      ctx.env->Popup("Function Save or Show Genreration/Recombination",
                     "No calculation is made yet: nothing to save or to show !");
    return kNothingWritten;
  }
  if (target.mode == kOutputFill) return kNothingWritten;
  return DeliverText(GenerationFileText(*current, cv, occupation, ctx), target, ctx,
                     occupation ? kOccupationFolder : kGenerationFolder, occupation ? "*.occ" : "*.gen",
                     "Select a file to save the generation/recombination profiles");
}

}  // namespace zoniq
