// The cell definition: layers, interfaces, contacts, defects and their levels, filters and
// graded properties, in the three parameter sets of the program (SI in `parameterset1`,
// practical units in `zonnecel`, normalised calculation parameters built by the solver).
#pragma once

#include <array>
#include <string>
#include <vector>

namespace zoniq {

inline constexpr int MAXLAYERS = 7;
inline constexpr int MAXINTERFACES = 6;
inline constexpr int MAXBULKDEFECTS = 7;
inline constexpr int MAXLEVELS = 4;
inline constexpr int MAXIFACEDEFECTS = 3;
inline constexpr int MAXMETATRANSITIONS = 2;
inline constexpr int NDEFLEVTYPE = 7;
inline constexpr int DEFLEVTYPE_NEUTRAL = 0;
inline constexpr std::size_t MAXFILENAME = 260;  // file names hold at most 259 characters
inline constexpr std::size_t MAXLAYERNAME = 39;
inline constexpr std::size_t MAXIFACENAME = 19;

// Interpolation laws of a graded property.
enum InterpolationLaw {
  LAW_UNIFORM = 0,
  LAW_LINEAR = 1,
  LAW_PARABOLIC = 2,
  LAW_LOGARITHMIC = 3,
  LAW_EXPONENTIAL = 4,
  LAW_BETA = 5,
  LAW_EFFECTIVE_MEDIUM = 6,
  LAW_ALPHA = 7,
  LAW_POWER = 8,
  LAW_PARABOLIC2 = 9,
  LAW_UNIFORM_B = 10,
  LAW_UNIFORM_Y = 11,
  LAW_FROM_FILE = 12,
  LAW_TABLE = 13,
  NLAWS = 14
};

// Dependence of a graded property.
enum Dependence { DEP_COMPOSITION = 0, DEP_POSITION = 1, DEP_UNIFORM = 2 };

// A property given for pure A and pure B material (or left and right side) with a law.
struct Profile {
  int law = LAW_UNIFORM;
  int dependence = DEP_COMPOSITION;
  // p0 pure A (y=0), p1 pure B (y=1), p2..p4 law parameters, p5 left (x=0), p6 right (x=d)
  std::array<double, 7> p{};
  // 1 when p2 (index 0) or p3 (index 1) is itself a value of the property and scales with it.
  std::array<int, 2> scaleFlag{};
  std::string gradingFile;
  // Law 13: the table in memory.
  std::vector<double> xlist;
  std::vector<double> values;
  int numberOfPoints() const { return static_cast<int>(xlist.size()); }

  bool operator==(const Profile&) const = default;
};

// A profile with one value everywhere.
Profile UniformProfile(double value, int dependence = DEP_COMPOSITION);
void SetProfileScaleParameters(Profile& profile);
// p5 and p6 become the pure-A (which = 0) or pure-B (which = 1) value.
void MakeUniform(Profile& profile, int which);

struct OpticalCaptureProperties {
  std::string file;
  std::vector<double> sigma;       // optical cross sections [m^2]
  std::vector<double> wavelength;  // [nm]
  int fromFile = 0;
  double n = 3.0;
  double massRatio = 1.0;  // m*/m0
  double EeffE0 = 1.0;     // Eeff/E0
  double Emax = 10.0;      // [eV]
  int fromModel = 0;       // "data from model"
  int firstWavelengthIndex = 0;
  int numberOfPoints() const { return static_cast<int>(sigma.size()); }

