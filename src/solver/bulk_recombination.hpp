// Bulk recombination: what the material between the interfaces adds to the device equations.
// Shockley-Read-Hall recombination and trapped charge through defects with up to four levels
// (multivalent) and an energy distribution, radiative band-to-band recombination and Auger
// recombination, each with the derivatives that the Newton iterations need.
//
// Everything is in the solver's normalised units: densities of a layer in units of its density
// scale S, rates in S·Dmax/L², potentials in units of the thermal voltage, energies in eV where the
// name says so. The carrier densities at a point are n = Nn·e^ψ·(u0+u) and p = Np·e^−ψ·(v0+v), so
// that n·p − ni² = Nn·Np·((u0+u)(v0+v) − 1) without any dependence on ψ.
//
// The API is two-layered: per-point kernels on plain structs (for residual and Jacobian assembly
// of any scheme), and mesh-wide drivers that fill per-point blocks. No function here allocates
// after the records have been created.
#pragma once

#include <array>
#include <cstddef>
#include <span>
#include <string>
#include <vector>

#include "celldef/cell_definition.hpp"

namespace zoniq {

class CallCounter;
struct Environment;

inline constexpr int MAXDEFECTDISCRETISATIONS = 100;
inline constexpr int MINDEFECTDISCRETISATIONS = 2;
inline constexpr int MAXDEFECTSTATES = MAXLEVELS + 1;

// ---------------------------------------------------------------------------------------------
// Per-point inputs and outputs
// ---------------------------------------------------------------------------------------------

// Carrier variables at one mesh point.
struct CarrierPoint {
  double expPsi = 1.0;     // e^ψ
  double expMinPsi = 1.0;  // e^−ψ
  double Nn = 0.0;         // electron density prefactor [S]
  double Np = 0.0;         // hole density prefactor [S]
  double uTot = 1.0;       // u0 + u
  double vTot = 1.0;       // v0 + v

  double n() const { return Nn * expPsi * uTot; }
  double p() const { return Np * expMinPsi * vTot; }
  double dn_du() const { return Nn * expPsi; }     // ∂n/∂u (∂n/∂ψ = n)
  double dp_dv() const { return Np * expMinPsi; }  // ∂p/∂v (∂p/∂ψ = −p)
};

// Charge [q·S] and net recombination [S·Dmax/L²] at one point, with their derivatives.
struct RecTerms {
  double rho = 0.0, drho_dpsi = 0.0, drho_du = 0.0, drho_dv = 0.0;
  double U = 0.0, dU_dpsi = 0.0, dU_du = 0.0, dU_dv = 0.0;

  RecTerms& operator+=(const RecTerms& o);
  RecTerms& operator*=(double factor);
};

// ---------------------------------------------------------------------------------------------
// Per-point blocks over the mesh
// ---------------------------------------------------------------------------------------------

// A defect-term block: every quantity of RecTerms as an array over the mesh points.
struct DcTermBlock {
  std::vector<double> rho, drho_dpsi, drho_du, drho_dv, U, dU_dpsi, dU_du, dU_dv;

