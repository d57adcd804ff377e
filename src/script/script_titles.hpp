// Internal to the script commands: the titles their error messages carry and the check that an
// optional part of the program (batches, curve fitting) is present in this run.
#pragma once

#include <cmath>
#include <string>
#include <string_view>

#include "script/script_interpreter.hpp"

namespace zoniq::script_titles {

inline constexpr const char* kLoadTitle = "Error whilst processing load command in script";
inline constexpr const char* kSaveTitle = "Error whilst processing save command in script";
inline constexpr const char* kSetTitle = "Error whilst processing set command in script";
inline constexpr const char* kGetTitle = "Script get command";

inline std::string S(std::string_view v) { return std::string(v); }

// True when `present`; else reports that `what` is not available and returns false.
inline bool Available(const ScriptContext& ctx, bool present, const char* title, std::string_view line,
                      std::string_view what) {
  if (present) return true;
  ctx.env().Error(
      title, "Script command: " + std::string(line) + "\n" + std::string(what) + " not available in this run of ZONIQ");
  return false;
}

inline bool BatchAvailable(const ScriptContext& ctx, const char* title, std::string_view line) {
  return Available(ctx, ctx.batch != nullptr, title, line, "Batches are");
}
inline bool FitAvailable(const ScriptContext& ctx, const char* title, std::string_view line) {
  return Available(ctx, ctx.fit != nullptr, title, line, "Curve fitting is");
}

// True when `v` is a whole number from `lo` to `hi`; else reported as a set command's error.
inline bool WholeInRange(const Environment& env, double v, double lo, double hi, std::string_view line) {
  if (v == std::floor(v) && v >= lo && v <= hi) return true;
  env.Error(kSetTitle, "Script command: " + std::string(line) + "\nValue not recognised as a whole number from " +
                           std::to_string(static_cast<long long>(lo)) + " to " +
                           std::to_string(static_cast<long long>(hi)));
  return false;
}

}  // namespace zoniq::script_titles
