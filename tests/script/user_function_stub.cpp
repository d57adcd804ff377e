// A user-function library for the tests of "rundll": it uses every argument it is given, so
// that a wrong order or a missing argument shows in the script variables.
#include <cstring>

extern "C" int ZONIQUserFunction(int mode, double* xvalue, double* yvalue, double* vectors[6], int n[6],
                                 double* looperror, char* defaultfilename) {
  *xvalue = *yvalue + vectors[2][0];
  for (int i = 0; i < n[5]; ++i) vectors[5][i] *= 2.0;
  *looperror = 0.5;
  std::strcpy(defaultfilename, "fromdll");
  return 100 * mode + n[0] + 10 * n[5];
}