  void resize(std::size_t n);  // sizes every array to n points, zero-filled
  std::size_t size() const { return rho.size(); }
  RecTerms at(std::size_t i) const;
  void set(std::size_t i, const RecTerms& t);
  void add(std::size_t i, const RecTerms& t);
};

// The four blocks of the calculation variables.
struct BulkTermBlocks {
  DcTermBlock total, srh, radiative, auger;
  // The radiative and Auger blocks hold zeros only (nothing to clear when no layer has them).
  bool bandToBandCleared = false;
  // Without band-to-band recombination the SRH part is the total, and `srh` is not filled: read
  // the SRH part through Srh().
  bool srhInTotal = false;
  const DcTermBlock& Srh() const { return srhInTotal ? total : srh; }
  void resize(std::size_t n);
};

// Sizes a block to n points and clears it.
void rec_dc_initialisatie(DcTermBlock& block, int n);
// Sets the first n points of a block to zero.
void nulbijdrage(DcTermBlock& block, int n);

// ---------------------------------------------------------------------------------------------
// Defect description and energy axis
// ---------------------------------------------------------------------------------------------

// One level of a defect as the solver uses it.
struct LevelInput {
  int aard = DEFLEVTYPE_NEUTRAL;  // level type: 0 neutral, 1 "2-/3-" … 6 "3+/2+"
  double sigma_n = 0.0;           // capture cross sections, normalised (× L·S)
  double sigma_p = 0.0;
  double Et = 0.0;  // [eV] from the defect's reference
  // Degeneracy integers a and b: g = (a − b)/(1 + b) when that is a positive number, else 1.
  int degeneracyA = 0;
  int degeneracyB = 0;
};

// One bulk defect as the solver uses it. Levels are ordered from the most positive transition
// down: level k lies between charge states k and k+1 (state k+1 holds one electron more).
struct DefectInput {
  int layer = 0;
  int defect = 0;
  int numberOfLevels = 1;
  int distribution = ED_SINGLE;  // 0 single, 1 uniform, 2 Gaussian, 3 tail below Et ("CB tail"), 4 above ("VB tail")
  double W = 0.0;                // characteristic energy of the distribution [eV]
  int reference = 0;             // 0 above EV, 1 relative to Ei, 2 below EC
  bool degeneracyOne = false;    // "degeneracy factors equal one"
  std::array<LevelInput, MAXLEVELS> level{};
};

// The solver's view of a defect of the cell definition (its first `numberOfLevels` records);
// cross sections are multiplied by sigmaScale (L·S of the layer, or 1 when already normalised).
// The levels are sorted from the most positive transition down.
DefectInput MakeDefectInput(std::span<const BulkRecombinationParameters> levels, double sigmaScale);

// The charge code c of a defect: the level type of its first (most positive) level. State s then
// carries (c − 3) − s elementary charges; c = 0 carries none.
int DefectChargeCode(const DefectInput& d);

// An empty text when the defect can be calculated, else the reason (for the user).
std::string ValidateDefect(const DefectInput& d);
// Checks every bulk defect in use of a cell; the first problem is returned in `message` and the
// result is false. The set-up of a calculation calls this before creating the records.
bool ValidateBulkDefects(const CellDefinition& cell, std::string& message);
inline constexpr const char* kBulkDefectErrorTitle = "Error in the definition of a bulk defect";

// Limits the number of discretisation levels of distributions to [2, 100]; the warning text is
// set (empty when the value was within limits). Shown in a box titled "Warning".
int LimitDefectDiscretisations(int n, std::string& warning);

// The energy axis of a defect, built on the energy above the valence band edge E′: the
// energies are E′_k = Et′ + offset[k], where Et′ is the defect's level energy above EV at the
// point. Tails always decay from Et′ into the gap, whatever the reference of Et.
struct EnergyAxis {
  int count = 1;
  double dE = 0.0;                                        // step ΔE [eV] (0 for a single level)
  std::array<double, MAXDEFECTDISCRETISATIONS> offset{};  // E′_k − Et′ [eV]
  // Density per unit energy at E_k relative to the total density [1/eV], scaled so that its
  // trapezoid sum over the axis is exactly 1 (1 for a single level).
  std::array<double, MAXDEFECTDISCRETISATIONS> weight{};
  // Trapezoid quadrature weights [eV]: ΔE/2 at both ends, ΔE inside (1 for a single level).
  std::array<double, MAXDEFECTDISCRETISATIONS> quadrature{};
};

// Builds the axis for a distribution of characteristic energy W with n energies (n is ignored
// for a single level); widthtail and widthgauss are the extents of tails and Gaussians in W.
EnergyAxis bereken_energie_as(int distribution, double W, int n, double widthtail, double widthgauss);

// ---------------------------------------------------------------------------------------------
// Recombination records
// ---------------------------------------------------------------------------------------------

// One level of one defect at one energy of its axis, per point of the layer (index j = i − first).
struct LevelRecord {
  int layer = 0, defect = 0, level = 0, energyIndex = 0;
  int chargeCode = 0, numberOfLevels = 1;
  std::vector<double> cn, cp;          // capture coefficients vth·σ
  std::vector<double> en, ep;          // thermal emission coefficients
  std::vector<double> gn_opt, gp_opt;  // optical emission rates (electrons to CB, holes to VB)
  std::vector<double> Nt;              // density of the defect at this energy [S] (per eV for a distribution)
  std::vector<double> f, een_min_f;    // occupation by the extra electron: state k+1 (f) and state k (1 − f)
  // Work arrays of the occupation iteration, sized with the record.
  std::vector<double> f_tOld, een_min_f_tOld, g_n_maxOld, g_p_maxOld;

  void resize(int points);
};

// Per-point material data of a layer that the level parameters need (spans over the layer's
// points, first … last).
struct LayerPointData {
  std::span<const double> vth_n, vth_p;  // thermal velocities (normalised)
  std::span<const double> NC, NV;        // effective densities of states [S]
  std::span<const double> Eg;            // band gap [eV]
  std::span<const double> Nt;            // total density of the defect [S]
};

// One bulk defect of a layer with its records.
struct BulkDefectRecord {
  DefectInput input;
  int chargeCode = 0;
  EnergyAxis axis;
  int first = 0;                     // mesh index of the layer's first point
  int count = 0;                     // points in the layer (first … first + count − 1)
  std::vector<LevelRecord> records;  // [energy·L + level]

