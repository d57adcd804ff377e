// The curve fitter: up to nine cell parameters are adjusted until simulated curves agree with up
// to nine measured curves. Each iteration evaluates one trial point (the average of the
// measurements' normalised chi-squares); a small state machine chooses the next trial point: a
// Nelder-Mead simplex for two or more parameters, a bracketing line search with golden-section
// and parabolic steps for one. Parameters move in normalised units (0 … 1 over their range,
// linear or logarithmic), so one step size serves quantities of any magnitude.
//
// How a trial point is evaluated is behind `FitEvaluator`: the session's evaluator simulates the
// cell; the tests use analytic functions.
#pragma once

#include <array>
#include <functional>
#include <iosfwd>
#include <span>
#include <string>
#include <vector>

namespace zoniq {

inline constexpr int kMaxFitParameters = 9;
inline constexpr int kMaxFitMeasurements = 9;

// Measurement type codes: odd in the dark, even under illumination (1↔2, …, 19↔20).
enum CurveFitType {
  FIT_IV_DARK = 1,
  FIT_IV_LIGHT,
  FIT_CV_DARK,
  FIT_CV_LIGHT,
  FIT_GV_DARK,
  FIT_GV_LIGHT,
  FIT_MS_DARK,
  FIT_MS_LIGHT,
  FIT_CF_DARK,
  FIT_CF_LIGHT,
  FIT_GF_DARK,
  FIT_GF_LIGHT,
  FIT_GFF_DARK,
  FIT_GFF_LIGHT,
  FIT_ZPLOT_DARK,
  FIT_ZPLOT_LIGHT,
  FIT_QEL_DARK,
  FIT_QEL_LIGHT,
  FIT_QEHV_DARK,
  FIT_QEHV_LIGHT
};
// "I(V)", "C (V)", "G (V)", "M-S", "C (f)", "G (f)", "G(f)/f", "Z-plot", "QE(l)", "QE(hv)"; "none".
std::string CurveFitTypeLabel(int type);
// The simulation a type needs.
enum class FitSweep { kNone, kIV, kCV, kCf, kQE };
FitSweep CurveFitTypeSweep(int type);
// The type with the illumination flag set or cleared (its partner code).
int CurveFitTypeWithLight(int type, int illumination);

struct CurveFitMeasurement {
  int type = -1;
  int illumination = 0;
  int show = 0;
  std::string file;
  int nPoints = 0;
  int linlog = 0;  // 0 linear, 1 logarithmic comparison
  std::vector<double> x, y;
  double weight = 1.0;  // kept and saved; the average does not use it
  int hasFixedParameter = 0;
  std::array<int, 4> fixedLabel{-1, -1, -1, -1};
  int fixedType = 2;  // 1 integer, 2 real, 3 file name
  int fixedInt = 0;
  double fixedReal = 0.0;
  std::string fixedText;

  bool operator==(const CurveFitMeasurement&) const = default;
};

// The history of a run: per iteration the parameter values, each measurement's chi-square and
// their average.
struct CurveFitRunTime {
  int iteration = -1;         // the iteration being evaluated; after a run the last one evaluated
  int measurementIndex = -1;  // the measurement being simulated, -1 when idle
  double stepSize = 0.1;
  std::vector<std::vector<double>> parameter;  // [parameter][iteration]
  std::vector<std::vector<double>> ChiSq;      // [measurement][iteration]
  std::vector<double> ChiSqTotal;              // [iteration]
  int endState = 0;                            // the state that ended the run (2, 3, 4), 0 otherwise
  bool stopped = false;                        // the user stopped the run
};

struct CurveFitter {
  int nParameters = 0;
  std::array<double, kMaxFitParameters> minimum{}, maximum{};
  // The parameter's present value in the cell, taken when a run starts (the start value when
  // `startIsActual`).
  std::array<double, kMaxFitParameters> actualValue{};
  std::array<int, kMaxFitParameters> startIsActual{};
  std::array<int, kMaxFitParameters> logarithmic{};
  std::array<std::array<int, 4>, kMaxFitParameters> label = [] {
    std::array<std::array<int, 4>, kMaxFitParameters> unset;
    for (auto& l : unset) l.fill(-1);  // -1: no batch label
    return unset;
  }();
  std::array<std::string, kMaxFitParameters> name{};

  int nMeasurements = 0;
  std::array<CurveFitMeasurement, kMaxFitMeasurements> measurement{};

  int maxSteps = 25;
  double maxStepSize = 0.1;
  double stopStepSize = 1e-10;
  double stopChiSquare = 1e-7;

