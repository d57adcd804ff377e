#include "optics/interp.hpp"

#include <cmath>

#include "common/format.hpp"

namespace zoniq {

namespace {

// Checks shared by both interpolations; returns 1 or the error code, with `detail` set.
int CheckTable(const double* x, int n, double x0, std::string& detail) {
  if (n < 1) return -1;
  if (!(x0 >= x[0] && x0 <= x[n - 1])) {
    detail = ": asked at x=" + num(x0) + ", given: " + std::to_string(n) + " data in interval (" + num(x[0]) + "," +
             num(x[n - 1]) + ")";
    return -2;
  }
  for (int i = 1; i < n; ++i)
    if (!(x[i] > x[i - 1])) {
      detail = ": x[" + std::to_string(i - 1) + "] = x[" + std::to_string(i) + "] = " + num(x[i]);
      return -3;
    }
  return 1;
}

// Index k of the first x_k >= x0 (k >= 1), on a checked table with x0 > x[0].
int Bracket(const double* x, int n, double x0) {
  int lo = 0, hi = n - 1;
  while (hi - lo > 1) {
    const int mid = (lo + hi) / 2;
    if (x[mid] >= x0)
      hi = mid;
    else
      lo = mid;
  }
  return hi;
}

}  // namespace

int LinInterp(const Environment* env, const double* x, const double* y, int n, double x0, double& y0) {
  y0 = 0.0;
  std::string detail;
  const int status = CheckTable(x, n, x0, detail);
  if (status != 1) {
    if (env) {
      static constexpr const char* kText[] = {"Error in LinInterp: number of points is smaller than 1",
                                              "Error in LinInterp: extrapolation needed",
                                              "Error in LinInterp: x array does not rise monotonically"};
      env->Popup("Error in LinInterp", std::string(kText[-status - 1]) + detail);
    }
    return status;
  }
  if (x0 == x[0]) {
    y0 = y[0];
    return 1;
  }
  const int k = Bracket(x, n, x0);
  y0 = ((x0 - x[k - 1]) * y[k] + (x[k] - x0) * y[k - 1]) / (x[k] - x[k - 1]);
  return 1;
}

int LogInterp(const Environment* env, const double* x, const double* y, int n, double x0, double& y0,
              std::string& message) {
  y0 = 0.0;
  message = "Error in LogInterp: unknown error";
  std::string detail;
  int status = CheckTable(x, n, x0, detail);
  if (status == 1) {
    for (int i = 0; i < n; ++i)
      if (!(x[i] > 0)) status = -4;
  }
  if (status != 1) {
    static constexpr const char* kText[] = {"Error in LogInterp: number of points is smaller than 1",
                                            "Error in LogInterp: x value is outside interval",
                                            "Error in LogInterp: x array does not rise monotonically",
                                            "Error in LogInterp: x array is not strictly positive"};
    message = kText[-status - 1];
    if (env) env->Popup("Error in LogInterp", message);
    return status;
  }
  message = "LogInterp executed successfully";
  if (x0 == x[0]) {
    y0 = y[0];
    return 1;
  }
  const int k = Bracket(x, n, x0);
  if (y[k] <= 0 || y[k - 1] <= 0) return 1;
  y0 = std::exp(((x0 - x[k - 1]) * std::log(y[k]) + (x[k] - x0) * std::log(y[k - 1])) / (x[k] - x[k - 1]));
  return 1;
}

}  // namespace zoniq
