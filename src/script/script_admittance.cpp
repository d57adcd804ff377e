#include "script/script_admittance.hpp"

#include <cmath>
#include <optional>
#include <sstream>
#include <string>

#include "common/text.hpp"
#include "measure/admittance_analysis.hpp"
#include "script/script_values.hpp"

namespace zoniq {

namespace {

constexpr const char* kTitle = "Error whilst processing set command in script";

}  // namespace

int ProcessSetAdmittanceCommand(ScriptContext& ctx, std::string_view key, std::string_view rest,
                                std::string_view line) {
  const Environment env = ctx.env();
  auto fail = [&](const std::string& reason) {
    env.Error(kTitle, "Script command: " + std::string(line) + "\n" + reason);
    return -1;
  };
  if (StartsWithNoCase(key, "fromcell")) {
    // "layer defect level side": the proposals of the cell for that level (numbers from 1; side
    // −1 for the junction at the layer's left edge, +1 at its right edge).
    std::istringstream in{std::string(rest)};
    int layer = 0, defect = 0, level = 0, side = 0;
    std::string extra;
    if (!(in >> layer >> defect >> level >> side) || (in >> extra) || (side != -1 && side != 1))
      return fail("Expected four whole numbers: layer, defect, level (from 1) and side (-1 or +1)");
    InputParameters set1 = ctx.cell.parameterset1;
    parameterset2_to_1(set1, ctx.cell.zonnecel);  // the cell as the script left it
    std::string message;
    if (ASDataFromCellDefinition(set1, layer - 1, defect - 1, level - 1, side, ctx.sim.admittanceSettings, message) !=
        0)
      return fail(message);
    return 0;
  }
  enum Check { kFinite, kPositive, kChoice };
  struct Key {
    const char* name;
    Check check;
    int choices;  // for kChoice: the values 0 … choices − 1 (or 1 … 2 for "prefactors")
  };
  static constexpr Key kKeys[] = {{"nu0", kPositive, 0},    {"xi0", kPositive, 0},   {"nua", kPositive, 0},
                                  {"nub", kPositive, 0},    {"Es", kFinite, 0},      {"prefactors", kChoice, 2},
                                  {"Vd", kFinite, 0},       {"Ea", kFinite, 0},      {"ratio", kPositive, 0},
                                  {"Eoff", kFinite, 0},     {"fref", kPositive, 0},  {"formula", kChoice, 4},
                                  {"abscissa", kChoice, 3}, {"ordinate", kChoice, 4}};
  const Key* k = nullptr;
  for (const Key& candidate : kKeys)
    if (StartsWithNoCase(key, candidate.name)) {
      k = &candidate;
      break;
    }
  if (!k) return fail("Admittance analysis setting not recognised: " + std::string(key));
  const std::optional<double> v = ScriptValueToNumerical(rest, ctx.script.theScript, line, env);
  if (!v) return -1;
  const double x = *v;
  if (k->check == kPositive && !(std::isfinite(x) && x > 0.0)) return fail("Value not recognised as a positive number");
  if (k->check == kFinite && !std::isfinite(x)) return fail("Value not recognised as a number");
  const std::string name = k->name;
  if (k->check == kChoice) {
    const int lo = name == "prefactors" ? 1 : 0;
    const int hi = name == "prefactors" ? 2 : k->choices - 1;
    if (!(x == std::floor(x)) || x < lo || x > hi)
      return fail("Value not recognised: " + name + " takes a whole number from " + std::to_string(lo) + " to " +
                  std::to_string(hi));
  }
  AdmittanceSettings& s = ctx.sim.admittanceSettings;
  const int choice = k->check == kChoice ? static_cast<int>(x) : 0;
  if (name == "nu0") {
    s.nu0 = x;
  } else if (name == "xi0") {
    s.nu0 = AttemptFrequencyFromXi(x);
  } else if (name == "nua") {
    s.nuA = x;
    s.twoPrefactors = 1;
  } else if (name == "nub") {
    s.nuB = x;
    s.twoPrefactors = 1;
  } else if (name == "Es") {
    s.Es = x;
    s.twoPrefactors = 1;
  } else if (name == "prefactors") {
    s.twoPrefactors = choice == 2 ? 1 : 0;
  } else if (name == "Vd") {
    s.Vd = x;
    s.vdFromRatio = 0;
  } else if (name == "Ea") {
    s.Ea = x;
    s.vdFromRatio = 1;
  } else if (name == "ratio") {
    s.ratio = x;
    s.vdFromRatio = 1;
  } else if (name == "Eoff") {
    s.Eoff = x;
  } else if (name == "fref") {
    s.fref = x;
  } else if (name == "formula") {
    s.formula = choice;
  } else if (name == "abscissa") {
    s.abscissa = choice;
  } else {
    s.ordinate = choice;
  }
  return 0;
}

}  // namespace zoniq
