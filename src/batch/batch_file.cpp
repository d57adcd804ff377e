#include "batch/batch_file.hpp"

#include <algorithm>
#include <cmath>
#include <filesystem>
#include <optional>

#include "celldef/definition_file.hpp"
#include "common/format.hpp"
#include "common/paths.hpp"
#include "common/text.hpp"
#include "common/zoniq_paths.hpp"

namespace zoniq {

namespace {

std::size_t Idx(int i) { return static_cast<std::size_t>(i); }

bool FileExists(const std::string& path) {
  std::error_code ec;
  return std::filesystem::is_regular_file(NativePath(path), ec);
}

}  // namespace

// ---------------------------------------------------------------- writing

std::string BatchSettingsText(const BatchSetup& batch) {
  std::string out;
  if (batch.variationOfDefinitionFiles) {
    out += "variation of definition files : " + intw(1, 2) + "\n";
    out += "number of definition files : " + intw(static_cast<long>(batch.definitionFiles.size()), 3) + "\n";
    // The names as given: a file outside the "def" folder keeps its folder.
    for (std::size_t k = 0; k < batch.definitionFiles.size(); ++k)
      out += "definition filename " + intw(static_cast<long>(k), 3) + ":" + batch.definitionFiles[k] + "\n";
  }
  for (int i = 0; i < batch.numberOfParameters; ++i) {
    const BatchParameter& bp = batch.bp[Idx(i)];
    out += "\nBatch parameter " + intw(i, 1) + " :\n\n";
    for (int l = 1; l <= 4; ++l)
      out += "Label " + std::to_string(l) + " : " + BP_constantToBatchKeyWord(l, bp.label[Idx(l - 1)]) + "\n";
    out += "simultaneous : " + intw(bp.simultaneous, 2) + "\n";
    out += "values from a list : " + intw(bp.valuesFromList, 2) + "\n";
    if (bp.valuesFromList) {
      out += "values are file names : " + intw(bp.valuesAreFileNames, 2) + "\n";
      const bool files = bp.valuesAreFileNames != 0;
      const long count = static_cast<long>(files ? bp.fileNameList.size() : bp.valueList.size());
      out += std::string(files ? "number of file names : " : "number of parameters : ") + intw(count, 4) + "\n";
      out += std::string(files ? "list of filenames saved : " : "list of parameters saved : ") + intw(bp.listSaved, 2) +
             "\n";
      if (bp.listSaved) {
        out += "filepath : " + bp.filePath + "\n";
        out += "filename : " + bp.fileName + "\n";
      }
      for (long k = 0; k < count; ++k) {
        if (files)
          out += "file " + intw(k, 3) + ":" + bp.fileNameList[static_cast<std::size_t>(k)] + "\n";
        else
          out += "parameter " + intw(k, 3) + ": " + sci(bp.valueList[static_cast<std::size_t>(k)], 16, 8) + "\n";
      }
    } else {
      out += "startvalue : " + sci(bp.startValue, 16, 8) + "\n";
      out += "stopvalue : " + sci(bp.stopValue, 16, 8) + "\n";
      out += "number of steps : " + intw(bp.numberOfSteps, 4) + "\n";
      out += "logarithmic variation : " + intw(bp.logarithmic, 2) + "\n";
    }
  }
  return out;
}

int SaveBatchSettingsInFile(std::FILE* file, UserInterface& ui, const HeaderInfo& header, const BatchSetup& batch,
                            bool withHeader) {
  std::string out;
  if (withHeader && !WriteCommentLinesInFile(out, ui, header, "Batch Settings file")) return -1;
  out += BatchSettingsText(batch);
  if (std::fwrite(out.data(), 1, out.size(), file) != out.size() || std::fflush(file) != 0) return -1;
  return 0;
}

int SaveBatchSettingsToPath(const Environment& env, std::string_view name, const HeaderInfo& header,
                            const BatchSetup& batch) {
  std::string full;
  CheckZONIQPaths(env.programFolder, &full, nullptr, name, FK_BATCH);
  FilePtr f = OpenFile(NativePath(full), "wb");
  if (!f || SaveBatchSettingsInFile(f.get(), *env.ui, header, batch, true) != 0) {
    env.Error("Error whilst saving the batch settings", "The batch settings file cannot be written: " + full);
    return -1;
  }
  return 0;
}

// ---------------------------------------------------------------- reading

namespace {

enum class Key {
  kVariation,
  kNumberOfDefinitionFiles,
  kDefinitionFilename,
  kBatchParameter,
  kLabel1,
  kLabel2,
  kLabel3,
  kLabel4,
  kSimultaneous,
  kValuesFromList,
  kValuesAreFileNames,
  kNumberOfParameters,
  kListOfParametersSaved,
  kListOfFilenamesSaved,
  kLogarithmic,
  kStartValue,
  kStopValue,
  kNumberOfSteps,
  kNumberOfFileNames,
  kFilePath,
  kFileName,
  kParameter,
  kFile
};

struct KeyText {
  const char* text;
  Key key;
};

// Matched at the start of the line, the longest key first, so that "filepath :" is not "file"
// and "Batch parameter" is not "parameter".
std::vector<KeyText> SortedKeys() {
  std::vector<KeyText> keys = {{"variation of definition files :", Key::kVariation},
                               {"number of definition files :", Key::kNumberOfDefinitionFiles},
                               {"definition filename", Key::kDefinitionFilename},
                               {"Batch parameter", Key::kBatchParameter},
                               {"Label 1 :", Key::kLabel1},
                               {"Label 2 :", Key::kLabel2},
                               {"Label 3 :", Key::kLabel3},
                               {"Label 4 :", Key::kLabel4},
                               {"simultaneous :", Key::kSimultaneous},
                               {"values from a list :", Key::kValuesFromList},
                               {"values are file names :", Key::kValuesAreFileNames},
                               {"number of parameters :", Key::kNumberOfParameters},
                               {"list of parameters saved :", Key::kListOfParametersSaved},
                               {"list of filenames saved :", Key::kListOfFilenamesSaved},
                               {"logarithmic variation :", Key::kLogarithmic},
                               {"startvalue :", Key::kStartValue},
                               {"stopvalue :", Key::kStopValue},
                               {"number of steps :", Key::kNumberOfSteps},
                               {"number of file names :", Key::kNumberOfFileNames},
                               {"filepath :", Key::kFilePath},
                               {"filename :", Key::kFileName},
                               {"parameter", Key::kParameter},
                               {"file", Key::kFile}};
  std::stable_sort(keys.begin(), keys.end(), [](const KeyText& a, const KeyText& b) {
    return std::string_view(a.text).size() > std::string_view(b.text).size();
  });
  return keys;
}

class BatchParser {
 public:
  BatchParser(const Environment& env, const std::string& fileName) : env_(env), fileName_(fileName) {}

