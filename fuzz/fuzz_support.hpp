// What the fuzz targets share: a failed expectation ends the run, the input bytes go to a file
// for the readers that take a path, and text a reader accepted must come back unchanged after
// it has been written and read once.
#pragma once

#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>

namespace zoniq::fuzz {

inline void Require(bool condition) {
  if (!condition) std::abort();
}

// A file of this process in the temporary folder; one per target and process, so that parallel
// fuzzing jobs do not share it.
inline std::string InputPath(const char* target) {
  return (std::filesystem::temp_directory_path() /
          ("zoniq_" + std::string(target) + "_" + std::to_string(getpid()) + ".txt"))
      .string();
}

// Writes the bytes to `path`; false when the file cannot be written.
inline bool WriteInput(const std::string& path, const std::uint8_t* data, std::size_t size) {
  std::FILE* f = std::fopen(path.c_str(), "wb");
  if (!f) return false;
  if (size > 0) std::fwrite(data, 1, size, f);
  std::fclose(f);
  return true;
}

// `first` was read from the input: its text must be read again, and from then on writing and
// reading must reproduce the same text. Returns the value read the last time.
// parse(text, value) returns 0 when it read the text; write(value) gives the text.
template <class T, class Parse, class Write>
T RequireStableRoundTrip(const T& first, Parse parse, Write write) {
  const std::string once = write(first);
  T again;
  Require(parse(once, again) == 0);
  const std::string twice = write(again);
  T third;
  Require(parse(twice, third) == 0);
  Require(write(third) == twice);
  return third;
}

}  // namespace zoniq::fuzz
