#include "celldef/metastable.hpp"

#include <algorithm>

namespace zoniq {

int MakeMetaRingCode(int donorDefect, int acceptorDefect, int chargeState, std::string& text) {
  const int code = chargeState * 49 + acceptorDefect * 7 + donorDefect;
  if (chargeState < 2 || chargeState >= NCHARGESTATES) {
    text = "Error in MakeMetaRingCode";
    return code;
  }
  const std::string acc = kChargeStateText[static_cast<std::size_t>(chargeState - 2)];
  const std::string don = kChargeStateText[static_cast<std::size_t>(chargeState)];
  text = "Transition " + acc + "/" + don + ":\t between defect " + std::to_string(acceptorDefect + 1) + " (state " +
         acc + ") [Acceptor] and defect " + std::to_string(donorDefect + 1) + " (state " + don + ") [Donor]";
  return code;
}

void interpreteMetaRingCode(int code, int& donorDefect, int& acceptorDefect, int& chargeState) {
  donorDefect = code % 7;
  acceptorDefect = (code / 7) % 7;
  chargeState = code / 49;
}

int GetDefectLevelFromChargeType(int chargeState, int sw) {
  if (chargeState < 0 || chargeState >= NCHARGESTATES) return -1;
  const int type = sw == 1 ? chargeState : chargeState + 1;
  return type < NDEFLEVTYPE ? type : -1;
}

int interpretEactgiven(int& choice, std::array<unsigned char, 5>& flags, int direction) {
  enum { EE, HC, EC, HE, TR };
  static constexpr int kPairs[8][2] = {{EC, TR}, {EC, HE}, {HC, TR}, {HC, HE}, {EE, TR}, {EE, HE}, {EE, EC}, {EE, HC}};
  if (direction == 0) {
    const int c = std::clamp(choice, 0, 7);
    flags.fill(0);
    flags[static_cast<std::size_t>(kPairs[c][0])] = 1;
    flags[static_cast<std::size_t>(kPairs[c][1])] = 1;
    return c;
  }
  const bool ee = flags[EE] != 0, hc = flags[HC] != 0, ec = flags[EC] != 0, he = flags[HE] != 0;
  if (!ee && !hc)
    choice = he ? 1 : 0;
  else if (hc && !ee)
    choice = he ? 3 : 2;
  else if (ee && !hc)
    choice = ec ? 6 : (he ? 5 : 4);
  else
    choice = 7;
  return choice;
}

double TransitionEnergyAboveEV(double EactTR, int reference, double Eg) {
  if (reference == 2) return Eg - EactTR;
  if (reference == 1) return EactTR + Eg * 0.5;
  return EactTR;
}

double TransitionEnergyForReference(double ET, int reference, double Eg) {
  if (reference == 2) return Eg - ET;
  if (reference == 1) return ET - Eg * 0.5;
  return ET;
}

void RecalculateActivationEnergy(MetaEnergies& e, int configuration, int which, int fromElectrons, double Eg) {
  // Capturing (or emitting) two electrons moves the defect between configurations whose
  // energies differ by twice the distance of ET from the band edge of those carriers (switch
  // 0), or by the distance to the other band and back (switch 1); the same for holes.
  if (configuration == 0) {
    switch (which) {
      case kMetaWhichTR:
        e.ET = fromElectrons ? (e.EC - e.EE) * 0.5 + Eg : (e.HE - e.HC) * 0.5;
        break;
      case kMetaWhichEC:
        e.EC = (e.ET - Eg) * 2.0 + e.EE;
        break;
      case kMetaWhichEE:
        e.EE = e.EC - (e.ET - Eg) * 2.0;
        break;
      case kMetaWhichHC:
        e.HC = e.HE - e.ET * 2.0;
        break;
      case kMetaWhichHE:
        e.HE = e.ET * 2.0 + e.HC;
        break;
      default:
        break;
    }
    return;
  }
  switch (which) {
    case kMetaWhichTR:
      e.ET = fromElectrons ? (Eg + e.EC - e.EE) * 0.5 : (Eg + e.HE - e.HC) * 0.5;
      break;
    case kMetaWhichEC:
      e.EC = e.ET * 2.0 + (e.EE - Eg);
      break;
    case kMetaWhichEE:
      e.EE = (Eg + e.EC) - e.ET * 2.0;
      break;
    case kMetaWhichHC:
      e.HC = (Eg + e.HE) - e.ET * 2.0;
      break;
    case kMetaWhichHE:
      e.HE = e.ET * 2.0 + (e.HC - Eg);
      break;
    default:
      break;
  }
}

MetaEnergies DeriveMetaEnergies(const MetaStableDefectParameters& m, double Eg) {
  enum { EE, HC, EC, HE, TR };
  const auto given = [&](int k) { return m.givenEact[static_cast<std::size_t>(k)] != 0; };
  MetaEnergies e{0.0, m.Eact_EE, m.Eact_HC, m.Eact_EC, m.Eact_HE};
  const int ce = m.electronProcess != 0 ? 1 : 0;
  const int ch = m.holeProcess != 0 ? 1 : 0;
  // The transition energy: given, or from a pair whose two energies are both given (else the
  // stored value counts as given).
  bool fromElectronPair = false, fromHolePair = false;
  if (!given(TR) && given(EE) && given(EC)) {
    RecalculateActivationEnergy(e, ce, kMetaWhichTR, 1, Eg);
    fromElectronPair = true;
  } else if (!given(TR) && given(HC) && given(HE)) {
    RecalculateActivationEnergy(e, ch, kMetaWhichTR, 0, Eg);
    fromHolePair = true;
  } else {
    e.ET = TransitionEnergyAboveEV(m.Eact_TR, m.reference, Eg);
  }
  // Each pair keeps one energy (the given one, electron emission or hole capture when both or
  // neither are given) and derives the other from ET, so that both pairs obey detailed balance.
  if (!fromElectronPair)
    RecalculateActivationEnergy(e, ce, given(EE) || !given(EC) ? kMetaWhichEC : kMetaWhichEE, 1, Eg);
  if (!fromHolePair) RecalculateActivationEnergy(e, ch, given(HC) || !given(HE) ? kMetaWhichHE : kMetaWhichHC, 0, Eg);
  return e;
}

void UpdateActivationEnergies(MetaStableDefectParameters& m, double Eg) {
  const MetaEnergies e = DeriveMetaEnergies(m, Eg);
  m.Eact_EE = e.EE;
  m.Eact_HC = e.HC;
  m.Eact_EC = e.EC;
  m.Eact_HE = e.HE;
  m.Eact_TR = TransitionEnergyForReference(e.ET, m.reference, Eg);
}

namespace {

bool HasLevelOfType(const LayerParameters& L, int defect, int type) {
  const auto& levels = L.srh[static_cast<std::size_t>(defect)];
  const int n = std::clamp(levels[0].numberOfLevels, 1, MAXLEVELS);
  for (int k = 0; k < n; ++k)
    if (levels[static_cast<std::size_t>(k)].aard == type) return true;
  return false;
}

}  // namespace

std::string ValidateMetaTransition(const CellDefinition& cell, int layer, int k) {
  const LayerParameters& L = cell.layer[static_cast<std::size_t>(layer)];
  const MetaStableDefectParameters& m = L.meta[static_cast<std::size_t>(k)];
  const std::string where =
      "metastable transition " + std::to_string(k + 1) + " of layer " + std::to_string(layer + 1) + ": ";
  const int defects = std::clamp(L.srhteller, 0, MAXBULKDEFECTS);
  const int cs = m.donorChargeState;
  if (cs < 2 || cs >= NCHARGESTATES)
    return where + "the donor charge state " + std::to_string(cs) +
           " leaves no charge state two electrons lower for the acceptor configuration (it must be 2 to 6)";
  const auto inRange = [&](int d) { return d >= 0 && d < defects; };
  if (!inRange(m.donorDefect))
    return where + "the donor defect " + std::to_string(m.donorDefect + 1) +
           " is not a bulk defect of the layer (it has " + std::to_string(defects) + ")";
  if (!inRange(m.acceptorDefect))
    return where + "the acceptor defect " + std::to_string(m.acceptorDefect + 1) +
           " is not a bulk defect of the layer (it has " + std::to_string(defects) + ")";
  if (m.donorDefect == m.acceptorDefect)
    return where + "the donor and the acceptor configuration are the same defect " + std::to_string(m.donorDefect + 1);
  const int donorType = GetDefectLevelFromChargeType(cs, 1);
  const int acceptorType = GetDefectLevelFromChargeType(cs - 2, 0);
  if (!HasLevelOfType(L, m.donorDefect, donorType))
    return where + "the donor defect " + std::to_string(m.donorDefect + 1) + " has no level of type \"" +
           kLevelTypeText[static_cast<std::size_t>(donorType)] + "\"";
  if (!HasLevelOfType(L, m.acceptorDefect, acceptorType))
    return where + "the acceptor defect " + std::to_string(m.acceptorDefect + 1) + " has no level of type \"" +
           kLevelTypeText[static_cast<std::size_t>(acceptorType)] + "\"";
  // Both configurations' densities are set by their transition: a defect can serve only one.
  for (int j = 0; j < k; ++j) {
    const MetaStableDefectParameters& o = L.meta[static_cast<std::size_t>(j)];
    if (!o.switchedOn) continue;
    for (int d : {m.donorDefect, m.acceptorDefect})
      if (d == o.donorDefect || d == o.acceptorDefect)
        return where + "defect " + std::to_string(d + 1) + " is a configuration of transition " +
               std::to_string(j + 1) + " already";
  }
  const bool sigmasOk = m.sigma_acc_n >= 0.0 && m.sigma_acc_p >= 0.0 && m.sigma_don_n >= 0.0 && m.sigma_don_p >= 0.0;
  if (!sigmasOk) return where + "a capture cross section is negative";
  return {};
}

int CountValidMetaTransitions(const CellDefinition& cell) {
  int count = 0;
  for (int l = 0; l < std::clamp(cell.numberOfLayers, 0, MAXLAYERS); ++l)
    for (int k = 0; k < MAXMETATRANSITIONS; ++k)
      if (cell.layer[static_cast<std::size_t>(l)].meta[static_cast<std::size_t>(k)].switchedOn &&
          ValidateMetaTransition(cell, l, k).empty())
        ++count;
  return count;
}

int CheckMETAMode(const CellDefinition& cell) { return CountValidMetaTransitions(cell) > 0 ? 1 : 0; }

int CheckMETAModeShort(const ShortCellDefinition& shortDef) {
  const int layers = std::clamp(shortDef.numberOfLayers, 0, MAXLAYERS);
  for (int l = 0; l < layers; ++l)
    for (const int on : shortDef.layer[static_cast<std::size_t>(l)].metaOn)
      if (on != 0) return 1;
  return 0;
}

}  // namespace zoniq
