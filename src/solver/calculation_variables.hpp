// The solved state of the device on its mesh: potential, carrier variables, Bernoulli factors,
// the mesh itself, the per-point material data, the defect and interface terms, the tunnelling
// state and the work storage of the Newton iterations.
//
// Every per-point array is sized once, to MAXPOINTS, when the record is created, so that the mesh
// may grow up to its limit and nothing is allocated while a solution is computed. The record is a
// plain value: copying it copies the whole state, and solving a copy leaves the source unchanged.
#pragma once

#include <array>
#include <functional>
#include <memory>
#include <span>
#include <string>
#include <vector>

#include "solver/bulk_recombination.hpp"
#include "solver/calculation_parameters.hpp"
#include "solver/interface_recombination.hpp"
#include "ui/error_message.hpp"

namespace zoniq {

class CallCounter;

// The mesh: at most MAXPOINTS points over the stack, two points at the same position at every
// interface. Layer l occupies the indices first[l] … last[l].
struct MeshBlock {
  int N = 0;
  std::array<int, MAXLAYERS> points{};  // points per layer
  std::array<int, MAXLAYERS> first{};
  std::array<int, MAXLAYERS> last{};
  std::vector<double> x;    // normalised position (0 … 1)
  std::vector<double> xm;   // position [m]
  std::vector<double> xum;  // position [µm]
  std::vector<double> h;    // interval x[i+1] − x[i] (normalised)

  void resize(std::size_t n);
};

// Material data at every mesh point, in the solver's units (see calculation_parameters.hpp).
struct PointData {
  std::vector<double> y;                 // composition
  std::vector<double> chi, Eg, eps;      // [eV], [eV], relative
  std::vector<double> NC, NV;            // [S_l]
  std::vector<double> vth_n, vth_p;      // [Dmax/L]
  std::vector<double> mu_n, mu_p;        // transport coefficients sqrt(τ)·Vt·μ/Dmax
  std::vector<double> me, mh;            // relative tunnelling masses
  std::vector<double> Krad, Cn, Cp;      // radiative and Auger coefficients (normalised)
  std::vector<double> ND, NA, Nnet;      // [S_l]
  std::vector<double> Nn, Np;            // density prefactors: n = Nn·e^ψ·(u0+u), p = Np·e^−ψ·(v0+v)
  std::vector<double> theta_n, theta_p;  // band parameters [Vt]

  void resize(std::size_t n);
};

// An off-band Jacobian element contributed by tunnelling.
struct SparseElement {
  int row = 0, col = 0;
  double value = 0.0;
};

// Interface terms: per interface the charge of its defects and the net capture fluxes of both
// carriers from both of its points, with their derivatives (zero without interface defects).
struct InterfaceTermBlock {
  std::array<double, MAXINTERFACES> sigma{};        // interface charge [C/m²]
  std::array<double, MAXINTERFACES> dsigma_dpsi{};  // total ∂σ/∂ψ with ψ_p = ψ_f [C/m² per Vt]
  // Net capture fluxes (normalised with S·Dmax/L of their side) and their derivatives with
  // respect to the carrier variable at the left-hand (p) and right-hand (f) point.
  std::array<double, MAXINTERFACES> Fn_left{}, Fn_left_t{}, dFn_left_dup{}, dFn_left_duf{};
  std::array<double, MAXINTERFACES> Fn_right{}, Fn_right_t{}, dFn_right_dup{}, dFn_right_duf{};
  std::array<double, MAXINTERFACES> Fp_left{}, Fp_left_t{}, dFp_left_dvp{}, dFp_left_dvf{};
  std::array<double, MAXINTERFACES> Fp_right{}, Fp_right_t{}, dFp_right_dvp{}, dFp_right_dvf{};
  // The remaining derivatives, each with respect to the value at p and at f: of σ with respect
  // to ψ, u and v; of each flux with respect to ψ and to the other carrier's variable.
  std::array<double, MAXINTERFACES> dsigma_dpsip{}, dsigma_dpsif{}, dsigma_dup{}, dsigma_duf{}, dsigma_dvp{},
      dsigma_dvf{};
  std::array<double, MAXINTERFACES> dFn_left_dpsip{}, dFn_left_dpsif{}, dFn_left_dvp{}, dFn_left_dvf{};
  std::array<double, MAXINTERFACES> dFn_right_dpsip{}, dFn_right_dpsif{}, dFn_right_dvp{}, dFn_right_dvf{};
  std::array<double, MAXINTERFACES> dFp_left_dpsip{}, dFp_left_dpsif{}, dFp_left_dup{}, dFp_left_duf{};
  std::array<double, MAXINTERFACES> dFp_right_dpsip{}, dFp_right_dpsif{}, dFp_right_dup{}, dFp_right_duf{};
  std::vector<double> jn_iface, jp_iface;  // interface-tunnel currents per interval (particle flux in +x)
  // Jacobian elements (−∂F/∂X of the carrier's own continuity rows) of trap-assisted tunnelling
  // that the tridiagonal rows above cannot hold: the points from which carriers tunnel to a trap
  // couple to the interface points and to each other through the trap's occupation.
  std::vector<SparseElement> sparse_n, sparse_p;
  // Work of trap-assisted tunnelling: the band profile of each carrier [kT], the tunnelling
  // weights of the four channels of one level, the flux per point that leaves to the traps of
  // one interface, and a dense block of Jacobian elements over the points of one interface.
  std::vector<double> bandN, bandP, sinkN, sinkP;
  std::array<std::vector<double>, 4> weight;
  // Dense blocks, zero between uses and never copied with the record: up to (points of two
  // layers)² values, which copies of a solution need not carry.
  struct Scratch {
    std::vector<double> v;
    Scratch() = default;
    Scratch(const Scratch&) {}
    Scratch& operator=(const Scratch&) { return *this; }
  };
  Scratch blockN, blockP;

