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

// A 2 x 2 matrix over [1..2][1..2] of values the tables hold in use: diffusion
// coefficients near 1e-7 cm^2/s (six decimals wrote them as 0.000000), a value
// between, and one with its digits before the point.
class MatrixTable : public ::testing::Test {
 protected:
  void SetUp() override {
    m = matrix(1, 2, 1, 2);
    d = dmatrix(1, 2, 1, 2);
    m[1][1] = 1e-7f;
    m[1][2] = 5e-7f;
    m[2][1] = 1.234567e-5f;
    m[2][2] = 550.5f;
    for (int i = 1; i <= 2; ++i)
      for (int j = 1; j <= 2; ++j) d[i][j] = m[i][j];
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
    EXPECT_EQ(columns[1][2], transposed ? m[1][2] : m[2][1]);
    free_matrix(columns, 1, 2, 1, n);
  }
}

// Every line holds exactly the record's numbers: carriage returns, long runs of
// blanks and trailing blank lines do no harm; a word after the numbers (a fourth
// number of a three-column table, trailing text) is refused, not dropped.
TEST(MatrixTableReader, ReadsLinesOfExactlyTheRecordsNumbers) {
  const std::string path = WriteText("extra.dat", "\t1.5\t-2e3\r\n  +3 .25" +
                                                      std::string(3000, ' ') + "\r\n\r\n\n   \n");
  int n = 0;
  float** t = ReadMatrixTable(path.c_str(), 2, &n);
  ASSERT_NE(t, nullptr);
  ASSERT_EQ(n, 2);
  EXPECT_EQ(t[1][2], -2000.0f);
  EXPECT_EQ(t[2][1], 3.0f);
  EXPECT_EQ(t[2][2], 0.25f);
  free_matrix(t, 1, n, 1, 2);
}

// The message names the file (for %s), and then the line and why on a line of its own.
void ExpectReadFailure(const std::string& path, std::string message, bool byColumns,
                       const std::string& why = {}) {
  ScopedHeadlessBackend backend;
  backend->QueueMessageBox(IDOK, "Error");
  int n = 99;
  float** t = byColumns ? ReadMatrixTableByColumns(path.c_str(), 2, &n)
                        : ReadMatrixTable(path.c_str(), 2, &n);
  EXPECT_EQ(t, nullptr);
  EXPECT_EQ(n, 0);
  ASSERT_EQ(backend->Transcript().size(), 1u);
  message.replace(message.find("%s"), 2, path);
  EXPECT_EQ(backend->Transcript()[0].text, message + (why.empty() ? "" : "\n" + why));
}

TEST(MatrixTableReader, AShortLineIsAnErrorNotBorrowedFromTheNext) {
  const std::string path = WriteText("short.dat", "1 2\n3\n4 5\n");
  // A file that was read but holds no table is refused, not said to be unreadable.
  const std::string refused = "\n\aAttention: the table %s is refused";
  ExpectReadFailure(path, refused, false, "line 2 has too few values (1 of 2): \"3\"");
  ExpectReadFailure(path, refused, true, "line 2 has too few values (1 of 2): \"3\"");
  const std::string lastShort = WriteText("lastshort.dat", "1 2\n\n3 4\n5\n");
  ExpectReadFailure(lastShort, refused, false, "line 4 has too few values (1 of 2): \"5\"");
  ExpectReadFailure(WriteText("nothing.dat", "\n\n"), refused, false, "it holds no line of numbers");
  ExpectReadFailure(OutputPath("does_not_exist.dat"), "\n\aAttention: could not open %s", true,
                    "No such file or directory");
}

// Every field read is one number as a whole: text glued to a number, a decimal
// comma, hexadecimal, nan and inf, and values the float cannot hold (1e39 beyond
// its largest, 1e-50 below its smallest, which would be stored as 0) refuse the
// table with the line and the field, in either layout; a table of fields that are
// numbers reads to the values a calculator gives.
TEST(MatrixTableReader, EveryFieldIsAWholeNumberAndARefusalNamesItsLine) {
  const std::string prefix = "\n\aAttention: the table %s is refused";
  const struct {
    const char* name;
    const char* text;
    const char* why;
  } bad[] = {
      {"glued.dat", "0 1\n1 5abc\n", "line 2 holds \"5abc\", which is not a number"},
      {"comma.dat", "1,5 2\n", "line 1 holds \"1,5\", which is not a number"},
      {"hex.dat", "1 2\n\n0x10 3\n", "line 3 holds \"0x10\", which is not a number"},
      {"nan.dat", "1 nan\n", "line 1 holds \"nan\", which is not a number"},
      {"inf.dat", "-inf 1\n", "line 1 holds \"-inf\", which is not a number"},
      {"huge.dat", "1 2\n2 1e39\n", "line 2 holds \"1e39\", which is beyond 3.4e38"},
      {"tiny.dat", "1 1e-50\n", "line 1 holds \"1e-50\", which is not 0 but too small to be held (below 1.4e-45)"},
  };
  for (const auto& b : bad) {
    SCOPED_TRACE(b.name);
    const std::string path = WriteText(b.name, b.text);
    ExpectReadFailure(path, prefix, false, b.why);
    ExpectReadFailure(path, prefix, true, b.why);
  }
  ScopedHeadlessBackend backend;
  int n = 0;
  float** t = ReadMatrixTable(WriteText("good.dat", "-0 3.4e38\n2.5E-3 1.2e-38\n").c_str(), 2, &n);
  ASSERT_NE(t, nullptr);
  ASSERT_EQ(n, 2);
  EXPECT_EQ(t[1][1], 0.0f);
  EXPECT_EQ(t[1][2], 3.4e38f);
  EXPECT_EQ(t[2][1], 0.0025f);
  EXPECT_EQ(t[2][2], 1.2e-38f);
  free_matrix(t, 1, n, 1, 2);
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
