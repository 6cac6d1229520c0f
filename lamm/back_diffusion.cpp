#include "lamm/back_diffusion.h"

#include <cmath>

namespace tarmic {

bool BackDiffusionNegligible(double sigma, double m, double b, double rR, double level) {
  if (!(sigma > 0) || !(b > m) || !(level > 0)) return false;
  const double hi = sigma * (b * b - rR * rR), lo = sigma * (m * m - rR * rR);
  if (sigma > 100 || hi > 100) return true;
  // The area-weighted mean of the profile over the cell, relative to its value at rR:
  //   mean = (e^hi - e^lo) / (sigma (b^2 - m^2)),
  // so ln mean = hi + ln(1 - e^(lo - hi)) - ln(sigma (b^2 - m^2)).
  const double logMean = hi + std::log(-std::expm1(lo - hi)) - std::log(sigma * (b * b - m * m));
  // 1/mean < level  <=>  ln mean > -ln level.
  return logMean > -std::log(level);
}

}  // namespace tarmic
