#include "output/admittance_file.hpp"

#include <algorithm>

#include "common/format.hpp"

namespace zoniq {

namespace {

constexpr const char* kSaveTitle = "Function Save or Show";

void Report(const OutputContext& ctx, const std::string& message) {
  if (ctx.env && ctx.env->ui && ctx.env->errors) ctx.env->Error(kSaveTitle, message);
}

}  // namespace

std::string ASBlock(const SimulationRecord& rec, const AdmittanceSettings& s, const OutputContext& ctx) {
  const AdmittanceResult& r = rec.cf.as;
  std::string t;
  if (rec.cf.present == 0 || r.analysed == 0) return t;
  HeaderContext header = ctx.header;
  header.attemptToEscapeFrequency = s.nu0;
  WriteOutputHeader(t, rec, kResultAdmittance, true, header);
  t += "       f(Hz)\t   C(nF/cm\xB2)\t  Et(eV)\t-w*dC/dw(nF/cm\xB2)\tNt(cm^-3/eV)\n\n";
  const std::size_t n = std::min({r.f.size(), r.C.size(), r.Et.size(), r.minusD.size(), r.Nt.size()});
  for (std::size_t i = 0; i < n; ++i) {
    t += sci(r.f[i], 16, 8);
    for (const double v : {r.C[i], r.Et[i], r.minusD[i], r.Nt[i]}) t += "\t " + sci(v, 16, 8);
    t += '\n';
  }
  // The sweep's points that were not calculated, or were merged or dropped: padding keeps the
  // blocks of a batch equally long. One field per column.
  if (ctx.actionListMode == kListFillZeros || ctx.actionListMode == kListFillWhite) {
    const char* row = ctx.actionListMode == kListFillZeros ? "0.0\t0.0\t0.0\t0.0\t0.0\n" : " \t \t \t \t \n";
    for (int i = static_cast<int>(n); i < rec.cf.points; ++i) t += row;
  }
  t += "\n\n\n";
  return t;
}

int AS_naar_file(std::list<SimulationRecord>& records, const AdmittanceSettings& s, const MottSchottkySettings& ms,
                 const OutputTarget& target, const OutputContext& ctx) {
  const bool anyCf =
      std::any_of(records.begin(), records.end(), [](const SimulationRecord& r) { return r.cf.present != 0; });
  if (!anyCf) {
    Report(ctx, "No C-f calculation is made yet: nothing to save or to show !");
    return kNothingWritten;
  }
  Calculate_AS(records, s, ms, ctx.env);
  std::string text;
  for (const SimulationRecord& r : records) text += ASBlock(r, s, ctx);
  if (text.empty()) {
    Report(ctx, "No C-f curve could be analysed: nothing to save or to show !");
    return kNothingWritten;
  }
  if (target.mode == kOutputFill) return kNothingWritten;
  return DeliverText(text, target, ctx, kResultsFolder, "*.as", "Select a file to save AS-data");
}

}  // namespace zoniq
