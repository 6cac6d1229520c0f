#include "scandata/dls_ascii_import.h"

#include <cmath>
#include <filesystem>
#include <fstream>
#include <vector>

#include "numerics/ccurve.h"
#include "numerics/text_lines.h"
#include "scandata/dls_file.h"

namespace tarmic {

bool ConvertTwoColumnDLS(const char* source, const char* target, const DLSInfo& record,
                         AsciiCorrelation values, std::string* error) {
  auto fail = [error](const std::string& why) {
    if (error) *error = why;
    return false;
  };
  if (!source || !target) return fail("no file name");
  // The program writes no file that it would refuse to read.
  if (const std::string refusal = DLSRecordRefusal(record); !refusal.empty()) return fail(refusal);
  // Tested here so that an unreadable table gives one message, the caller's; a pipe
  // or a device is not opened.
  std::ifstream in;
  std::string why;
  if (!OpenTextFile(source, &in, &why)) return fail(why);
  in.close();
  CCurve table;
  if (!table.ReadFromFile(source, 1, 2))
    return fail("no table of two numbers per line (lag time, correlation)");

  // The writer takes log10 of the lag time, as the data set holds it.
  std::vector<float> x(1, 0.0f), y(1, 0.0f);
  for (int i = 0; i < table.Count(); ++i) {
    const float tau = table.X()->Get(i);
    const float g = table.Y()->Get(i);
    if (!(tau > 0.0f) || !std::isfinite(tau) || !std::isfinite(g)) continue;
    x.push_back(std::log10(tau));
    y.push_back(g);
  }
  const int n = static_cast<int>(x.size()) - 1;
  if (n < 2) return fail("fewer than 2 points with a positive lag time");

  DLSInfo out = record;
  if (out.title.empty()) out.title = std::filesystem::path(source).filename().string();
  out.bFieldACF = values == AsciiCorrelation::Field;
  out.nDataPoints = n;
  // The values are written as they were read; the flag tells the loader their form.
  bDLSConvertOnWrite = false;
  return WriteDLSDatFromRecord(target, n, x.data(), y.data(), nullptr, out, error);
}

std::string DLSDatPathFor(const std::string& source) {
  std::filesystem::path p(source);
  if (p.extension() == ".dlsdat") {
    p.replace_extension();
    return p.string() + "_converted.dlsdat";
  }
  return p.replace_extension(".dlsdat").string();
}

}  // namespace tarmic
