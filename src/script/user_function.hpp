// The user function of the script's "rundll" command: an optional shared library, loaded at
// run time, with the one C entry
//
//   int ZONIQUserFunction(int mode, double* xvalue, double* yvalue, double* vectors[6],
//                         int n[6], double* looperror, char* defaultfilename);
//
// It receives the script's mode, the addresses of xvalue and yvalue, the six vector arrays
// with their element counts (x, y, z, u, v, w), the address of looperror and the default file
// name (a buffer of 260 characters). It may change the values, the vectors' elements,
// looperror and the file name in place; it must not change the counts. Its result is the
// script's status.
//
// The library is the file named by the script state's path when given, else by the
// environment variable ZONIQ_USER_FUNCTION, else "libZoniqUserFunction.so" in the program
// folder.
#pragma once

#include <memory>
#include <string>

namespace zoniq {

struct ScriptVariables;

inline constexpr const char* kUserFunctionLibraryName = "libZoniqUserFunction.so";
inline constexpr const char* kUserFunctionEntry = "ZONIQUserFunction";
inline constexpr const char* kUserFunctionEnvironment = "ZONIQ_USER_FUNCTION";

using ZONIQUserFunctionType = int (*)(int, double*, double*, double**, int*, double*, char*);

class UserFunctionLibrary {
 public:
  // Opens the library at `path` and looks up the entry; `error` tells why when it fails.
  static std::unique_ptr<UserFunctionLibrary> Open(const std::string& path, std::string& error);
  ~UserFunctionLibrary();
  UserFunctionLibrary(const UserFunctionLibrary&) = delete;
  UserFunctionLibrary& operator=(const UserFunctionLibrary&) = delete;

  const std::string& path() const { return path_; }
  // Calls the function on the script variables and returns its result.
  int Call(ScriptVariables& theScript) const;

 private:
  UserFunctionLibrary(void* handle, ZONIQUserFunctionType function, std::string path)
      : handle_(handle), function_(function), path_(std::move(path)) {}
  void* handle_;
  ZONIQUserFunctionType function_;
  std::string path_;
};

// The library file to use: `configured` when not empty, else $ZONIQ_USER_FUNCTION when set,
// else the library name in the program folder.
std::string UserFunctionLibraryPath(const std::string& configured, const std::string& programFolder);

}  // namespace zoniq
