// The working point of a simulation: temperature, bias, frequency, illumination and the
// external series and shunt resistance. A flat record, copied by value.
#pragma once

#include <string>

namespace zoniq {

struct WorkPoint {
  double temperature = 300.0;            // [K]
  double voltage = 0.0;                  // [V]
  int numberOfSteps = 5;                 // bias points from 0 V to the working point; light-ramp steps
  double frequency = 1.0e6;              // [Hz]
  double neutralDensity = 0.0;           // optical density OD; transmission 10^-OD
  int dark = 1;                          // 1 no illumination, 0 illuminated
  int illuminatedFromRight = 1;          // 1 light enters at the right contact, 0 at the left
  int spectrumCutOff = 0;                // 1: only the wavelength window is used
  double shortWavelengthCutOff = 0.0;    // [nm]
  double longWavelengthCutOff = 2000.0;  // [nm]
  std::string problemName = "new problem";
  std::string spectrumFile;  // full path
  std::string spectrumName = "\\AM1_5G 1 sun.spe";
  double spectrumPower = 0.0;  // [W/m2] whole file
  double windowPower = 0.0;    // [W/m2] inside the window
  double incidentPower = 0.0;  // [W/m2] window power x 10^-OD
  int generationFromFile = 0;
  std::string generationFile;
  std::string generationName = "\\*.gen";
  double attenuation = 100.0;           // [%]
  double idealGenerationCurrent = 0.0;  // [mA/cm2]
  int RsPresent = 0;
  double Rs = 0.0;  // [Ohm m2]
  int RshPresent = 0;
  double Gsh = 0.0;  // [S/m2]
};

// Defaults; the spectrum and generation files are placed in the program folder.
void InitialiseWorkPoint(WorkPoint& wp, const std::string& programFolder);

// Normalises the wavelength window: negative limits become 1 nm, reversed limits are swapped,
// limits closer than 0.001 nm are pulled 1 nm apart.
void CheckCutoffWavelengths(WorkPoint& wp);

// Keeps the pair Rsh/Gsh consistent [Ohm cm2, S/cm2]; returns the other member of the pair.
double RshFromGsh(double GshPerCm2);
double GshFromRsh(double& RshOhmCm2);

// The number of bias steps must be at least 2 (the stepping divides by steps - 1).
bool ValidNumberOfSteps(int steps);

}  // namespace zoniq
