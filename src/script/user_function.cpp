#include "script/user_function.hpp"

#include <dlfcn.h>

#include <array>
#include <cstdlib>
#include <cstring>
#include <memory>

#include "common/paths.hpp"
#include "script/script_state.hpp"

namespace zoniq {

std::unique_ptr<UserFunctionLibrary> UserFunctionLibrary::Open(const std::string& path, std::string& error) {
  void* handle = ::dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
  if (!handle) {
    const char* why = ::dlerror();
    error = why ? why : "the library cannot be loaded";
    return nullptr;
  }
  void* entry = ::dlsym(handle, kUserFunctionEntry);
  if (!entry) {
    error = std::string("the library has no function ") + kUserFunctionEntry;
    ::dlclose(handle);
    return nullptr;
  }
  ZONIQUserFunctionType function = nullptr;
  static_assert(sizeof function == sizeof entry);
  std::memcpy(&function, &entry, sizeof function);
  return std::unique_ptr<UserFunctionLibrary>(new UserFunctionLibrary(handle, function, path));
}

UserFunctionLibrary::~UserFunctionLibrary() {
  if (handle_) ::dlclose(handle_);
}

int UserFunctionLibrary::Call(ScriptVariables& s) const {
  std::array<double*, kScriptSlots> vectors{};
  std::array<int, kScriptSlots> counts{};
  for (int c = 0; c < kScriptSlots; ++c) {
    vectors[c] = s.vector[c].data();
    counts[c] = static_cast<int>(s.vector[c].size());
  }
  // The file name travels in a buffer of the documented size; whatever the function leaves
  // there is taken up to its first zero byte.
  std::array<char, kScriptTextLength + 1> fileName{};
  std::strncpy(fileName.data(), s.defaultfilename.c_str(), kScriptTextLength);
  const int result =
      function_(s.mode, &s.value[0], &s.value[1], vectors.data(), counts.data(), &s.looperror, fileName.data());
  fileName.back() = '\0';
  s.defaultfilename = fileName.data();
  return result;
}

std::string UserFunctionLibraryPath(const std::string& configured, const std::string& programFolder) {
  if (!configured.empty()) return configured;
  if (const char* env = std::getenv(kUserFunctionEnvironment); env && *env) return env;
  return JoinPath(programFolder, kUserFunctionLibraryName);
}

}  // namespace zoniq