  bool operator==(const OpticalCaptureProperties&) const = default;
};

// Defect types, energy distributions, spatial distributions, level types, charge states.
enum DefectType {
  DT_NEUTRAL,
  DT_ACCEPTOR,
  DT_DONOR,
  DT_DOUBLEACCEPTOR,
  DT_DOUBLEDONOR,
  DT_AMPHOTERIC,
  DT_CUSTOM,
  NDEFECTTYPES
};
enum EnergyDistribution { ED_SINGLE, ED_UNIFORM, ED_GAUSS, ED_CBTAIL, ED_VBTAIL, NDISTRIBUTIONS };
enum SpatialDistribution { SD_HOMOGENOUS, SD_LINEAR, SD_EXPONENTIAL, NSPATIAL };
inline constexpr int NCHARGESTATES = 7;

extern const std::array<const char*, NDEFECTTYPES> kDefectTypeText;
extern const std::array<const char*, NDISTRIBUTIONS> kDistributionText;
extern const std::array<const char*, NSPATIAL> kSpatialText;       // as stored in files
extern const std::array<const char*, NSPATIAL> kSpatialShownText;  // as shown to the user
extern const std::array<const char*, NDEFLEVTYPE> kLevelTypeText;
extern const std::array<const char*, NCHARGESTATES> kChargeStateText;
extern const std::array<const char*, NLAWS> kLawText;

// One level of a bulk defect; the defect-wide fields are those of level 1.
struct BulkRecombinationParameters {
  int layerNumber = 0;
  int defectNumber = 0;
  int aard = DEFLEVTYPE_NEUTRAL;  // level type
  int type = DT_NEUTRAL;          // defect type
  int numberOfLevels = 1;
  int spareInt = 0;
  double sigma_n = 1e-19, sigma_p = 1e-19;  // [m^2]
  double sigma_n_plus = 1e-25, sigma_n_zero = 1e-25, sigma_p_zero = 1e-25, sigma_p_min = 1e-25;
  double sigma_n_opt = 0, sigma_p_opt = 0;
  OpticalCaptureProperties optHoles;
  OpticalCaptureProperties optElectrons;
  int distribution = ED_SINGLE;
  double Ekar = 0.1;  // [eV]
  double Ecor = 0.0;  // correlation energy [eV]
  double Et = 0.6;    // [eV] from the reference
  int reference = 0;  // 0 above EV, 1 above Ei, 2 below EC
  double peakToTotal = 1.0;
  int correlationFlag = 0;
  int degeneracyFlag = 0;  // 1: "degeneracy factors equal one"
  int spatialProfile = SD_HOMOGENOUS;
  double Lkar = 1e-7;                  // [m]
  double Nleft = 1e20, Nright = 1e20;  // [/m^3] or [/m^3 eV]
  Profile Nt;                          // [/m^3]

  bool operator==(const BulkRecombinationParameters&) const = default;
};

struct InterfaceRecombinationParameters {
  int interfaceNumber = 0;
  int defectNumber = 0;
  int type = DT_NEUTRAL;
  double sigma_nleft = 1e-19, sigma_nright = 1e-19, sigma_pleft = 1e-19, sigma_pright = 1e-19;  // [m^2]
  double N = 1e10;                                                                              // [/m^2] or [/m^2 eV]
  double secondN = 1e10;                                                                        // second density
  int tunneling = 0;                                                                            // "Tunneling to trap"
  double mh_rel = 1.0, me_rel = 1.0;
  int distribution = ED_SINGLE;
  double Ekar = 0.1;
  double spareReal = 0.0;
  double Et = 0.6;
  int reference = 3;  // 3 above highest EV, 4 below lowest EC, 5 above Ei left, 6 above Ei right, 7 above EV right
  double spareReal2 = 1.0;
  double peakToTotal = 1.0;

  bool operator==(const InterfaceRecombinationParameters&) const = default;
};

struct InterfaceParameters {
  int interfaceNumber = 0;
  std::array<InterfaceRecombinationParameters, MAXIFACEDEFECTS> ifr{};
  std::string interfacename;
  int intrabandTunneling = 0;
  double mh_rel = 1.0, me_rel = 1.0;
  int numberOfDefects = 0;

  bool operator==(const InterfaceParameters&) const = default;
};

struct MetaStableDefectParameters {
  int layerNumber = 0;
  int switchedOn = 0;
  double initialAcceptorConfiguration = 0.5;
  std::array<unsigned char, 5> givenEact{0, 0, 1, 0, 1};  // EE, HC, EC, HE, TR
  int metastabilityType = 0;
  int electronProcess = 0;
  int holeProcess = 0;
  double sigma_acc_n = 1e-19, sigma_acc_p = 1e-19, sigma_don_n = 1e-19, sigma_don_p = 1e-19;
  double Eact_EE = 0, Eact_HC = 0, Eact_EC = 0, Eact_HE = 0, Eact_TR = 0;
  int reference = 0;
  double phononFrequency = 5e12;  // [Hz]
  Profile Nt;                     // [1/m^3]
  int donorChargeState = 3;
  int donorDefect = -1;
  int acceptorDefect = -1;

