// The numeric tables a user may supply: curves (x and y columns picked by the
// first byte), settings vectors and matrix tables (column count from the first
// byte).
#include "fuzz_support.h"
#include "numerics/ccurve.h"
#include "numerics/cvector.h"
#include "numerics/matrix_table.h"
#include "numerics/one_based.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  using namespace tarmic;
  if (size == 0) return 0;
  fuzz::InitHeadless();
  const int selector = data[0];
  const std::string path = fuzz::WriteScratch(data + 1, size - 1, "table.dat");
  const int columns = 1 + (selector >> 4);  // 1..16

  // The readers of other layouts refuse the table: a seed is taken when the one of
  // its layout takes it.
  CCurve curve;
  bool taken = curve.ReadFromFile(path.c_str(), 1 + (selector & 3), 1 + ((selector >> 2) & 3));
  curve.ReadFromFileAveraged(path.c_str(), 1, 2, 1 + (selector & 7));

  int nh = 0;
  if (float* v = ReadNRVectorFromFile(path.c_str(), &nh, 1)) {
    free_vector(v, 1, nh);
    taken = true;
  }

  int lines = 0;
  if (float** m = ReadMatrixTable(path.c_str(), columns, &lines)) {
    free_matrix(m, 1, lines, 1, columns);
    taken = true;
  }
  fuzz::ReportOutcome(taken, /*boxesRefuse=*/false);
  if (float** m = ReadMatrixTableByColumns(path.c_str(), columns, &lines))
    free_matrix(m, 1, columns, 1, lines);
  return 0;
}