  int levels() const { return input.numberOfLevels; }
  LevelRecord& record(int energy, int level) { return records[static_cast<std::size_t>(energy * levels() + level)]; }
  const LevelRecord& record(int energy, int level) const {
    return records[static_cast<std::size_t>(energy * levels() + level)];
  }
};

// All bulk defect records of the calculation, per layer.
struct BulkRecombination {
  std::array<std::vector<BulkDefectRecord>, MAXLAYERS> layer;
  // 1 where layer l has defect d.
  std::array<std::array<int, MAXBULKDEFECTS>, MAXLAYERS> exists{};
};

// Settings for building the records.
struct DefectAxisSettings {
  int defectdiscretisations = 7;
  double widthtail = 7.0;
  double widthgauss = 6.0;
};

// Creates the records of one defect on the points first … first+count−1 of its layer (sized
// once here; the energy axis is built too). The defect must have passed ValidateDefect.
BulkDefectRecord CreateDefectRecord(const DefectInput& input, int first, int count, const DefectAxisSettings& settings,
                                    CallCounter* counter = nullptr);
// Adds a defect to the calculation (replacing one with the same layer and defect index).
void AddDefectRecord(BulkRecombination& rec, BulkDefectRecord defect);
// Removes all records.
void FreeRecdataStructures(BulkRecombination& rec);

// Level parameters of one record at every point of the layer for the axis energy offset
// `offset` (E′ − Et′ [eV]): cn, cp, en, ep and the density. Vt is the thermal voltage [V].
void r_input_energie(LevelRecord& r, const DefectInput& d, const EnergyAxis& axis, const LayerPointData& layer,
                     double Vt, CallCounter* counter = nullptr);
// The same for every level and energy of a defect.
void FillDefectRecord(BulkDefectRecord& defect, const LayerPointData& layer, double Vt, CallCounter* counter = nullptr);

// ---------------------------------------------------------------------------------------------
// Per-point kernels
// ---------------------------------------------------------------------------------------------

// SRH and charge of one defect at one energy of its axis, at point j of its layer (unit: the
// record's density, i.e. per eV for a distribution). Stores the occupations when `store`.
// Returns false when the occupation cannot be computed (no finite solution).
bool rdcbijdrage_een_niveau_multilevel(BulkDefectRecord& defect, int energy, int j, const CarrierPoint& c,
                                       RecTerms& out, bool store = true);
// The same by the general chain solution for any number of levels, without the closed form for
// a single level: the plain reference the fast path is tested against.
bool rdcbijdrage_een_niveau_reference(BulkDefectRecord& defect, int energy, int j, const CarrierPoint& c, RecTerms& out,
                                      bool store = true);
// One defect integrated over its energy axis at point j. Returns 0, or −1 − k when energy k fails.
int rdcbijdrage_distributie_multilevel(BulkDefectRecord& defect, int j, const CarrierPoint& c, RecTerms& out,
                                       bool store = true);
// Radiative recombination K·(np − ni²); K normalised.
RecTerms rdcbijdrage_radiative(double K, const CarrierPoint& c);
// Auger recombination (Cn·n + Cp·p)·(np − ni²); Cn, Cp normalised.
RecTerms rdcbijdrage_auger(double Cn, double Cp, const CarrierPoint& c);

// ---------------------------------------------------------------------------------------------
// Mesh-wide drivers
// ---------------------------------------------------------------------------------------------

// The carrier variables on the mesh (spans over all points).
struct MeshCarriers {
  std::span<const double> expPsi, expMinPsi;
  std::span<const double> Nn, Np;
  std::span<const double> u, v;
  std::span<const double> u0, v0;  // the offsets of u and v at every point

  CarrierPoint at(std::size_t i) const { return {expPsi[i], expMinPsi[i], Nn[i], Np[i], u0[i] + u[i], v0[i] + v[i]}; }
};

// The layers on the mesh: mesh indices of the first and last point of each layer in use, and
// per point the radiative and Auger coefficients (normalised).
struct MeshBulkData {
  std::span<const int> first, last;
  std::span<const double> K, Cn, Cp;
};

// Fills the four blocks (total, SRH, radiative, Auger) at every point; the two end points of
// each layer get nothing. Returns 1, or a negative value when a defect contribution fails.
int totale_rdcbijdrage_multilevel(BulkRecombination& rec, const MeshCarriers& carriers, const MeshBulkData& mesh,
                                  BulkTermBlocks& blocks, CallCounter* counter = nullptr);

// Hook for optical transitions through defects: when active, the occupation iteration lets it
// recompute the photon fluxes and the optical rates gn_opt, gp_opt of every level after each
// sweep, and the generation profile after the last.
class DefectOptics {
 public:
  virtual ~DefectOptics() = default;
  virtual bool Active() const = 0;
  virtual void UpdateRates(BulkRecombination& rec) = 0;
  virtual void AfterLastSweep(BulkRecombination& rec) = 0;
};

// Makes the stored occupations consistent with the present carriers (and with the optical
// rates when `optics` is active). Returns the number of sweeps (1: already consistent), at most
// 100; at 100 a message is reported through `env` when given.
int IterateFt(BulkRecombination& rec, const MeshCarriers& carriers, DefectOptics* optics = nullptr,
              const Environment* env = nullptr, CallCounter* counter = nullptr);

}  // namespace zoniq