  int Parse(std::string_view text, BatchSetup& out) {
    static const std::vector<KeyText> keys = SortedKeys();
    BatchSetup b;
    declaredLists_.fill(-1);
    long lineNumber = 0;
    for (std::string_view raw : SplitLines(text)) {
      ++lineNumber;
      line_ = lineNumber;
      if (IsSettingsCommentLine(raw)) continue;
      const std::string_view line = TrimView(raw);
      const KeyText* found = nullptr;
      for (const KeyText& k : keys)
        if (StartsWithNoCase(line, k.text)) {
          found = &k;
          break;
        }
      if (!found) continue;  // lines of no key are ignored
      if (!Item(b, found->key, line, std::string_view(found->text).size())) return -1;
    }
    // The step count of a list is the number of entries read.
    for (int i = 0; i < b.numberOfParameters; ++i) {
      BatchParameter& bp = b.bp[Idx(i)];
      if (!bp.valuesFromList) continue;
      const int read = static_cast<int>(bp.valuesAreFileNames ? bp.fileNameList.size() : bp.valueList.size());
      if (read > 0 && declaredLists_[Idx(i)] >= 0 && read != declaredLists_[Idx(i)]) {
        Report(std::string("Batch parameter ") + std::to_string(i) + " announces " +
               std::to_string(declaredLists_[Idx(i)]) + " list entries but lists " + std::to_string(read));
        return -1;
      }
      bp.numberOfSteps = read > 0 ? read : std::max(declaredLists_[Idx(i)], 0);
    }
    if (b.variationOfDefinitionFiles && declaredFiles_ >= 0 &&
        declaredFiles_ != static_cast<int>(b.definitionFiles.size())) {
      line_ = 0;
      Report("The file announces " + std::to_string(declaredFiles_) + " definition files but lists " +
             std::to_string(b.definitionFiles.size()));
      return -1;
    }
    if (!b.variationOfDefinitionFiles) b.definitionFiles.clear();
    out = std::move(b);
    return 0;
  }