  bool operator==(const MetaStableDefectParameters&) const = default;
};

inline constexpr int ABS_MODEL_AB = 0;
inline constexpr int ABS_MODEL_FILE = 1;

struct LayerParameters {
  std::string name;
  int layernumber = 0;
  double d = 2e-6;  // [m]
  Profile chi, Eg, eps, Nc, Nv, Nd, Na, mu_n, mu_p, me_rel, mh_rel, v_th_n, v_th_p, K_rad;
  int tunneling = 0;  // "Tunneling in layer"
  Profile c_n_auger, c_p_auger;
  Profile absorption;                 // absorption grading [nm]
  std::array<double, 2> A{1e7, 1e7};  // [/(m sqrt(eV))], pure A and pure B
  std::array<double, 2> B{0, 0};      // [sqrt(eV)/m]
  std::array<int, 2> absorptionModel{ABS_MODEL_AB, ABS_MODEL_AB};
  std::array<std::string, 2> absorptionFile;
  std::array<std::array<BulkRecombinationParameters, MAXLEVELS>, MAXBULKDEFECTS> srh{};
  int srhteller = 0;
  int compositionMode = 0;  // 20: uniformly pure B (law 10), 21: uniform y (law 11)
  int gradingType = 0;
  Profile composition;  // y(x)
  int initialised = 0;
  std::array<MetaStableDefectParameters, MAXMETATRANSITIONS> meta{};

  bool operator==(const LayerParameters&) const = default;
};

struct ContactParameters {
  double Fi_m = 5.0;  // [eV]
  double spareReal1 = 0.2, spareReal2 = 0.0;
  double Sn = 1e3, Sp = 1e5;  // [m/s]
  int flatband = 1;
  int recalculate = 1;
  int filterOn = 0;
  int wavelengthIndependent = 0;
  int filterKind = 1;  // 1 transmission, 0 reflection
  double filterValue = 0.0;
  std::string filterFile;
  int tunneling = 0;
  double mh_rel = 1.0, me_rel = 1.0;

  bool operator==(const ContactParameters&) const = default;
};

struct CellDefinition {
  std::array<LayerParameters, MAXLAYERS> layer{};
  std::array<InterfaceParameters, MAXINTERFACES> interface {};
  int numberOfLayers = 0;
  ContactParameters leftContact;
  ContactParameters rightContact;

  bool operator==(const CellDefinition&) const = default;
};

struct ConvergenceParameters {
  double clamp_psi = 0.5, clamp_p = 0.5, clamp_n = 0.5;
  int maxiter = 250;
  double termination_psi = 0.001, termination_Fn = 0.001, termination_Fp = 0.001;
  double termination_Meta_full = 0.001;
  int maxmetaiter_full = 250;
  int usemetaclamping = 0;
  double clamp_meta = 0.01;
  int defectdiscretisations = 7;
  int TunnelMassChoice = 0;
  // A tunnelling path counts only when the band rises more than this above its lowest energy
  // [kT]. Not a keyword of the definition file.
  double tunnelBarrierThreshold = 1.0;
  double widthtail = 7.0;
  double widthgauss = 6.0;
  // 1: a bias point at which the Gummel procedure fails is retried with a coupled Newton
  // iteration on the same equations; 0: the failure is reported at once.
  int coupledNewtonFallback = 1;
  // The check of a solution before it is accepted: the largest correction one coupled Newton
  // step would still make (ψ and both quasi-Fermi levels, in kT) and the largest relative
  // deviation of the total current along the mesh and of the sum of its parts (bulk,
  // interface and contact recombination minus generation) from it. A point that fails is not
  // converged.
  double acceptance_step = 0.05;
  double acceptance_current = 2e-3;
  // The smallest bias step [V] to which a failing step is halved before the point is given up.
  double minimum_bias_step = 1e-4;
  // How much of the recovery of failing points the run reports: 0 nothing, 1 a line per
  // recovery (status line and the run's report), 2 also every attempt that failed on the way.
  int recoveryLog = 1;

