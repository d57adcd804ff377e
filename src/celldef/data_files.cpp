#include "celldef/data_files.hpp"

#include <cerrno>
#include <cstring>

#include "common/paths.hpp"
#include "common/text.hpp"
#include "common/zoniq_paths.hpp"

namespace zoniq {

namespace {

constexpr int kListKind = 6;  // one number per line
constexpr int kGenerationKind = 4;
constexpr double kMicrometre = 1e-6;  // [m]

// Walks the data lines of a file. `onPoint(x, y)` returns false to stop early. Returns the
// number of data lines seen, or -1 after reporting (when `report`) why the file could not be
// used.
template <typename OnPoint>
int ScanDataFile(const std::string& name, int kind, const Environment& env, bool report, OnPoint onPoint) {
  std::string path = name;
  MakeFullPath(env.programFolder, path, kind);
  errno = 0;
  FilePtr file = OpenFile(NativePath(path), "r");
  if (!file) {
    const int err = errno;
    if (report)
      env.Error("Error occured during opening file: " + path + " !",
                err ? std::strerror(err) : "The file cannot be opened.");
    return -1;
  }
  LineReader reader(file.get());
  std::string line;
  int count = 0;
  for (;;) {
    errno = 0;
    const LineReader::Status status = reader.Next(line);
    if (status == LineReader::Status::kEnd) break;
    if (status == LineReader::Status::kError) {
      // e.g. a folder given as a file: it opens, but cannot be read
      const int err = errno;
      if (report)
        env.Error("Error occured during opening file: " + path + " !",
                  err ? std::strerror(err) : "The file cannot be read.");
      return -1;
    }
    double a = 0.0, b = 0.0;
    const bool isData = kind == kListKind ? ParseOneColumn(line, a) : ParseTwoColumns(line, a, b);
    if (!isData) {
      if (kind != kListKind && LooksLikeTwoColumns(line)) {
        if (report)
          env.Error("Error whilst reading " + path, "Line " + std::to_string(reader.lineNumber()) + ": '" +
                                                        Trim(line).substr(0, 60) +
                                                        "' is not two numbers: text follows the digits of a number.");
        return -1;
      }
      continue;
    }
    ++count;
    if (!onPoint(a, b)) break;
  }
  if (count == 0) {
    if (report) env.Error("Error whilst reading " + path, "File contains no useful information.");
    return -1;
  }
  return count;
}

}  // namespace

int MaxDataLines(int kind) { return kind == kGenerationKind ? kMaxGenerationLines : kMaxDataLines; }

int ReadDataFile(const std::string& name, std::vector<double>& x, std::vector<double>& y, int kind,
                 const Environment& env, bool report) {
  const std::size_t limit = static_cast<std::size_t>(MaxDataLines(kind));
  std::vector<double> xs, ys;
  const int seen = ScanDataFile(name, kind, env, report, [&](double a, double b) {
    xs.push_back(kind == kGenerationKind ? a * kMicrometre : a);
    ys.push_back(b);
    return xs.size() < limit;
  });
  if (seen < 0) return -1;
  x = std::move(xs);
  y = std::move(ys);
  return static_cast<int>(x.size());
}

int lees_file(const std::string& name, std::vector<double>& x, std::vector<double>& y, int kind,
              const Environment& env) {
  return ReadDataFile(name, x, y, kind, env, true);
}

int tel_lijnen_in_file(const std::string& name, int kind, const Environment& env) {
  return ScanDataFile(name, kind, env, true, [](double, double) { return true; });
}

int FirstUnsortedIndex(const std::vector<double>& x) {
  for (std::size_t i = 1; i < x.size(); ++i)
    if (!(x[i] > x[i - 1])) return static_cast<int>(i);
  return -1;
}

}  // namespace zoniq
