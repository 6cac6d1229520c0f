#include "batch/batch_values.h"

#include "numerics/number_input.h"
#include "scandata/text_io.h"
#include "text/number_token.h"

namespace tarmic {

std::string BatchValueRefusal(const std::string& given, const Quantity& q, const std::string& text, double* value) {
  std::string why;
  if (q.range.integer) {
    // A count is read as a whole number in double precision (a seed has ten
    // digits) and judged by its range in double precision as well.
    const NumberScan scan = ScanWholeNumber(text, NumberWidth::kDouble);
    if (scan && scan.value >= q.range.low && scan.value <= q.range.high) {
      *value = scan.value;
    } else {
      why = "the " + std::string(q.name) + " " + (scan ? Format("%.0f", scan.value) : "\"" + text + "\"") +
            " must be a whole number from " + Format("%.0f", q.range.low) + " to " + Format("%.0f", q.range.high);
    }
  } else {
    why = TypedValueRefusal(q, text);
    float v = 0.0f;
    if (why.empty() && ParseFloatText(text, &v)) *value = static_cast<double>(v);
  }
  return why.empty() ? why : given + ": " + why;
}

}  // namespace tarmic