  bool operator==(const ConvergenceParameters&) const = default;
};

// Settings of the Mott-Schottky analysis, kept beside the cell.
struct MottSchottkySettings {
  double spareReal = 10.0;
  int sheetSide = 0;     // "epsilon of sheet side": -1 left, +1 right
  int sheetNumber = -1;  // "epsilon of sheet #"
  int numberOfPoints = 3;
  int orderMiddle = 2;
  int orderEdges = 1;
  std::array<int, 3> panelInts{0, 0, 1};

  bool operator==(const MottSchottkySettings&) const = default;
};

struct InputParameters {
  std::string fileName1;
  std::string fileName2;
  ConvergenceParameters convergence;
  CellDefinition cellParas;

  bool operator==(const InputParameters&) const = default;
};

// Numerical settings of the mesh panel stored in the definition file.
struct MeshSettings {
  int recalculateMesh = 0;
  double maxRatio = 1.5;
  double minRatio = 1.1;
  double generationLimit = 1.0;     // [microA/cm2]
  double recombinationLimit = 1.0;  // [microA/cm2]

  bool operator==(const MeshSettings&) const = default;
};

// QE-light settings stored in the definition file.
struct QELightSettings {
  int mode = 0;
  double numberOfPhotons = 1e18;  // [/m^2 s]
  double incidentPower = 1.0;     // [W/m^2]

  bool operator==(const QELightSettings&) const = default;
};

// The illumination and external-circuit items that the definition file carries.
struct DefinitionWorkPointItems {
  int illuminatedFromRight = 1;
  double Rfront = 0.0;
  double Tfront = 1.0;
  int RsPresent = 0;
  double Rs = 0.0;  // [Ohm m^2]
  int GshPresent = 0;
  double Gsh = 0.0;  // [S/m^2]

  bool operator==(const DefinitionWorkPointItems&) const = default;
};

// Everything a definition file holds besides the cell.
struct DefinitionExtras {
  std::vector<std::string> remarks;
  MottSchottkySettings mottSchottky;
  MeshSettings mesh;
  QELightSettings qe;
  DefinitionWorkPointItems workPoint;

  bool operator==(const DefinitionExtras&) const = default;
};

// ---- initialisation, copies, conversions ----
void InitialiseOpticalCaptureProperties(OpticalCaptureProperties& p);
void AllocateOpticalCaptureProperties(OpticalCaptureProperties& p, int n);
void CopyOpticalCaptureProperties(OpticalCaptureProperties& dst, const OpticalCaptureProperties& src);
void FreeOpticalCaptureProperties(OpticalCaptureProperties& p);

void InitialiseBulkRecombinationParameters(BulkRecombinationParameters& level, int layer, int defect);
void InitialiseInterfaceRecombinationParameters(InterfaceRecombinationParameters& d, int iface, int defect);
void InitialiseMetaStableDefectParameters(MetaStableDefectParameters& m, int layer);
void InitialiseLayerParameters(LayerParameters& layer, int index);
void InitialiseInterfaceParameters(InterfaceParameters& iface, int index);
void InitialiseContactParameters(ContactParameters& c, bool left);
void InitialiseCellDefinition(CellDefinition& cell);
void InitialiseConvergenceParameters(ConvergenceParameters& c, MottSchottkySettings& ms);
void InitialiseInputParameters(InputParameters& set, MottSchottkySettings& ms);
void InitialiseParameterset2(CellDefinition& zonnecel);

void CopyCellParameters(CellDefinition& dst, const CellDefinition& src);
void CopyBulkRecombinationParameters(BulkRecombinationParameters& dst, const BulkRecombinationParameters& src);
void CopyProfile(Profile& dst, const Profile& src);
void FreeCellDefinition(CellDefinition& cell);

// Set 1 (SI) to set 2 (practical units) and back.
void parameterset1_to_2(CellDefinition& set2, const InputParameters& set1);
void parameterset2_to_1(InputParameters& set1, CellDefinition set2);

// Peak-to-total factor of an energy distribution of width W = Ekar [1/eV].
double DeterminePeakToTotal(int distribution, double Ekar);

}  // namespace zoniq