  void resize(std::size_t n);
  void clear();
  void clearTerms();  // the per-interface values only (the tunnel currents are kept)
};

// Tunnelling state of one carrier.
struct CarrierTunnelState {
  std::vector<double> current;             // tunnel current per interval (Jn of the continuity equation)
  std::vector<double> source1, source2;    // source arrays T1, T2
  std::vector<double> further1, further2;  // further per-point arrays
  std::array<double, MAXINTERFACES> ifaceLeft{}, ifaceRight{};  // corrections per interface side
  std::array<double, 2> contact{};                              // left, right
  std::vector<SparseElement> sparse;
  std::vector<double> band;  // work: the band profile seen by the carrier [kT]
  void resize(std::size_t n);
};

struct TunnelState {
  CarrierTunnelState n, p;
  // Set by every mechanism that writes the arrays above (or the interface-tunnel currents); while
  // both are 0 the arrays hold zeros only.
  int present = 0;
  int interfacePresent = 0;
};

// Work storage of the Newton iterations, sized once with the record.
// How a bias point was solved: by the Gummel procedure, rescued by the coupled Newton iteration,
// reached only by halving the bias step, by continuation in light, or by continuation in
// temperature (solved warmer and carried back); failed.
inline constexpr int kPointGummel = 0;
inline constexpr int kPointCoupledNewton = 1;
inline constexpr int kPointStepHalving = 2;
inline constexpr int kPointContinuation = 3;
inline constexpr int kPointTemperatureContinuation = 4;
inline constexpr int kPointFailed = -1;

// Per-point current densities [mA/cm²].
struct CurrentDensities {
  std::vector<double> j_n, j_p, jn_tunnel, jp_tunnel, j_tot;
  // False when the total current somewhere differs from its value at point 0 by more than 0.1 %
  // of it (the total-current curve is then drawn in red).
  bool continuous = true;
};

// Work storage whose contents never outlive the solve that fills it: a copy of the record takes
// its size but not its values (the band matrix alone is larger than the solution).
template <class T>
struct Scratch : std::vector<T> {
  Scratch() = default;
  Scratch(const Scratch& o) : std::vector<T>(o.size()) {}
  Scratch(Scratch&&) noexcept = default;
  Scratch& operator=(const Scratch& o) {
    if (this != &o && this->size() != o.size()) this->assign(o.size(), T{});
    return *this;
  }
  Scratch& operator=(Scratch&&) noexcept = default;
  ~Scratch() = default;
};

// A copy of the solution variables: ψ, u, v and the carriers' offsets (sized once per problem),
// kept within a solve or a bias step.
struct SolutionCopy {
  Scratch<double> psi, u, v, uOffset, vOffset;
  void resize(std::size_t n);
};

struct SolverWorkspace {
  Scratch<double> F, delta, jl, jd, ju;  // residual, step, tridiagonal Jacobian (lower, diagonal, upper)
  Scratch<double> extra;                 // per layer: the element of the interface row to first(l+1)+1
  Scratch<double> c1, c2, c3;            // elimination scratch
  // Coupled Newton: the band matrix (3 unknowns per point) with its pivots and scratch.
  Scratch<double> band;
  Scratch<int> pivots;
  Scratch<double> F3, delta3;
  Scratch<double> rowScale;  // the row equilibration of the factorised band matrix
  // The state at the entry of a solve, to restart from; the state of the Gummel procedure when
  // the coupled Newton iteration tries to take over, to go on from when that fails.
  SolutionCopy entry, pass;
  // Envelope solver scratch.
  std::vector<double> env_values;
  std::vector<int> env_start;
  MeshBlock mesh;             // the new mesh while the mesh is adapted
  MeshBlock meshAtEntry;      // the mesh at the entry of a solve, to come back to
  CurrentDensities currents;  // the currents of a solution being checked
  // The last solved bias point of a stepping, to halve a failing step from.
  SolutionCopy good;
  // The point solved before it (ψ and the quasi-Fermi levels ln(u0 + u), ln(v0 + v) at bias
  // `previousV`) and the one before that (at `earlierV`), from which the next point of a sweep is
  // predicted by extrapolation; `lastV` is the bias of the last point solved by the stepping.
  std::vector<double> psiPrevious, lnuPrevious, lnvPrevious;
  std::vector<double> psiEarlier, lnuEarlier, lnvEarlier;
  double previousV = 0.0, earlierV = 0.0, lastV = 0.0;
  int previousN = 0;  // 0: no previous point
  int earlierN = 0;   // 0: no earlier point
  // The same arrays along a continuation in another parameter t (the light of a ramp): points
  // remembered (0–2), their parameters, and the solves counted when the last was remembered.
  int pathPoints = 0;
  double pathT1 = 0.0, pathT2 = 0.0;
  long pathSolves = -1;
  // Solves so far, and their number when the stepping last solved: a solve in between (another
  // light, another stage) makes the previous point no guide.
  long solves = 0, solvesAtLast = -1;
  void resize(std::size_t n);
};

// What a solve reports to its user and counts: the error routine and the call counter (both
// may be absent), and the switch that allows the mesh message once per calculation step.
struct SolverContext {
  Environment env{};  // env.ui == nullptr: messages are dropped
  CallCounter* counter = nullptr;
  int issueMeshWarning = 1;
  // Messages held back while a failed Gummel solve may still be rescued by the coupled Newton
  // iteration; shown only when that fails too.
  bool deferMessages = false;
  std::vector<std::pair<std::string, std::string>> deferred;
  // Recoveries of failing bias points (halved steps, continuation): 0 not logged, 1 logged on
  // the status line and kept in `recoveries` for the run's report, 2 also the failed attempts
  // on the way to a recovery.
  int recoveryLog = 1;
  std::vector<std::string> recoveries;
  // Logs a recovery (level 1) or a failed attempt (level 2) when the chosen level asks for it.
  void LogRecovery(const std::string& text, int level = 1) {
    if (recoveryLog < level) return;
    if (env.ui) env.ui->StatusMessage(text);
    recoveries.push_back(text);
  }
  // The last message reported or held back (for tests and callers).
  std::string lastTitle, lastMessage;
};

// A large per-point table that stored solutions share instead of copying: the absorption of
// every point at every wavelength (megabytes for a fine spectrum) changes only when it is
// evaluated again for a new mesh, while solutions are copied between the stores many times per
// simulation. Points with equal rows (every point of an ungraded layer has the same absorption)
// share one row, so the table holds one row per distinct composition rather than one per point.
// Copying the record shares the values; Reset gives this record a table of its own (reusing its
// storage when no other record shares it), so that a shared table is never written.
class SharedTable {
 public:
  std::size_t points() const { return data_ ? data_->rowOf.size() : 0; }
  std::size_t width() const { return data_ ? data_->width : 0; }
  bool empty() const { return points() == 0; }
  // The row of point i (zeros until the point is given a row).
  const double* Row(std::size_t i) const { return data_->values.data() + data_->rowOf[i] * data_->width; }
  double at(std::size_t i, std::size_t k) const { return Row(i)[k]; }
  // A table of `points` rows of `width` values, owned by this record only, every row zero.
  void Reset(std::size_t points, std::size_t width) {
    if (!data_ || data_.use_count() != 1) data_ = std::make_shared<Data>();
    data_->width = width;
    data_->values.assign(width, 0.0);  // row 0: the zero row
    data_->rowOf.assign(points, 0);
  }
  // Gives point i a row of its own, zero-filled, to be filled by the caller (valid until the
  // next NewRow).
  std::span<double> NewRow(std::size_t i) {
    const std::size_t at = data_->values.size();
    data_->values.resize(at + data_->width, 0.0);
    data_->rowOf[i] = at / std::max<std::size_t>(data_->width, 1);
    return {data_->values.data() + at, data_->width};
  }
  // Point i takes the row of point j.
  void ShareRow(std::size_t i, std::size_t j) { data_->rowOf[i] = data_->rowOf[j]; }
  // Distinct rows held (the zero row included).
  std::size_t rows() const { return data_ && data_->width ? data_->values.size() / data_->width : 0; }
  // Whether both tables use the same storage (a copy that has not been evaluated again).
  bool SharesWith(const SharedTable& other) const { return data_ && data_ == other.data_; }

