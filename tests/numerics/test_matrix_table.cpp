// Matrix table files: round trips of every writer by rows and by columns,
// and malformed tables (short lines, trailing blank lines, missing files).
#include <gtest/gtest.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <sstream>
#include <cmath>
#include <string>

#include "numerics/matrix_table.h"
#include "numerics/one_based.h"
#include "platform/headless/headless_backend.h"
#include "platform/types.h"

namespace tarmic {
namespace {

std::string OutputPath(const std::string& name) {
  return std::string(TARMIC_TEST_OUTPUT_DIR) + "/matrix_table_" + name;
}

std::string ReadText(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::stringstream ss;
  ss << in.rdbuf();
  return ss.str();
}

std::string WriteText(const std::string& name, const std::string& text) {
  const std::string path = OutputPath(name);
  std::ofstream(path, std::ios::binary) << text;
  return path;
}

// The 2 x 2 matrix ((1, 2), (3, 4)) over [1..2][1..2].
class MatrixTable : public ::testing::Test {
 protected:
  void SetUp() override {
    m = matrix(1, 2, 1, 2);
    d = dmatrix(1, 2, 1, 2);
    m[1][1] = d[1][1] = 1;
    m[1][2] = d[1][2] = 2;
    m[2][1] = d[2][1] = 3;
    m[2][2] = d[2][2] = 4;
  }
  void TearDown() override {
    free_matrix(m, 1, 2, 1, 2);
    free_dmatrix(d, 1, 2, 1, 2);
  }
  float** m = nullptr;
  double** d = nullptr;
};

TEST_F(MatrixTable, EmptyRangesWriteNothing) {
  const std::string path = OutputPath("empty.dat");
  ASSERT_TRUE(WriteMatrixTable(m, 1, 0, 1, 2, path.c_str()));
  EXPECT_EQ(ReadText(path), "");
  ASSERT_TRUE(WriteMatrixTable(m, 1, 2, 1, 0, path.c_str()));
  EXPECT_EQ(ReadText(path), "");
}

// Every writer, float or double, by rows or transposed, reads back by rows and by
// columns as the matrix it wrote.
TEST_F(MatrixTable, EveryWriterRoundTripsByRowsAndByColumns) {
  const std::string path = OutputPath("roundtrip.dat");
  for (int writer = 0; writer < 4; ++writer) {
    SCOPED_TRACE(writer);
    const bool transposed = writer >= 2;
    const bool written = writer == 0   ? WriteMatrixTable(m, 1, 2, 1, 2, path.c_str())
                         : writer == 1 ? WriteDMatrixTable(d, 1, 2, 1, 2, path.c_str())
                         : writer == 2 ? WriteMatrixTableTransposed(m, 1, 2, 1, 2, path.c_str())
                                       : WriteDMatrixTableTransposed(d, 1, 2, 1, 2, path.c_str());
    ASSERT_TRUE(written);
    int n = -1;
    float** rows = ReadMatrixTable(path.c_str(), 2, &n);
    ASSERT_NE(rows, nullptr);
    ASSERT_EQ(n, 2);
    for (int i = 1; i <= 2; ++i)
      for (int j = 1; j <= 2; ++j) EXPECT_EQ(rows[i][j], transposed ? m[j][i] : m[i][j]);
    free_matrix(rows, 1, n, 1, 2);
    float** columns = ReadMatrixTableByColumns(path.c_str(), 2, &n);
    ASSERT_NE(columns, nullptr);
    ASSERT_EQ(n, 2);
    EXPECT_EQ(columns[1][2], transposed ? 2.0f : 3.0f);
    free_matrix(columns, 1, 2, 1, n);
  }
}

// The first numbers of every line count: trailing text, long lines (one record),
// carriage returns and trailing blank lines do no harm.
TEST(MatrixTableReader, TakesTheFirstNumbersOfEveryLine) {
  const std::string path = WriteText("extra.dat", "\t1.5\t-2e3 x\r\n  +3 .25" +
                                                      std::string(3000, ' ') + "y\r\n\r\n\n   \n");
  int n = 0;
  float** t = ReadMatrixTable(path.c_str(), 2, &n);
  ASSERT_NE(t, nullptr);
  ASSERT_EQ(n, 2);
  EXPECT_EQ(t[1][2], -2000.0f);
  EXPECT_EQ(t[2][1], 3.0f);
  EXPECT_EQ(t[2][2], 0.25f);
  free_matrix(t, 1, n, 1, 2);
  t = ReadMatrixTableByColumns(path.c_str(), 1, &n);  // fewer columns than the line holds
  ASSERT_NE(t, nullptr);
  EXPECT_EQ(t[1][2], 3.0f);
  free_matrix(t, 1, 1, 1, n);
  // Numbers beyond the float range read as the vectors read them: 0 and infinity.
  t = ReadMatrixTable(WriteText("range.dat", "1 1e-50\n2 1e39\n").c_str(), 2, &n);
  ASSERT_NE(t, nullptr);
  EXPECT_EQ(t[1][2], 0.0f);
  EXPECT_TRUE(std::isinf(t[2][2]));
  free_matrix(t, 1, n, 1, 2);
}

void ExpectReadFailure(const std::string& path, const std::string& message, bool byColumns) {
  ScopedHeadlessBackend backend;
  backend->QueueMessageBox(IDOK, "Error");
  int n = 99;
  float** t = byColumns ? ReadMatrixTableByColumns(path.c_str(), 2, &n)
                        : ReadMatrixTable(path.c_str(), 2, &n);
  EXPECT_EQ(t, nullptr);
  EXPECT_EQ(n, 0);
  ASSERT_EQ(backend->Transcript().size(), 1u);
  EXPECT_EQ(backend->Transcript()[0].text, message + path);
}

TEST(MatrixTableReader, AShortLineIsAnErrorNotBorrowedFromTheNext) {
  const std::string path = WriteText("short.dat", "1 2\n3\n4 5\n");
  ExpectReadFailure(path, "\n\aAttention: could not read from ", false);
  ExpectReadFailure(path, "\n\aAttention: could not read from ", true);
  const std::string lastShort = WriteText("lastshort.dat", "1 2\n3 4\n5\n");
  ExpectReadFailure(lastShort, "\n\aAttention: could not read from ", false);
  ExpectReadFailure(WriteText("nothing.dat", "\n\n"), "\n\aAttention: could not read from ", false);
  ExpectReadFailure(OutputPath("does_not_exist.dat"), "\n\aAttention: could not open ", true);
}

TEST_F(MatrixTable, UncreatableFileIsReportedAsFailure) {
  const std::string path = OutputPath("no_such_dir/table.dat");
  ScopedHeadlessBackend backend;
  backend->QueueMessageBox(IDOK, "Error");
  EXPECT_FALSE(WriteMatrixTable(m, 1, 2, 1, 2, path.c_str()));
  ASSERT_EQ(backend->Transcript().size(), 1u);
  // The system's reason follows on a line of its own.
  EXPECT_EQ(backend->Transcript()[0].text,
            "\n\aAttention: could not open " + path + "\n" + path + ": " + std::strerror(ENOENT));
}

}  // namespace
}  // namespace tarmic
