// The record of one dynamic-light-scattering correlation function. The data set
// holds one per member (pDLSInfo) while DLS data are loaded; the DLS loader fills
// them and the data set releases them with everything else.
#pragma once

#include <string>

namespace tarmic {

struct DLSInfo {
  std::string title;             // first line of the file
  float temperatureC = 0.0f;     // sample temperature, degrees C
  double elapsedTime = 0.0;      // time of the measurement, s
  float meanCountRate = 0.0f;    // as reported by the instrument
  float refractiveIndex = 0.0f;  // of the solvent
  float viscosity = 0.0f;        // solvent viscosity, poise
  float scatteringAngle = 0.0f;  // degrees
  float laserWavelength = 0.0f;  // m
  int nDataPoints = 0;           // data lines read
  bool bFieldACF = false;        // values are g(1) rather than g(2) - 1
};

}  // namespace tarmic
