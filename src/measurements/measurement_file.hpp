// Measured I-V, C-V, C-f and QE curves read from text files: the program's own result files,
// files of a measurement set-up that open with the marker word "KVX", and any other text file
// whose header names the cell area, temperature, light, frequency, bias and column units by
// keyword. Everything that is not data is skipped; the columns are converted into the units in
// which the program draws and compares curves.
#pragma once

#include <array>
#include <optional>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

namespace zoniq {

// Measurement kinds, in the order of the kind numbers.
enum MeasurementKind { kMeasurementQE = 0, kMeasurementIV = 1, kMeasurementCV = 2, kMeasurementCf = 3 };
inline constexpr int kMeasurementKinds = 4;
// The longest sweep the program writes has 2001 points; a measurement may have as many.
inline constexpr int kMaxMeasurementPoints = 2001;
// Columns read from a data line.
inline constexpr int kMeasurementColumns = 5;

struct IVMeasurement {
  std::vector<double> V;          // [V]
  std::vector<double> J;          // [mA/cm²]
  double incidentPower = 1000.0;  // [W/m²]
  int dark = 0;
};

struct CVMeasurement {
  std::vector<double> V;      // [V]
  std::vector<double> C;      // [nF/cm²]
  std::vector<double> G;      // [S/cm²]
  std::vector<double> invC2;  // 1/C² [(nF/cm²)⁻²]
  std::vector<double> W;      // depletion width [µm]
  std::vector<double> Napp;   // apparent doping [cm⁻³]
  double frequency = 1e6;     // [Hz]
};

struct CfMeasurement {
  std::vector<double> f;    // [Hz]
  std::vector<double> C;    // [nF/cm²]
  std::vector<double> G;    // [S/cm²]
  std::vector<double> Gw;   // G/ω [F/cm²]
  std::vector<double> ReZ;  // [Ω·cm²]
  std::vector<double> ImZ;  // [Ω·cm²]
  // Filled by the admittance analysis of the curve, not by the reader.
  std::vector<double> Nt, Et, derivative;
  double bias = 0.0;  // [V]
};

struct QEMeasurement {
  std::vector<double> lambda;      // [nm]
  std::vector<double> hv;          // photon energy [eV]
  std::vector<double> QE;          // [%]
  std::vector<double> absQE;       // |QE| [%]
  double bias = 0.0;               // [V]
  double biasLightPower = 1000.0;  // [W/m²]
  int noBiasLight = 0;
};

// One loaded measurement. The alternative held is that of `kind` (QE, I-V, C-V, C-f).
struct MeasurementItem {
  std::string fileName;
  int nPoints = 0;
  int valid = 0;  // 1 when at least one point was read
  int kind = kMeasurementIV;
  double area = 1.0;           // [cm²]
  double temperature = 300.0;  // [K]
  std::variant<QEMeasurement, IVMeasurement, CVMeasurement, CfMeasurement> data;
  // The factor that turns the value of column k into SI units.
  std::array<double, kMeasurementColumns> u{1, 1, 1, 1, 1};
};

// A message for the user that does not stop the reading (the point cap).
struct MeasurementNotice {
  std::string title, message;
};

// What a reader gives: the value, or why there is none ("<file>, line <n>: ..." where a line is
// at fault), and the notices to show either way.
template <class T>
struct ReadResult {
  std::optional<T> value;
  std::string error;
  std::vector<MeasurementNotice> notices;
  bool ok() const { return value.has_value(); }
};

// File types of the first line: 0 the program's own ("ZONIQ"), 1 "KVX", 2 "SPECTRUM", 3 other.
enum MeasurementFileType { kOwnFile = 0, kKvxFile = 1, kSpectrumFile = 2, kOtherFile = 3 };
int bepaal_filetype(std::string_view firstLine);
// The type of a file by its first line (at most 100 characters); -1 when it cannot be opened.
int bepaal_filetype_of_file(const std::string& path);

// Reads one measurement file of the given kind. Fails when the file cannot be opened, holds a
// header value it cannot take (an unknown unit, an area that is not positive, a number running
// into text) or holds no data point; an earlier list is then left alone by the caller.
ReadResult<MeasurementItem> ConstructMeasurementListItem(const std::string& fileName, int kind);

// The curve a fit of type `fitType` (1..20: odd in the dark, even under light; 1-2 I(V),
// 3-4 C (V), 5-6 G (V), 7-8 M-S, 9-10 C (f), 11-12 G (f), 13-14 G(f)/f, 15-16 Z-plot, 17-18
// QE(l), 19-20 QE(hv)) compares with its simulation, read from a measurement file: abscissa,
// ordinate and a weight of 1 per point, in the units of the simulated curves (J in mA/cm²,
// C in nF/cm², G in S/cm², 1/C² in (nF/cm²)⁻², G/ω in F/cm², Z in Ω·cm², QE in %, against V,
// Hz, nm or eV). Points whose quantity the file does not hold are left out; a file without any
// is an error.
struct FitCurve {
  std::vector<double> x, y, weight;
};
ReadResult<FitCurve> ReadFitMeasurement(const std::string& fileName, int fitType);
// The measurement kind a fit type reads (-1 for a code outside 1..20).
int MeasurementKindOfFitType(int fitType);

// ---- the pieces of the reader, for its tests ----

// True when the line begins with two reals (separated by blanks, tabs, ',' or ';').
bool CanBeData(std::string_view line);
// The factor of a unit's decimal prefix ("mV" 1e-3, "%" 0.01, "µA" 1e-6, "m" alone 1).
double decimal_prefix(std::string_view unit);
// Removes the first occurrence of `pattern` from `text`; 1 when it was there, else 0.
int CutAwayFromString(std::string& text, std::string_view pattern);

// The header tests. Each returns nullopt when the line is not of its kind; a line of its kind
// that cannot be taken sets `problem`.
std::optional<double> IsArea(std::string_view line, std::string* problem);         // [cm²]
std::optional<double> IsTemperature(std::string_view line, std::string* problem);  // [K]
// For foreign files: the column factors named on a "units" line; false when not such a line.
bool IsUnits(std::string_view line, int kind, std::array<double, kMeasurementColumns>& u);
// Incident (or, with `biasLight`, bias-light) power [W/m²].
std::optional<double> IsIncomingPower(std::string_view line, bool biasLight, std::string* problem);
bool IsDark(std::string_view line, int fileType);
std::optional<double> IsMeasurementFrequency(std::string_view line, std::string* problem);  // [Hz]
std::optional<double> IsBiasVoltage(std::string_view line, std::string* problem);           // [V]

}  // namespace zoniq
