// One entry of the list of simulations: what was asked (working point, action list, batch or
// fit context) and what came out (the curves of each sweep and the cell parameters). The
// result files, the recorder and the script read these records; only the driver writes them.
#pragma once

#include <string>
#include <vector>

#include "celldef/work_point.hpp"
#include "measure/admittance_result.hpp"
#include "measure/measurement_actions.hpp"

namespace zoniq {

// The batch step a record belongs to. Zero parameters and no definition-file batch: not a
// batch step.
struct BatchRecordInfo {
  int numberOfParameters = 0;
  int step = 0;  // step number as shown (counted from 1)
  int numberOfSteps = 0;
  int definitionFileBatch = 0;     // 1: the batch runs over definition files
  std::string definitionFile;      // the current definition file of such a batch
  std::vector<std::string> lines;  // one prepared line per batch parameter (at most 255 characters)
};

// The curve-fitting iteration a record belongs to. Zero parameters: not a fit evaluation.
struct FitRecordInfo {
  int numberOfParameters = 0;
  int iteration = 0;  // counted from 0
  int numberOfIterations = 0;
  std::vector<std::string> lines;  // one prepared line per fitted parameter
  std::string closingLine;
  int fixedParameterSet = 0;  // 1: a fixed parameter belongs to this measurement
  std::string fixedParameterLine;
};

// The solar-cell parameters of an I-V curve, with their validity and extrapolation flags.
// Sign convention: J < 0 where the cell delivers power; Jsc = −J(0) and Jmpp = −J(Vmpp) are
// positive for a generating cell.
struct CellParameters {
  double Voc = 0.0;   // [V]
  double Jsc = 0.0;   // [mA/cm2]
  double FF = 0.0;    // [%]
  double eta = 0.0;   // [%] efficiency, or collection efficiency with a generation file
  double Jmpp = 0.0;  // [mA/cm2]
  double Vmpp = 0.0;  // [V]
  int vocExtrapolated = 0;
  int jscExtrapolated = 0;
  int anyExtrapolated = 0;  // some parameter extrapolated, or the maximum power at an end
  int mppAtEnd = 0;         // the maximum power lies at the first or last point of the curve
  int vocValid = 0;
  int jscValid = 0;
  int ffValid = 0;
  int etaValid = 0;
};

// The extrapolation marks of the result files: FF depends on Voc, Jsc and the maximum power,
// so it is marked whenever anything was extrapolated; eta (with V_MPP and J_MPP) when the
// maximum power lies at an end of the curve, or, for a collection efficiency (computed from
// Jsc), when Jsc was extrapolated.
inline bool FFExtrapolated(const CellParameters& p) { return p.anyExtrapolated != 0; }
inline bool EtaExtrapolated(const CellParameters& p, bool generationFromFile) {
  return generationFromFile ? p.jscExtrapolated != 0 : p.mppAtEnd != 0;
}

// An I-V sweep: all arrays have `points` entries (the range of the action list); only the first
// `pointsDone` are calculated.
struct IVResult {
  int present = 0;  // 1: the record holds an I-V result
  int points = 0;   // points of the sweep's range
  int pointsDone = 0;
  int colour = 0;             // curve colour index
  std::vector<double> v;      // terminal voltage [V]: v_cell + Rs·J; also the abscissa of the recombination curves
  std::vector<double> vCell;  // internal cell voltage [V]
  std::vector<double> j;      // total current density, shunt included [mA/cm2]
  std::vector<double> jbulk;  // q∫R dx over all layers [mA/cm2]
  std::vector<double> jifr;   // interface recombination current [mA/cm2]
  std::vector<double> js_n;   // electron current at the contact where electrons are minority [mA/cm2]
  std::vector<double> js_p;   // hole current at the contact where holes are minority [mA/cm2]
  std::vector<double> jSRH;   // [mA/cm2]
  std::vector<double> jRadiative;
  std::vector<double> jAuger;
  // How each calculated point was solved (kPointGummel, kPointCoupledNewton, kPointStepHalving,
  // kPointContinuation); a failed point ends the sweep and is not among the points done.
  std::vector<int> state;
  bool AnyRecovered() const {
    for (std::size_t i = 0; i < state.size() && static_cast<int>(i) < pointsDone; ++i)
      if (state[i] != 0) return true;
    return false;
  }
};

// A C-V sweep (arrays as for I-V). The dielectric constant of the Mott-Schottky analysis is
// kept with the curve for the result file.
struct CVResult {
  int present = 0;
  int points = 0;
  int pointsDone = 0;
  int colour = 0;
  double frequency = 0.0;                                 // [Hz]
  std::vector<double> v;                                  // [V]
  std::vector<double> C;                                  // [nF/cm2]
  std::vector<double> G;                                  // [S/cm2]
  std::vector<double> W;                                  // depletion width [µm]
  std::vector<double> Napp;                               // apparent doping [/cm3]
  std::vector<double> jtot, jbulk, jifr, jopp_n, jopp_p;  // [mA/cm2]
  double epsilon = 0.0;                                   // relative dielectric constant used for W and Napp
  int epsilonSide = -1;                                   // −1 left side of the layer, +1 right side
  int epsilonLayer = 0;                                   // counted from 1
  std::string epsilonLayerName;
};

// A C-f sweep.
struct CfResult {
  int present = 0;
  int points = 0;
  int pointsDone = 0;
  int colour = 0;
  double biasVoltage = 0.0;             // [V]
  std::vector<double> f;                // [Hz]
  std::vector<double> C;                // [nF/cm2]
  std::vector<double> G;                // [S/cm2]
  std::vector<double> Zre, Zim, Zmagn;  // [ohm cm2]
  std::vector<double> Zphase;           // [degrees]
  AdmittanceResult as;                  // the admittance-spectroscopy analysis of the curve
};

// A QE sweep.
struct QEResult {
  int present = 0;
  int points = 0;
  int pointsDone = 0;
  int colour = 0;
  std::vector<double> lambda;        // [nm]
  std::vector<double> QE;            // [%]
  std::vector<double> photonEnergy;  // [eV]
};

struct SimulationRecord {
  int number = 0;           // simulation number (single shot, batch or fit counter)
  int calculationMode = 0;  // 0 single shot, 1 batch, 2 batch with recording, 3 curve fitting
  WorkPoint wp;             // the working point of the run (problem name = the definition file)
  MeasurementActions actie;
  std::string startTime;  // "dd-mm-yyyy hh:mm:ss" when the calculation started
  BatchRecordInfo batch;
  FitRecordInfo fit;
  short batchRecording = 0;  // 1: the record is a batch recording
  IVResult iv;
  CVResult cv;
  CfResult cf;
  QEResult qe;
  CellParameters cell;  // of the I-V curve
  // Metastable defects set at the second working point before this simulation: 1 when they
  // were, the second working point, and whether their update failed to settle (with the
  // remaining deviation of the shares).
  int metaStable = 0;
  WorkPoint secondwp;
  int metaStableFailure = 0;
  double metaStableDeviation = 0.0;
};

}  // namespace zoniq