 private:
  struct Data {
    std::size_t width = 0;
    std::vector<double> values;      // the distinct rows, one after the other
    std::vector<std::size_t> rowOf;  // row index of each point
  };
  std::shared_ptr<Data> data_;
};

// A metastable transition on the mesh: the acceptor and donor configurations are two bulk
// defects of the layer whose densities are Nt·fA and Nt·fD. The shares are kept as
// y = ln(fD/fA), so that a share of 1e-100 is as exact as one of 0.5.
struct MetaTransitionCalc {
  int on = 0;
  int donorDefect = 0, acceptorDefect = 0;
  int donorLevel = 0, acceptorLevel = 0;  // the level (in the solver's order) each configuration uses
  std::vector<double> y;                  // ln(fD/fA) per mesh point (indices of the layer)
  std::vector<double> yTarget;            // the shares the present solution asks for
  std::vector<double> yEntry;             // y at the entry of a solve that may change the mesh
  std::vector<double> Nt;                 // total density per point of the layer [S]
};

struct MetaStableState {
  std::array<std::array<MetaTransitionCalc, MAXMETATRANSITIONS>, MAXLAYERS> t{};
  int count = 0;  // transitions on
};

// Recomputes the generation profile after the mesh changed (supplied by the optical model).
using GenerationHook = std::function<void(struct CalculationVariables&)>;

struct CalculationVariables {
  // Potential and its derived arrays.
  std::vector<double> psi, Eplus, Emin;
  std::vector<double> Bnp, Bnm, Bpp, Bpm;      // Bn⁺, Bn⁻, Bp⁺, Bp⁻ of the interval (i−1, i) at index i
  std::vector<double> dBnp, dBnm, dBpp, dBpm;  // their derivatives B′ at the same arguments
  // Carrier variables: n_i = Nn·e^ψ·(u0_i + u_i), p_i = Np·e^−ψ·(v0_i + v_i). The offset of a
  // point is either the anchor of its carrier (the value at the contact where that carrier is
  // the majority) or 0 (see ChooseOffsets): where a density is close to its contact's, u holds
  // the small deviation and the currents, differences of neighbouring values, keep their
  // precision; where it is far below it, u holds the whole value, which keeps its relative
  // precision (u0 + u with u0 = e^(V/Vt) ≈ 1e20 cannot resolve a value of 1).
  std::vector<double> u, v;
  std::vector<double> u0, v0;
  double uAnchor = 1.0, vAnchor = 1.0;
  double V = 0.0;       // applied voltage [V]
  double VdivVt = 0.0;  // V/Vt
  double uR = 1.0;      // exp(V/Vt): u0 + u at the right contact
  MeshBlock mesh;
  MeshBlock initialMesh;
  int teller = 0;  // iterations of the last loop; −1: not converged
  int secondSpectrum = 0, thirdSpectrum = 0;
  CalculationParameters* par = nullptr;  // borrowed
  PointData pt;
  std::vector<double> G;  // generation rate per point [S_l·Dmax/L²]
  // Absorption per point and wavelength (Row(i) holds the wavelengths of point i) [1/m] and ×L.
  std::vector<double> wavelengths;  // [nm]
  SharedTable alpha, alphaL;
  std::vector<double> cutoff;  // local cut-off wavelength per point [nm]
  // The working point is lit and its generation is computed optically: the initial mesh then
  // resolves the absorption depth at 300 nm (set this and the wavelengths before the mesh).
  int illuminated = 0;
  BulkTermBlocks blocks;  // total, SRH, radiative, Auger
  InterfaceTermBlock ifr;
  BulkRecombination rec;
  InterfaceRecombination ifrec;  // interface defect records
  // Total defect density of every defect in use, per point of its layer [S_l].
  std::array<std::array<std::vector<double>, MAXBULKDEFECTS>, MAXLAYERS> defectNt;
  TunnelState tunnel;
  MetaStableState meta;
  SolverWorkspace work;
  SolverContext* ctx = nullptr;  // borrowed; may be null
  GenerationHook regenerate;     // may be empty: the generation is then interpolated
  int coupledIterations = 0;     // steps of the last coupled Newton solve (0: not used)
  // How the present solution was reached (kPoint…), and the acceptance check it passed or failed.
  int pointState = 0;
  double checkStep = 0.0, checkSpread = 0.0, checkSplit = 0.0;