 private:
  void Report(const std::string& what) {
    std::string text = "Batch Settings File: " + fileName_ + "\n" + what;
    if (line_ > 0) text += " (line " + std::to_string(line_) + ")";
    env_.Error(kBatchReadTitle, text);
  }

  // A signed real after the first ':' with nothing but blanks after it.
  bool Real(std::string_view line, double& value) {
    const std::size_t colon = line.find(':');
    const std::string_view v = TrimView(colon == std::string_view::npos ? std::string_view{} : line.substr(colon + 1));
    bool finite = true;
    const std::size_t used = ScanNumberAt(v, value, finite);
    if (used == 0 || used != v.size() || !finite) {
      Report("Number not recognised: \"" + std::string(v) + "\"");
      return false;
    }
    return true;
  }
  bool Integer(std::string_view line, long long lo, long long hi, int& value) {
    double v = 0.0;
    if (!Real(line, v)) return false;
    if (v != std::floor(v) || v < static_cast<double>(lo) || v > static_cast<double>(hi)) {
      Report("Whole number from " + std::to_string(lo) + " to " + std::to_string(hi) + " expected: " + num(v));
      return false;
    }
    value = static_cast<int>(v);
    return true;
  }
  bool Flag(std::string_view line, int& value) { return Integer(line, 0, 1, value); }

  // The index written between a key and its ':' ("parameter   2:").
  bool IndexBeforeColon(std::string_view line, std::size_t keyLength, int expected) {
    const std::size_t colon = line.find(':');
    const std::string_view index =
        TrimView(line.substr(keyLength, colon == std::string_view::npos ? std::string_view::npos : colon - keyLength));
    double v = 0.0;
    bool finite = true;
    if (colon == std::string_view::npos || ScanNumberAt(index, v, finite) != index.size() || index.empty() ||
        v != expected) {
      Report("Entry " + std::to_string(expected) + " expected here: \"" + std::string(line) + "\"");
      return false;
    }
    return true;
  }

  bool Text(std::string_view line, std::string& value) {
    value = AfterColon(line);
    if (value.size() >= MAXFILENAME) {
      Report("Text longer than " + std::to_string(MAXFILENAME - 1) + " characters");
      return false;
    }
    return true;
  }

  BatchParameter* Current(BatchSetup& b) {
    if (skipping_) return nullptr;
    if (current_ < 0) {
      Report("A parameter item comes before any \"Batch parameter\" line and is ignored");
      return nullptr;
    }
    return &b.bp[Idx(current_)];
  }

