#include "platform/vector_state.h"

#if defined(__x86_64__) || defined(__i386__)
#include <immintrin.h>
#endif

namespace tarmic {

#if defined(__x86_64__) || defined(__i386__)

namespace {

__attribute__((target("avx"))) void ZeroUpperHalves() { _mm256_zeroupper(); }

bool ProcessorHasAvx() {
  __builtin_cpu_init();
  return __builtin_cpu_supports("avx");
}

}  // namespace

void CleanVectorState() {
  static const bool hasAvx = ProcessorHasAvx();
  if (hasAvx) ZeroUpperHalves();
}

#else

void CleanVectorState() {}

#endif

}  // namespace tarmic