  int N() const { return mesh.N; }
  double Vt() const { return par->Vt; }
};

// Creates the record for a problem: sizes every array and clears the solution, builds the
// initial mesh when buildMesh (otherwise keeps the mesh it has), evaluates the material data on
// the mesh and creates the defect records. The absorption data (bepaal_alfa) are kept. Returns
// 0, or −1 when the parameter set has no layers.
int CreateCalculationVariables(CalculationVariables& cv, CalculationParameters& par, SolverContext* ctx,
                               bool buildMesh = true);
// Copies everything but the workspace contents (the destination keeps its own sizes).
void CopyCalculationVariables(CalculationVariables& dst, const CalculationVariables& src);

// Recomputes e^ψ, e^−ψ and the Bernoulli factors from ψ; at point 0 they are 0.
void update_psivar(CalculationVariables& cv);
// Sets the bias: V, V/Vt, uR = exp(V/Vt) and the anchors of both carriers (uR and 1 with an
// n-type right contact, 1 and 1/uR with a p-type one), keeping every density.
void Set_an_And_ap(CalculationVariables& cv, double V);
// Chooses every point's offsets for the present anchors, keeping u0 + u and v0 + v: the anchor
// where the value is at least 1e-3 of it, 0 below.
void ChooseOffsets(CalculationVariables& cv);
// Copies the solution variables of the present mesh out to `c`, or back from it (allocating
// nothing; the caller updates what depends on ψ).
void SaveSolution(const CalculationVariables& cv, SolutionCopy& c);
void RestoreSolution(CalculationVariables& cv, const SolutionCopy& c);
// Sets point i to the whole carrier values wn = u0 + u and wp = v0 + v, with its offsets.
void SetCarrierValues(CalculationVariables& cv, int i, double wn, double wp);
// The difference (w0_a + w_a) − (w0_b + w_b) of a carrier variable between two points, exact
// in the deviations where both points have the same offset.
inline double CarrierDifference(const double* w0, const double* w, int a, int b) {
  return (w[a] - w[b]) + (w0[a] - w0[b]);
}
// Clears the tunnelling state of both carriers (selector 0), electrons only (−1) or holes only (1).
void InitialiseTunnelCurrent(CalculationVariables& cv, int selector);

// Reports a message through the context, or holds it back while messages are deferred (unless
// `deferrable` is false).
void SolverMessage(CalculationVariables& cv, const std::string& title, const std::string& message,
                   bool deferrable = true);

// Holds back the deferrable messages of cv's solver context (when there is one and `hold`) while
// a recovery may still rescue what is being solved. Rescued, nothing held is said but what the
// recovery logs; failed, what the first attempt said (the recoveries would repeat it). When it
// is released (at the latest when it goes) the messages left are said, unless an outer holder
// still holds them.
class HeldMessages {
 public:
  explicit HeldMessages(CalculationVariables& cv, bool hold = true);
  HeldMessages(const HeldMessages&) = delete;
  HeldMessages& operator=(const HeldMessages&) = delete;
  ~HeldMessages() { Release(); }
  void FirstAttemptDone();  // what is held so far is the first attempt's
  void Rescued();           // drops everything held
  void Failed();            // keeps the first attempt's messages (all, when none was marked)
  void Release();
  // Rescued or Failed, then Release.
  void Finish(bool failed);

 private:
  CalculationVariables& cv_;
  SolverContext* ctx_;
  bool wasDeferring_ = false;
  std::size_t before_ = 0, firstAttempt_ = static_cast<std::size_t>(-1);
};
// Counts a call of a kernel in the statistics when a counter is present.
void CountCall(const CalculationVariables& cv, int function);

// The carriers and layer data in the form the bulk recombination kernels take.
MeshCarriers CarriersOf(const CalculationVariables& cv);
MeshBulkData BulkDataOf(const CalculationVariables& cv);
// Rebuilds the level parameters of every defect record on the present mesh.
void FillAllDefectRecords(CalculationVariables& cv);

}  // namespace zoniq
