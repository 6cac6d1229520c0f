// The number input of the dialogs and the number box.
#include <string>

#include "fuzz_support.h"
#include "numerics/number_input.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  using namespace tarmic;
  const std::string text(reinterpret_cast<const char*>(data), size);
  float value = 0.0f;
  ParseFloatText(text, &value);
  IsValidPositiveFloat(text);
  return 0;
}
