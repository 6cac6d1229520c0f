// Axis transforms of a computed distribution and the M(s) table.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>
#include <utility>
#include <vector>

#include "distribution_test_support.h"
#include "distributions/distribution_transforms.h"
#include "distributions/ms_table.h"
#include "numerics/hydrodynamics.h"
#include "services/path_table.h"
#include "numerics/solvent_constants.h"
#include "platform/headless/headless_backend.h"

namespace tarmic::testing {
namespace {

class TransformTest : public DistributionTest {
 protected:
  // A c(s) on n points from 1 to 10 S with the values v(s).
  template <class F>
  void MakeDistribution(int n, F v) {
    FreeDistributionVectors();
    DistributionVectors().nDistGrid = n;
    DistributionVectors().pDistGrid = tarmic::vector(1, n);
    DistributionVectors().pDistS = tarmic::vector(1, n);
    DistributionVectors().pDistValues = tarmic::vector(1, n);
    DistributionVectors().pDistValues2 = tarmic::vector(1, n);
    for (int i = 1; i <= n; ++i) {
      DistributionVectors().pDistGrid[i] = static_cast<float>(1.0 + 9.0 * (i - 1) / (n - 1));
      DistributionVectors().pDistS[i] = 1000.0f * DistributionVectors().pDistGrid[i];
      DistributionVectors().pDistValues[i] = static_cast<float>(v(DistributionVectors().pDistGrid[i]));
      DistributionVectors().pDistValues2[i] = 0.0f;
    }
  }
  double Area() const { return GridTrapezoidArea(DistributionVectors().pDistGrid, DistributionVectors().pDistValues, DistributionVectors().nDistGrid); }
  std::filesystem::path Temp(const char* name) const {
    return std::filesystem::temp_directory_path() /
           (std::string("tarmic_transform_") + std::to_string(::getpid()) + "_" + name);
  }
};

// s20,w and Rh keep the area of the distribution (a broad peak and a single
// non-zero value), the Rh axis follows the Stokes radius of each s20,w value, and
// a c(M) distribution is not touched.
TEST_F(TransformTest, S20wAndRhKeepTheArea) {
  ModelFlags().bContiModel = ModelFlags().bContiSModel = true;
  for (int shape = 0; shape < 2; ++shape) {
    MakeDistribution(60, [&](double s) {
      return shape == 0 ? std::exp(-(s - 4.0) * (s - 4.0)) : (std::fabs(s - 5.271) < 0.08 ? 1.0 : 0.0);
    });
    const double area = Area();
    ASSERT_GT(area, 0.0);
    const float q = S20wFromS(1.0f, 0.00105f, 1.01f, 0.73f, 0.72f);
    const float s30 = DistributionVectors().pDistGrid[30];
    ASSERT_TRUE(TransformToS20w(0.73f, 0.72f, 0.00105f, 1.01f));
    EXPECT_NEAR(DistributionVectors().pDistGrid[30], s30 * q, 1e-5 * s30);
    EXPECT_NEAR(Area(), area, 1e-5 * area);
    const float s20 = DistributionVectors().pDistGrid[30];
    ASSERT_TRUE(TransformToRh(0.72f));
    EXPECT_TRUE(DistributionPlot().bDistRhTransformed);
    EXPECT_NEAR(DistributionVectors().pDistGrid[30], 1e9f * S20ToStokesRadius(s20, 0.72f), 1e-4);
    for (int i = 2; i <= DistributionVectors().nDistGrid; ++i) ASSERT_GT(DistributionVectors().pDistGrid[i], DistributionVectors().pDistGrid[i - 1]);
    EXPECT_NEAR(Area(), area, 1e-5 * area);
  }
  // c(M): refused, unchanged.
  ResetModelFlags();
  ModelFlags().bContiModel = true;
  MakeDistribution(10, [](double s) { return s; });
  EXPECT_FALSE(TransformToS20w(0.73f, 0.72f, 0.00105f, 1.01f));
  EXPECT_FLOAT_EQ(DistributionVectors().pDistGrid[10], 10.0f);
  EXPECT_FLOAT_EQ(DistributionVectors().pDistValues[10], 10.0f);
}

// Solvent values that give no s20,w = s (eta / eta20,w) (1 - vbar20 rho20,w) /
// (1 - vbar rho) are refused with the value at fault - a viscosity of 0 is no
// buoyancy of the buffer - and change nothing; just inside the borders the grid
// takes the factor of that formula. A vbar20 that gives no particle volume refuses
// the Stokes radii before any grid value changes.
TEST_F(TransformTest, S20wRefusalsNameTheSolventValueAtFault) {
  ModelFlags().bContiModel = ModelFlags().bContiSModel = true;
  MakeDistribution(20, [](double s) { return std::exp(-(s - 4.0) * (s - 4.0)); });
  const float grid7 = DistributionVectors().pDistGrid[7], value7 = DistributionVectors().pDistValues[7];
  const struct {
    float vbar, vbar20, viscosity, density;
    const char* cause;
  } refused[] = {
      {0.73f, 0.73f, 0.0f, 1.0f, "the buffer viscosity 0 Pa s must be above 0"},
      {0.73f, 0.73f, -0.001f, 1.0f, "the buffer viscosity -0.001 Pa s must be above 0"},
      {0.73f, 1.1f, 0.001f, 1.0f, "the partial specific volume at 20 C 1.1 ml/g leaves no buoyancy in water"},
      {0.9f, 0.73f, 0.001f, 1.2f, "the partial specific volume 0.9 ml/g leaves no buoyancy in the buffer density "
                                  "1.2 g/ml (1 - vbar rho <= 0)"},
  };
  for (const auto& r : refused) {
    SCOPED_TRACE(r.cause);
    const TransformResult result = TransformToS20w(r.vbar, r.vbar20, r.viscosity, r.density);
    EXPECT_FALSE(result);
    EXPECT_NE(result.message.find(r.cause), std::string::npos) << result.message;
    if (r.density * r.vbar < 1.0f)
      EXPECT_EQ(result.message.find("vbar rho"), std::string::npos) << "a buoyancy blamed: " << result.message;
    EXPECT_EQ(DistributionVectors().pDistGrid[7], grid7);
    EXPECT_EQ(DistributionVectors().pDistValues[7], value7);
  }
  // Dense, viscous buffer: q = (0.002 / 0.001002) (1 - 0.72 x 0.99823) / (1 - 0.8 x 1.2).
  const double q = (0.002 / 0.001002) * (1.0 - 0.72 * 0.99823) / (1.0 - 0.8 * 1.2);
  ASSERT_TRUE(TransformToS20w(0.8f, 0.72f, 0.002f, 1.2f));
  EXPECT_NEAR(DistributionVectors().pDistGrid[7], grid7 * q, 1e-4 * grid7 * q);
  EXPECT_NEAR(DistributionVectors().pDistValues[7], value7 / q, 1e-4 * value7 / q);

  const float s20 = DistributionVectors().pDistGrid[7];
  EXPECT_FALSE(TransformToRh(0.0f));
  EXPECT_NE(RhVbarRefusal(0.0f).find("partial specific volume at 20 C 0 ml/g"), std::string::npos);
  EXPECT_FALSE(DistributionPlot().bDistRhTransformed);
  EXPECT_EQ(DistributionVectors().pDistGrid[7], s20);
}

// a(R) = a0 divides every value by a0; a power series is evaluated at the grid
// value; a zero of a(R) on the grid is reported and changes nothing.
TEST_F(TransformTest, SizeDependentSignalCorrection) {
  ModelFlags().bContiModel = ModelFlags().bContiSModel = true;
  MakeDistribution(10, [](double) { return 6.0; });
  const auto file = Temp("a.dat");
  std::ofstream(file) << "2.0\n";
  ASSERT_TRUE(ApplyMieScatCorrection(file.string()));
  EXPECT_FLOAT_EQ(DistributionVectors().pDistValues[4], 3.0f);
  std::ofstream(file) << "1.0\n0.5\n";  // a = 1 + R/2
  ASSERT_TRUE(ApplyMieScatCorrection(file.string()));
  EXPECT_FLOAT_EQ(DistributionVectors().pDistValues[10], 3.0f / 6.0f);
  std::ofstream(file) << "-5.0\n1.0\n";  // a(5) = 0 on the grid
  const TransformResult refused = ApplyMieScatCorrection(file.string());
  EXPECT_FALSE(refused);
  EXPECT_FLOAT_EQ(DistributionVectors().pDistValues[10], 0.5f);
  EXPECT_NE(refused.message.find("a(R) = 0"), std::string::npos);
  std::filesystem::remove(file);
}

// The M(s) table: interpolation inside, below (through the origin) and above
// (last segment extended) the table at s20,w = s; 1.0 without a table; a table of
// one row or with non-increasing s is refused.
TEST_F(TransformTest, MsTableInterpolationAndRefusals) {
  SolventConstants().VBAR = 0.73f;
  SolventConstants().fBufferDensity = 0.99823f;
  SolventConstants().RELVISCOSITY = 1.0f;
  const std::string saved = szMofsFile;
  const auto file = Temp("mofs.dat");
  szMofsFile = file.string();
  std::ofstream(file) << "2 20\n4 60\n";
  ASSERT_TRUE(LoadMofsTable());
  EXPECT_EQ(MofsTableRows(), 2);
  EXPECT_NEAR(MFromSTable(1.0), 10000.0f, 0.05f);
  EXPECT_NEAR(MFromSTable(3.0), 40000.0f, 0.05f);
  EXPECT_NEAR(MFromSTable(4.0), 60000.0f, 0.05f);
  EXPECT_NEAR(MFromSTable(5.0), 80000.0f, 0.05f);
  // Other solvent: s is first brought to standard conditions.
  SolventConstants().fBufferDensity = 1.1f;
  const double s20 = 3.0 * (1 - 0.73 * 0.99823) / (1 - 0.73 * 1.1);
  EXPECT_NEAR(MFromSTable(3.0), 1000.0 * (20.0 + 20.0 * (s20 - 2.0)), 0.1);
  FreeMofsTable();
  EXPECT_EQ(MFromSTable(3.0), 1.0f);

  for (const char* bad : {"2 20\n", "2 20\n2 30\n"}) {  // one row; s not increasing
    std::ofstream(file) << bad;
    std::string why;
    EXPECT_FALSE(LoadMofsTable(&why)) << bad;
    EXPECT_NE(why.find(file.string()), std::string::npos) << why;
    EXPECT_EQ(MFromSTable(2.0), 1.0f);
  }
  // A row short of its numbers or with a word after them, or a field that is no
  // whole number, refuses the table, and the box names the row's line and text.
  for (const auto& [bad, why] : std::vector<std::pair<const char*, std::string>>{
           {"2 20\n4\n6 80\n", "line 2 has too few values (1 of 2): \"4\""},
           {"2 20 extra\n4 60\n", "line 1 has too many values (3 of 2): \"2 20 extra\""},
           {"2 20\n\n4 60abc\n", "line 3 holds \"60abc\", which is not a number"}}) {
    std::ofstream(file) << bad;
    ScopedHeadlessBackend backend;
    backend->QueueMessageBox(IDOK, "Error");
    EXPECT_FALSE(LoadMofsTable());
    ASSERT_EQ(backend->Transcript().size(), 1u);
    EXPECT_EQ(backend->Transcript()[0].text, "\n\aAttention: the table " + file.string() + " is refused\n" + why);
    EXPECT_FALSE(MofsTableActive());
  }
  szMofsFile = saved;
  std::filesystem::remove(file);
}

}  // namespace
}  // namespace tarmic::testing
