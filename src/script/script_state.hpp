// The script's long-lived state: six scalar values, six integer indices and six vectors
// addressed by the letters x, y, z, u, v, w, the loop fields, and what a script run keeps
// besides (its plot list, the header of the files it writes, the user-function library).
#pragma once

#include <array>
#include <cstddef>
#include <iosfwd>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

namespace zoniq {

inline constexpr int kScriptSlots = 6;
inline constexpr std::size_t kScriptTextLength = 259;  // names and the default file name
// Longest vector a script may build. Curves of the program are at most a few thousand points;
// the bound keeps a runaway script (a doubling "push" in a loop) from taking all memory.
inline constexpr std::size_t kMaxScriptVectorLength = 100000;
// Points kept by the script's plot list, summed over its curves.
inline constexpr std::size_t kMaxScriptPlotPoints = 1000000;

// The six vector names in slot order: "xvector", "yvector", "zvector", "uvector", "vvector",
// "wvector".
extern const std::array<const char*, kScriptSlots> SCRname;

// The script variables (`theScript`).
struct ScriptVariables {
  int status = 0;       // result of the last user-function call
  int mode = 0;         // free integer for the script
  int loopcounter = 0;  // completed loop passes
  int maxiteration = 25;
  std::array<int, kScriptSlots> n{3, 3, 3, 3, 3, 3};  // elements of each vector
  std::array<int, kScriptSlots> index{};
  std::array<double, kScriptSlots> value{};
  std::array<std::vector<double>, kScriptSlots> vector{std::vector<double>(3), std::vector<double>(3),
                                                       std::vector<double>(3), std::vector<double>(3),
                                                       std::vector<double>(3), std::vector<double>(3)};
  double looperror = 1e30;
  double maxerror = 0.001;
  std::string defaultfilename = "defaultfilename";
  std::array<std::string, kScriptSlots> name{"xvector", "yvector", "zvector", "uvector", "vvector", "wvector"};

  // Replaces vector c (n follows). The caller keeps to kMaxScriptVectorLength.
  void SetVector(int c, std::vector<double> data) {
    vector[c] = std::move(data);
    n[c] = static_cast<int>(vector[c].size());
  }
};

// Resets every field to its initial value.
void InitialiseScriptVariables(ScriptVariables& theScript);

// The slot of a script letter (x y z u v w, either case); -1 for any other character.
int GetSCRmode(char letter);
// The slots of the first k letters of `word`: true only when the word has at least k
// characters and all k are script letters (k >= 0).
bool checkMathValue(std::string_view word, int k, std::array<int, kScriptSlots>& slots);

// One curve of the script graph: a copy of the two vectors as they were when plotted.
struct ScriptPlot {
  int xSlot = -1;  // abscissa letter; -1 = the element index
  int ySlot = 0;
  std::string xName, yName;  // display names at the time of plotting
  std::string plotName;      // "<y name> vs. <x name>"
  std::vector<double> x, y;
  bool checked = true;  // a graphical front end lets the user hide curves
};

class UserFunctionLibrary;  // the optional shared library of "rundll"

// What one session keeps for its scripts.
struct ScriptState {
  ScriptState();
  ~ScriptState();
  ScriptState(const ScriptState&) = delete;
  ScriptState& operator=(const ScriptState&) = delete;

  ScriptVariables theScript;
  std::vector<ScriptPlot> scriptPlots;  // the script graph
  int scriptDepth = 0;                  // nesting of running scripts

  // Where "show" prints the script variables in a run without panels; null = standard output.
  std::ostream* scriptShowOutput = nullptr;
  // The user-function library: this file when not empty, else $ZONIQ_USER_FUNCTION, else
  // "libZoniqUserFunction.so" in the program folder.
  std::string userFunctionLibraryPath;
  std::unique_ptr<UserFunctionLibrary> userFunctionLibrary;  // loaded on first use

  // Safety switches for untrusted scripts (fuzzing): operating-system commands and the user
  // function are refused, simulations are not run, a run stops after this many command lines
  // (negative = no limit), and files named with a folder are not written.
  bool allowSystemCommands = true;
  bool allowUserFunction = true;
  bool stubSimulations = false;
  long lineBudget = -1;
  // Untrusted scripts write files only into the sub-folders of the program folder.
  bool writeOnlyInProgramFolder = false;
};

}  // namespace zoniq
