#include "distributions/conti_run_settings.h"

#include <algorithm>

#include "distributions/distribution_hooks.h"

namespace tarmic {

ContiRunSettings GetContiRunSettings() {
  const auto& h = GetDistributionHooks().runSettings;
  ContiRunSettings settings = h ? h() : ContiRunSettings{};
  settings.threads = std::max(1, settings.threads);
  if (settings.showBoth) settings.maxEntropy = true;
  return settings;
}

}  // namespace tarmic
