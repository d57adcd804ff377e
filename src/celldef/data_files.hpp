// Two-column data files (grading, absorption, optical-capture, spectrum, filter and
// generation files) and one-column list files: every line that starts with two numbers
// (one for list files) is a point, everything else is a header or comment and is skipped.
#pragma once

#include <string>
#include <vector>

#include "ui/error_message.hpp"

namespace zoniq {

// Most data lines read from one file; generation files hold at most 2000.
inline constexpr int kMaxDataLines = 2500;
inline constexpr int kMaxGenerationLines = 2000;

// The number of data lines a file of `kind` may hold (2000 for generation files).
int MaxDataLines(int kind);

// Reads the points of the data file `name` (a bare name is looked for in the standard
// sub-folder of its kind). Returns the number of points read (at most MaxDataLines(kind)),
// or -1 when the file cannot be opened or read ("Error occured during opening file: " + path
// + " !" with the system's error text) or holds no data line ("File contains no useful
// information."). Generation files (kind 4) have their first column converted from µm to m;
// list files (kind 6) hold one number per line, and `y` then receives zeros. Non-finite
// numbers (NaN, Inf, 1e999) make a line a non-data line. On failure `x` and `y` are left as
// they were.
int lees_file(const std::string& name, std::vector<double>& x, std::vector<double>& y, int kind,
              const Environment& env);

// The number of data lines of the file (all of them, so that callers can reject files
// with too many), or -1 with the same messages as lees_file.
int tel_lijnen_in_file(const std::string& name, int kind, const Environment& env);

// lees_file with the messages sent to `env` only when `report` is set (for callers that
// read the same file repeatedly and have reported its faults once already).
int ReadDataFile(const std::string& name, std::vector<double>& x, std::vector<double>& y, int kind,
                 const Environment& env, bool report);

// Index of the first abscissa that is not larger than the one before it, or -1 when the
// abscissae rise strictly.
int FirstUnsortedIndex(const std::vector<double>& x);

}  // namespace zoniq