  CurveFitRunTime running;
};

void InitialiseCurveFitParameters(CurveFitter& fitter);
void InitialiseCurveFitMeasurements(CurveFitter& fitter);
void InitialiseCurveFitRunTime(CurveFitter& fitter);
void InitialiseCurveFitter(CurveFitter& fitter);
// A fresh history of `maxSteps` iterations, all zero; iteration 0 holds the start values.
void ResetCurveFitRunTime(CurveFitter& fitter);

double NormaliseParameter(const CurveFitter& fitter, int i, double p);
double DeNormaliseParameter(const CurveFitter& fitter, int i, double x);
// min when p ≤ min (or p is not a number), max when p > max, else p.
double ConstrainParameterInRange(const CurveFitter& fitter, int i, double p);
// The present value when `startIsActual` (constrained into the range), otherwise the middle
// of the range (geometric for a logarithmic parameter).
double ParameterStartValue(const CurveFitter& fitter, int i);

// The state of the search between iterations.
enum FitMode { kLineSearch = 1, kSimplex = 2 };
struct FitAlgorithm {
  int mode = kSimplex;
  std::vector<int> vertex;  // iteration indices of the simplex's vertices or the line search's points
  int action = 1;           // what the next iteration does
  int shrinkCounter = 0;
  int reflection = -1;  // the iteration of the reflection that an expansion is compared with
  // The simplex (or pair) is built from the point of iteration `buildBase`, one displaced point
  // per parameter from iteration `buildStart` on: first from the start point, again from the
  // best point when a simplex that has shrunk is rebuilt to check the minimum.
  int buildBase = 0;
  int buildStart = 1;
  double buildStep = 0.1;  // the displacement of a build [normalised]
  int restartBest = -1;    // the best iteration when the simplex was last rebuilt
};
void InitialiseFitAlgorithm(const CurveFitter& fitter, FitAlgorithm& algorithm);

// Writes the trial values of iteration k into the history and returns the state: 1 the start
// point, 2 the search has shrunk below `stopStepSize` (a simplex is first rebuilt once around its
// best point: a simplex squeezed flat against a bound can shrink away from the minimum), 3 the chi-square is below
// `stopChiSquare`, 4 `maxSteps` reached, 5/6/20 building the first simplex or pair, 7
// extrapolation or parabola, 11 golden section, 16 reflection, 17 expansion, 18 contraction, 19
// shrink step.
int NewCurveFittingParameterSet(CurveFitter& fitter, int k, FitAlgorithm& algorithm);
// After iteration k has been evaluated: the action of the next iteration (and the new vertex
// list).
int AlgorithmChecks(const CurveFitter& fitter, int k, FitAlgorithm& algorithm, int state);
// The size of the search in normalised units: the largest distance of a vertex from the best
// one (simplex) or the width of the bracket (line search); `maxStepSize` while the first simplex
// or pair is built.
double SearchSize(const CurveFitter& fitter, int k, const FitAlgorithm& algorithm);

// Evaluates trial points. The points are independent of each other, so an evaluator may work on
// them at the same time; its result for a point must not depend on the other points.
struct FitTrial {
  int iteration = 0;
  std::array<double, kMaxFitParameters> values{};  // the fitted parameters' values, in their units
};
struct FitEvaluation {
  // Each measurement's chi-square; +inf when its simulation failed or the comparison is not a
  // number.
  std::array<double, kMaxFitMeasurements> chiSq{};
};
class FitEvaluator {
 public:
  virtual ~FitEvaluator() = default;
  virtual void Evaluate(const CurveFitter& fitter, std::span<const FitTrial> trials,
                        std::span<FitEvaluation> results) = 0;
  // Called in iteration order once an evaluation becomes part of the history (messages and
  // records it kept are committed here). The default does nothing.
  virtual void Commit(const FitTrial& /*trial*/) {}
  // How many points are worth evaluating at once (1: one at a time).
  virtual int Parallelism() const { return 1; }
};

struct FitRunOptions {
  std::ostream* progress = nullptr;     // one line per iteration; null: none
  std::function<bool()> stopRequested;  // asked after every iteration
};

// The main loop. Nothing happens when no parameter is fitted. Returns the number of iterations
// evaluated.
int DoCurveFittingCalculations(CurveFitter& fitter, FitEvaluator& evaluator, const FitRunOptions& options = {});

// The iteration with the smallest total chi-square (the first on a tie); the last one when no
// iteration gave a finite chi-square; -1 when nothing ran.
int BestCurveFitIteration(const CurveFitter& fitter);
// The progress line of iteration k.
std::string CurveFitProgressLine(const CurveFitter& fitter, int k);

}  // namespace zoniq
