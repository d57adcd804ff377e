// Metastable defects on the mesh: the shares of the acceptor and donor configurations of every
// transition, the densities they give the two bulk defects, and their update from a solution.
//
// The share of the acceptor configuration follows from the competition of two processes that
// create it (capture of two electrons, emission of two holes) with two that destroy it (capture
// of two holes, emission of two electrons), each thermally activated:
//   R_A = oD·(X1·e^(−E_EC/kT) + Y2·e^(−E_HE/kT)),  R_D = oA·(Y1·e^(−E_HC/kT) + X2·e^(−E_EE/kT)),
// with oD the donor level's 1 − f and oA the acceptor level's f, and the carrier terms
// T1 = vn·σe·NC, T2 = p·σh·vp, T3 = n·σe·vn, T4 = vp·σh·NV (σe, σh the geometric means of the
// two configurations' cross sections): X1 = T4·T3, X2 = T2·T1 with the electron process switch
// on, T3², T1² with it off; Y1 = T1·T2, Y2 = T3·T4 with the hole process switch on, T2², T4²
// with it off. The activation energies obey the relations of DeriveMetaEnergies, so that in
// equilibrium R_A/R_D is the Boltzmann ratio of the two configurations. The steady share is
// fA = R_A/(R_A + R_D); it is computed in logarithms, y = ln R_D − ln R_A, fA = 1/(1 + e^y), so
// that vanishing rates give no 0/0 and a share may be as small as 1e-100.
#pragma once

#include <cmath>

#include "celldef/metastable.hpp"
#include "solver/calculation_variables.hpp"

namespace zoniq {

// The largest |y| = |ln(fD/fA)|: shares are floored at 1e-100.
inline constexpr double kMetaMaxLogRatio = 230.25850929940458;  // ln(1e100)

// The shares from y: fA = 1/(1 + e^y), fD = 1/(1 + e^−y).
inline double MetaAcceptorShare(double y) { return 1.0 / (1.0 + std::exp(y)); }
inline double MetaDonorShare(double y) { return 1.0 / (1.0 + std::exp(-y)); }

// The carriers and occupations at one point as the update takes them (one unit of density for
// n, p, NC and NV, one of velocity for vn and vp; the rates' common factors drop out).
struct MetaPointState {
  double n = 0.0, p = 0.0;
  double vn = 0.0, vp = 0.0;
  double NC = 0.0, NV = 0.0;
  double oA = 0.0;  // occupation of the acceptor configuration's level by its electron (f)
  double oD = 0.0;  // of the donor configuration's level without it (1 − f)
  double kT = 0.0;  // [eV]
};

// ln R_D − ln R_A at one point for transition m with energies e, clamped to ±kMetaMaxLogRatio;
// NaN when both rates vanish or are not finite (the shares then stay as they were).
double MetaTargetLogRatio(const MetaStableDefectParameters& m, const MetaEnergies& e, const MetaPointState& s);

// One step of the shares from y towards yTarget with factor c in (0, 1]: with clamping the
// smaller share moves geometrically (its logarithm a fraction c of the way), otherwise both
// move linearly; c = 1 lands on the target either way. Returns the new y.
double MetaStep(double y, double yTarget, double c, bool clamping);

// Sets up the transitions of cv from its parameter set (valid switched-on transitions only),
// with the shares handed over in the parameter set or the initial acceptor configuration.
void CreateMetaRecDataStructure(CalculationVariables& cv);

// The density of defect `defect` of layer l when it is a configuration of a transition:
// Nt_meta·fA or Nt_meta·fD at the layer's points, into `result` (layer indices). Returns
// false when the defect is an ordinary one.
bool MetaDefectDensity(const CalculationVariables& cv, int layer, int defect, std::vector<double>& result);

// Computes the shares the present solution asks for (yTarget) and returns the deviation: the
// largest |fA_target − fA| over the transitions' points, relative to the total density. The
// stored occupations are brought up to date with the carriers first.
double Bereken_MetaUpdate_afwijking(CalculationVariables& cv);

// Moves every transition's shares towards the targets of the last Bereken_MetaUpdate_afwijking
// (factor c, clamping as MetaStep), copies the inner neighbours' shares to the layer's end
// points and sets the configurations' densities.
void Update_Meta_Ratios(CalculationVariables& cv, double c, bool clamping);

// The handover of the present shares: per layer and transition, positions [µm] and y.
MetaHandoverSet MetaHandoverOf(const CalculationVariables& cv);

// y at position xum [µm], interpolated linearly from a handover (its end values beyond its
// range).
double InterpolateHandover(const MetaHandover& h, double xum);

}  // namespace zoniq
