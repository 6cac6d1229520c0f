// A scan file copied with another cell and wavelength in its line 2 (type, cell,
// temperature, rpm, time, omega2t, wavelength, replicates).
#pragma once

#include <fstream>
#include <sstream>
#include <string>
#include <vector>

namespace tarmic::testing {

inline void RelabelScan(const std::string& from, const std::string& to, int cell, int wavelength) {
  std::ifstream in(from);
  std::ostringstream out;
  std::string line;
  for (int n = 1; std::getline(in, line); ++n) {
    if (n == 2) {
      std::istringstream words(line);
      std::vector<std::string> w;
      for (std::string x; words >> x;) w.push_back(x);
      w[1] = std::to_string(cell);
      w[6] = std::to_string(wavelength);
      line.clear();
      for (const std::string& x : w) line += (line.empty() ? "" : " ") + x;
    }
    out << line << '\n';
  }
  std::ofstream(to) << out.str();
}

}  // namespace tarmic::testing
