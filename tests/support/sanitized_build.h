// Whether this test build runs under AddressSanitizer (g++ and clang say it apart).
// Statistical sweeps run fewer seeds there: the sanitized build checks memory and
// undefined behaviour on the same paths, the optimised builds check the statistics.
#pragma once

namespace tarmic::test {

#if defined(__SANITIZE_ADDRESS__)
inline constexpr bool kSanitizedBuild = true;
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
inline constexpr bool kSanitizedBuild = true;
#else
inline constexpr bool kSanitizedBuild = false;
#endif
#else
inline constexpr bool kSanitizedBuild = false;
#endif

}  // namespace tarmic::test