  bool Item(BatchSetup& b, Key key, std::string_view line, std::size_t keyLength) {
    switch (key) {
      case Key::kVariation:
        return Flag(line, b.variationOfDefinitionFiles);
      case Key::kNumberOfDefinitionFiles:
        return Integer(line, 0, kMaxBatchListEntries, declaredFiles_);
      case Key::kDefinitionFilename: {
        if (!IndexBeforeColon(line, keyLength, static_cast<int>(b.definitionFiles.size()))) return false;
        std::string name;
        if (!Text(line, name)) return false;
        b.definitionFiles.push_back(name);
        return true;
      }
      case Key::kBatchParameter: {
        int i = 0;
        const std::string_view rest = TrimView(line.substr(keyLength));
        double v = 0.0;
        bool finite = true;
        const std::size_t used = ScanNumberAt(rest, v, finite);
        if (used == 0 || v != std::floor(v) || TrimView(rest.substr(used)) != ":") {
          Report("Parameter number not recognised: \"" + std::string(line) + "\"");
          return false;
        }
        if (v < 0 || v >= kMaxBatchParameters) {
          Report("Batch parameter " + num(v) + " does not exist (at most " + std::to_string(kMaxBatchParameters) +
                 " parameters, numbered from 0): its block is ignored");
          skipping_ = true;
          return true;
        }
        i = static_cast<int>(v);
        if (i != b.numberOfParameters) {
          Report("Batch parameter " + std::to_string(b.numberOfParameters) + " expected here instead of " +
                 std::to_string(i));
          return false;
        }
        skipping_ = false;
        current_ = i;
        b.bp[Idx(i)] = BatchParameter{};
        b.numberOfParameters = i + 1;
        return true;
      }
      default:
        break;
    }
    BatchParameter* bp = Current(b);
    if (!bp) return true;  // reported (or inside an ignored block)
    switch (key) {
      case Key::kLabel1:
      case Key::kLabel2:
      case Key::kLabel3:
      case Key::kLabel4: {
        const int l = static_cast<int>(key) - static_cast<int>(Key::kLabel1) + 1;
        const std::size_t colon = line.find(':');
        const std::string_view text = line.substr(colon + 1);
        const int code = BatchKeyWordToBP_constant(l, text);
        if (code == -2) {
          Report("Label " + std::to_string(l) + " not recognised: \"" + std::string(TrimView(text)) + "\"");
          return false;
        }
        bp->label[Idx(l - 1)] = code;
        return true;
      }
      case Key::kSimultaneous:
        return Flag(line, bp->simultaneous);
      case Key::kValuesFromList:
        return Flag(line, bp->valuesFromList);
      case Key::kValuesAreFileNames:
        return Flag(line, bp->valuesAreFileNames);
      case Key::kListOfParametersSaved:
      case Key::kListOfFilenamesSaved:
        return Flag(line, bp->listSaved);
      case Key::kLogarithmic:
        return Flag(line, bp->logarithmic);
      case Key::kStartValue:
        return Real(line, bp->startValue);
      case Key::kStopValue:
        return Real(line, bp->stopValue);
      case Key::kNumberOfSteps:
        return Integer(line, 1, kMaxBatchSteps, bp->numberOfSteps);
      case Key::kNumberOfParameters:
      case Key::kNumberOfFileNames:
        return Integer(line, 0, kMaxBatchListEntries, declaredLists_[Idx(current_)]);
      case Key::kFilePath:
        return Text(line, bp->filePath);
      case Key::kFileName:
        return Text(line, bp->fileName);
      case Key::kParameter: {
        if (!IndexBeforeColon(line, keyLength, static_cast<int>(bp->valueList.size()))) return false;
        if (bp->valueList.size() >= static_cast<std::size_t>(kMaxBatchListEntries)) {
          Report("More than " + std::to_string(kMaxBatchListEntries) + " list values");
          return false;
        }
        double v = 0.0;
        if (!Real(line, v)) return false;
        bp->valueList.push_back(v);
        return true;
      }
      case Key::kFile: {
        if (!IndexBeforeColon(line, keyLength, static_cast<int>(bp->fileNameList.size()))) return false;
        if (bp->fileNameList.size() >= static_cast<std::size_t>(kMaxBatchListEntries)) {
          Report("More than " + std::to_string(kMaxBatchListEntries) + " list files");
          return false;
        }
        std::string name;
        if (!Text(line, name)) return false;
        bp->fileNameList.push_back(name);
        return true;
      }
      default:
        return true;
    }
  }

  const Environment& env_;
  const std::string& fileName_;
  long line_ = 0;
  int current_ = -1;
  bool skipping_ = false;
  int declaredFiles_ = -1;
  std::array<int, kMaxBatchParameters> declaredLists_{};
};

}  // namespace

int ParseBatchSettings(const Environment& env, std::string_view text, const std::string& fileName, BatchSetup& out) {
  BatchParser parser(env, fileName);
  return parser.Parse(text, out);
}

// ---------------------------------------------------------------- list files

int ReadBDFValues(const Environment& env, const std::string& path, std::vector<double>& values) {
  constexpr const char* kTitle = "Error from ReadBDF() during reading of a parameter value list";
  values.clear();
  if (path.empty()) return env.Error(kTitle, "Filename empty"), -1;
  const std::optional<std::string> text = ReadWholeTextFile(path);
  if (!text) return env.Error(kTitle, "File not found: " + path), -1;
  long lineNumber = 0;
  for (std::string_view line : SplitLines(*text)) {
    ++lineNumber;
    const std::string_view t = TrimView(line);
    double v = 0.0;
    bool finite = true;
    const std::size_t used = ScanNumberAt(t, v, finite);
    if (used == 0) continue;  // not a value line
    if (!finite || TrimView(t.substr(used)).size() != 0) {
      env.Error(kTitle, "Value not recognised in " + path + " (line " + std::to_string(lineNumber) + "): \"" +
                            std::string(t) + "\"");
      return -1;
    }
    if (values.size() == static_cast<std::size_t>(kMaxBatchListEntries)) {
      env.Error(kTitle, "The file " + path + " holds more than " + std::to_string(kMaxBatchListEntries) +
                            " values; the list is cut at line " + std::to_string(lineNumber));
      break;
    }
    values.push_back(v);
  }
  if (values.empty()) return env.Error(kTitle, "The file contains no parameter values"), -1;
  return static_cast<int>(values.size());
}

int ReadBDFFileNames(const Environment& env, const std::string& path, const char* title,
                     std::vector<std::string>& names) {
  names.clear();
  if (path.empty()) return env.Error(title, "Filename empty"), -1;
  const std::optional<std::string> text = ReadWholeTextFile(path);
  if (!text) return env.Error(title, "File not found: " + path), -1;
  long lineNumber = 0;
  for (std::string_view line : SplitLines(*text)) {
    ++lineNumber;
    const std::string_view t = TrimView(line);
    if (!StartsWithNoCase(t, "file:")) continue;
    const std::string name = Trim(t.substr(5));
    if (name.empty()) continue;
    if (name.size() >= MAXFILENAME) {
      env.Error(title, "File name longer than " + std::to_string(MAXFILENAME - 1) + " characters in " + path +
                           " (line " + std::to_string(lineNumber) + ")");
      return -1;
    }
    if (names.size() == static_cast<std::size_t>(kMaxBatchListEntries)) {
      env.Error(title, "The file " + path + " holds more than " + std::to_string(kMaxBatchListEntries) +
                           " file names; the list is cut at line " + std::to_string(lineNumber));
      break;
    }
    names.push_back(name);
  }
  if (names.empty()) return env.Error(title, "The file contains no filenames"), -1;
  return static_cast<int>(names.size());
}

// The whole text of a file (binary, so that CR LF line ends reach the line splitter), or nothing.
std::optional<std::string> ReadWholeTextFile(const std::string& path) {
  FilePtr f = OpenFile(NativePath(path), "rb");
  if (!f) return std::nullopt;
  std::string text;
  char buffer[4096];
  std::size_t n = 0;
  while ((n = std::fread(buffer, 1, sizeof buffer, f.get())) > 0) text.append(buffer, n);
  if (std::ferror(f.get())) return std::nullopt;
  return text;
}

// Splits text into lines (LF or CR LF).
std::vector<std::string_view> SplitLines(std::string_view text) {
  std::vector<std::string_view> lines;
  std::size_t start = 0;
  while (start < text.size()) {
    std::size_t end = text.find('\n', start);
    if (end == std::string_view::npos) end = text.size();
    std::string_view line = text.substr(start, end - start);
    if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
    lines.push_back(line);
    start = end + 1;
  }
  return lines;
}

bool IsSettingsCommentLine(std::string_view line) {
  const std::string_view t = TrimView(line);
  return t.empty() || std::string_view(">*!/\\<").find(t.front()) != std::string_view::npos;
}

int ReadBatchDefinitionFile(const Environment& env, const std::string& name, CellState& cell) {
  std::string full;
  CheckZONIQPaths(env.programFolder, &full, nullptr, name, FK_DEF);
  CellState fresh;
  InitialiseInputParameters(fresh.parameterset1, fresh.mottSchottky);
  if (lees_structuurfile(env, NativePath(full), fresh.parameterset1, fresh.mottSchottky, fresh.definitionExtras) < 0)
    return -1;
  parameterset1_to_2(fresh.zonnecel, fresh.parameterset1);
  fresh.problemName = full;
  cell = std::move(fresh);
  return 0;
}

// ---------------------------------------------------------------- loading a batch

int SetBatchFromText(const Environment& env, std::string_view text, const std::string& fileName,
                     const CellDefinition& cell, BatchSetup& theBatch) {
  BatchSetup b;
  if (ParseBatchSettings(env, text, fileName, b) != 0) return -1;
  const std::string header = "Batch Settings File: " + fileName;

  // Definition files: those that exist, at least two.
  std::vector<CellState> cells;
  if (b.variationOfDefinitionFiles) {
    std::vector<std::string> kept;
    for (const std::string& name : b.definitionFiles) {
      std::string full;
      CheckZONIQPaths(env.programFolder, &full, nullptr, name, FK_DEF);
      if (!FileExists(full)) {
        env.Error(kBatchReadTitle, header + "\nDefinition file not found: " + full + "\nDefinition file discarded");
        continue;
      }
      CellState c;
      if (ReadBatchDefinitionFile(env, name, c) != 0) {
        env.Error(kBatchReadTitle,
                  header + "\nDefinition file cannot be read: " + full + "\nDefinition file discarded");
        continue;
      }
      kept.push_back(name);
      cells.push_back(std::move(c));
    }
    b.definitionFiles = kept;
    if (kept.size() < 2) {
      env.Error(kBatchReadTitle, header + "\nOnly " + std::to_string(kept.size()) +
                                     " existing definition files found (should be >= 2)" +
                                     "\nVariation of definition files is disabled in the batch set-up");
      b.variationOfDefinitionFiles = 0;
      b.definitionFiles.clear();
      cells.clear();
    }
  }

  // Lists kept in list files that the settings file does not repeat.
  BatchSetup checked = b;
  checked.numberOfParameters = 0;
  for (int i = 0; i < b.numberOfParameters; ++i) {
    BatchParameter bp = b.bp[Idx(i)];
    bool keep = true;
    if (bp.valuesFromList && bp.listSaved && bp.valueList.empty() && bp.fileNameList.empty()) {
      const std::string path = JoinPath(bp.filePath, bp.fileName);
      std::string full;
      CheckZONIQPaths(env.programFolder, &full, nullptr, path, FK_BDF);
      const int n =
          bp.valuesAreFileNames
              ? ReadBDFFileNames(env, full, "Error from ReadBDF() during reading of a parameter file name list",
                                 bp.fileNameList)
              : ReadBDFValues(env, full, bp.valueList);
      if (n < 0) {
        env.Error(kBatchReadTitle, header +
                                       "\nBatch parameter file (list of values or list of filenames) not found:\n" +
                                       full + "\nBdf file discarded");
        keep = false;
      } else {
        bp.numberOfSteps = n;
      }
    }
    // Every cell of the batch must have what the labels name.
    if (keep) {
      std::string why;
      BatchTarget target;
      const auto available = [&](const CellDefinition& c) { return ResolveBatchParameter(c, bp, target, why); };
      bool ok = cells.empty() ? available(cell) : true;
      for (const CellState& c : cells) ok = ok && available(c.zonnecel);
      if (!ok) {
        std::string labels;
        for (int l = 1; l <= 4; ++l)
          labels += (l > 1 ? "; \"" : "\"") +
                    std::string(TrimView(BP_constantToBatchKeyWord(l, bp.label[Idx(l - 1)]))) + "\"";
        env.Error(kBatchReadTitle, header + "\nBatch parameter " + std::to_string(i) +
                                       " not available with actual definitionfile(s) or action list" +
                                       "\nBatch parameter properties: " + labels + "\n" + why +
                                       "\nBatch parameter discarded");
        keep = false;
      }
    }
    if (!keep) continue;
    checked.bp[Idx(checked.numberOfParameters++)] = bp;
  }
  for (int i = checked.numberOfParameters; i < kMaxBatchParameters; ++i) checked.bp[Idx(i)] = BatchParameter{};

  long long steps = 0;
  std::string why;
  if (!CountBatchSteps(checked, steps, why)) {
    env.Error(kBatchReadTitle, header + "\n" + why + "\nThe batch settings were not loaded");
    return -1;
  }
  for (int i = 0; i < checked.numberOfParameters; ++i) {
    const BatchParameter& bp = checked.bp[Idx(i)];
    if (!bp.valuesFromList && bp.logarithmic && bp.numberOfSteps > 1 && (bp.startValue <= 0 || bp.stopValue <= 0)) {
      env.Error(kBatchReadTitle, header + "\nBatch parameter " + std::to_string(i) +
                                     ": For logarithmic intervals the start and end value have to be larger than "
                                     "zero!\nThe batch settings were not loaded");
      return -1;
    }
  }
  checked.numberOfSteps = steps;
  theBatch = std::move(checked);
  return 0;
}

int SetBatchFromFile(const Environment& env, std::string_view name, const CellDefinition& cell, BatchSetup& theBatch,
                     std::string* fullPath) {
  std::string full;
  CheckZONIQPaths(env.programFolder, &full, nullptr, name, FK_BATCH);
  if (fullPath) *fullPath = full;
  const std::optional<std::string> text = FileExists(full) ? ReadWholeTextFile(full) : std::nullopt;
  if (!text) {
    env.Error("Error whilst setting the batch: SetBatchFromFile()", "Batch Settings File not found:\n   " + full);
    return -1;
  }
  return SetBatchFromText(env, *text, full, cell, theBatch);
}

}  // namespace zoniq
