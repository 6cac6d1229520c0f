// The scan file reader and writers: every scan type, the reading rules (row count,
// merging, spikes, column layouts, electrophoresis), refused files, and round trips.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <map>
#include <string>
#include <vector>

#include "numerics/one_based.h"
#include "platform/system.h"
#include "scandata/data_set_hooks.h"
#include "scandata/scan_file.h"
#include "scandata/text_io.h"
#include "scandata_test_support.h"

namespace tarmic::testing {
namespace {

// The result of one ReadScanFile call; frees the vectors it received.
struct Scan {
  explicit Scan(const std::string& path, bool wantThird = true, float minStep = 0.0f) {
    ok = ReadScanFile(path.c_str(), &info, &n, &radius, &value, wantThird ? &third : nullptr, &mark,
                      minStep, &error, &notes);
  }
  ~Scan() {
    if (radius) free_vector(radius, 1, n);
    if (value) free_vector(value, 1, n);
    if (third) free_vector(third, 1, n);
  }
  Scan(const Scan&) = delete;
  Scan& operator=(const Scan&) = delete;

  int ok = 0;
  ScanInfo info;
  int n = -1;
  float* radius = nullptr;
  float* value = nullptr;
  float* third = nullptr;
  bool mark = false;
  std::string error;
  std::vector<std::string> notes;
};

using ScanFileTest = ScanDataTest;

TEST_F(ScanFileTest, AbsorbanceScanKeepsEveryRowAndTheHeader) {
  Scan s(FixturePath("absorbance.ra1"));
  ASSERT_EQ(s.ok, 1) << s.error;
  ASSERT_EQ(s.n, 12);
  EXPECT_FLOAT_EQ(s.radius[12], 6.01f);
  EXPECT_FLOAT_EQ(s.value[12], 0.21f);
  EXPECT_EQ(s.third, nullptr) << "one replicate: no third column";
  EXPECT_EQ(s.info.description, "cell 2 run 5 - absorbance test scan");
  EXPECT_DOUBLE_EQ(s.info.time, 1000.0);
  EXPECT_DOUBLE_EQ(s.info.omega2t, 1.6e10);
  EXPECT_FALSE(s.info.timeStampOk);
  EXPECT_FALSE(s.mark);
  EXPECT_TRUE(ScanFile().bAbsorbanceData);
  EXPECT_FALSE(ScanFile().bIntensityData || ScanFile().bInterferenceData || ScanFile().bFluorescenceData);
  EXPECT_FLOAT_EQ(ScanFile().fSpikeThreshold, ScanFile().fSpikeThresholdAbs);
}

TEST_F(ScanFileTest, AccelerationPhaseFromTheLagOfOmega2t) {
  Scan s(FixturePath("absorbance.ra1"));
  ASSERT_EQ(s.ok, 1);
  // 1.5 (1000 - 1.6e10 x 91.189065278104 / 1.6e9)
  EXPECT_NEAR(s.info.accelTime, 132.2, 0.05);
  EXPECT_DOUBLE_EQ(s.info.accelRate, 40000.0 / s.info.accelTime);

  // omega2t x K / rpm^2 above the time: no lag is seen.
  const std::string path = ScratchDir("no_lag") + "/nolag.ra1";
  std::string text = "no lag\nR 1 20.0 40000 1000 2.0000e+10 280 1\n";
  for (int i = 0; i < 4; ++i) text += "   5.9" + std::to_string(i) + "00  1.00000e-01   0.00000e+00 \n";
  WriteText(path, text);
  Scan noLag(path);
  ASSERT_EQ(noLag.ok, 1);
  EXPECT_LT(noLag.info.accelTime, 0.0);
  EXPECT_DOUBLE_EQ(noLag.info.accelRate, 1.0e6);
}

TEST_F(ScanFileTest, AnIncompleteLastLineIsDroppedNotAGoodOne) {
  Scan s(FixturePath("truncated_last.ra1"));
  ASSERT_EQ(s.ok, 1) << s.error;
  EXPECT_EQ(s.n, 12);
  EXPECT_FLOAT_EQ(s.radius[12], 6.01f);
}

TEST_F(ScanFileTest, InterferenceScanHasTwoColumns) {
  Scan s(FixturePath("interference.ip1"));
  ASSERT_EQ(s.ok, 1) << s.error;
  ASSERT_EQ(s.n, 12);
  EXPECT_FLOAT_EQ(s.radius[2], 5.96f);
  EXPECT_FLOAT_EQ(s.value[2], 1.6f);
  EXPECT_EQ(s.third, nullptr);
  EXPECT_TRUE(ScanFile().bInterferenceData);
}

TEST_F(ScanFileTest, IntensityScanDeliversTheThirdColumn) {
  Scan s(FixturePath("intensity.ri1"));
  ASSERT_EQ(s.ok, 1) << s.error;
  ASSERT_EQ(s.n, 12);
  ASSERT_NE(s.third, nullptr);
  EXPECT_FLOAT_EQ(s.value[1], 1000.0f);
  EXPECT_FLOAT_EQ(s.third[1], 500.0f);
  EXPECT_TRUE(ScanFile().bIntensityData);
  EXPECT_FALSE(ScanFile().bAbsorbanceData);
}

TEST_F(ScanFileTest, FluorescenceScanReadsDetectorKeysAndCountsAsAbsorbance) {
  Scan s(FixturePath("fluorescence.fa1"));
  ASSERT_EQ(s.ok, 1) << s.error;
  EXPECT_TRUE(s.info.fluorescence);
  EXPECT_FLOAT_EQ(s.info.voltage, 550.5f);
  EXPECT_EQ(s.info.gain, 8);
  EXPECT_TRUE(s.info.timeStampOk);
  EXPECT_FALSE(s.mark) << "the mark argument follows the description only";
  EXPECT_TRUE(ScanFile().bFluorescenceData);
  EXPECT_TRUE(ScanFile().bAbsorbanceData);
  ASSERT_NE(s.third, nullptr);
  EXPECT_FLOAT_EQ(ScanFile().fSpikeThreshold, ScanFile().fSpikeThresholdFDS);
}

TEST_F(ScanFileTest, WavelengthScansKeepTheirRadiusField) {
  Scan w(FixturePath("wavelength.wa1"));
  ASSERT_EQ(w.ok, 1) << w.error;
  EXPECT_EQ(w.info.scanType, 'W');
  EXPECT_FLOAT_EQ(w.info.wavelength, 6.5f);
  EXPECT_FLOAT_EQ(w.radius[1], 250.0f);
  EXPECT_TRUE(ScanFile().bAbsorbanceData);

  Scan v(FixturePath("wavelength_intensity.wi1"));
  ASSERT_EQ(v.ok, 1) << v.error;
  EXPECT_TRUE(ScanFile().bIntensityData);
  ASSERT_NE(v.third, nullptr);
  EXPECT_FLOAT_EQ(v.third[1], 900.0f);
}

TEST_F(ScanFileTest, ElectrophoresisFieldOrderAndAbsorbanceConversion) {
  ScanFile().bElectrophoresisMode = true;
  Scan s(FixturePath("electrophoresis.ep1"));
  ASSERT_EQ(s.ok, 1) << s.error;
  ASSERT_EQ(s.n, 8) << "lines beginning with '0' are data in electrophoresis mode";
  EXPECT_EQ(s.info.scanType, 'R');
  EXPECT_DOUBLE_EQ(s.info.time, 1200.0);
  EXPECT_DOUBLE_EQ(s.info.omega2t, 1200.0);
  EXPECT_DOUBLE_EQ(s.info.accelRate, 1.0e6);
  EXPECT_FLOAT_EQ(s.value[1], 2.0f) << "10.0 becomes log10(1000/10)";
  EXPECT_TRUE(ScanFile().bAbsorbanceData);

  // In ordinary mode the first data line, which begins with '0', ends the data.
  ScanFile().bElectrophoresisMode = false;
  Scan ordinary(FixturePath("electrophoresis.ep1"));
  EXPECT_EQ(ordinary.ok, 0);
}

// Radii that are no positions refuse the file with their line; a radius-0 line
// only ends the data where nothing follows it (two-column files: trailing rows of
// radius 0 are dropped), so no point is lost without a word.
TEST_F(ScanFileTest, RadiiThatAreNoIncreasingPositionsRefuseTheFileWithTheirLine) {
  const std::string dir = ScratchDir("bad_radii");
  const std::string head = "radii\nR 2 20.0 40000 1000 1.6000e+10 280 1\n";
  auto row = [](const char* r, const char* v = "1.00000e-01") {
    return std::string("   ") + r + "  " + v + "   0.00000e+00 \n";
  };
  const std::string good = row("5.9000") + row("5.9100") + row("5.9200");
  struct Case {
    const char* name;
    std::string text;
    std::string error;  // empty: read
  } cases[] = {
      {"zero_then_data", "", "line 9 holds the radius 0 with more lines after it"},
      {"zero_at_end", head + good + "0 0 0\n\n", ""},
      {"huge", head + good + row("1e30"), "line 6 holds the radius 1e+30, outside 0 to 1e+06"},
      {"negative", head + row("-5.9000") + good, "line 3 holds the radius -5.9, outside 0 to 1e+06"},
      {"word", head + good + row("abc") + row("5.9300"), "line 6 holds \"abc\", which is not a number"},
      {"decreasing", head + good + row("5.9150"),
       "line 6 holds the radius 5.915, not above the radius 5.92 before it"},
      {"equal", head + good + row("5.9200"), "line 6 holds the radius 5.92, not above the radius 5.92 before it"},
      {"double_range", head + good + row("5.9300", "1e308"),
       "line 6 holds \"1e308\", which is beyond 3.4e38"},
      {"two_column_zero_then_data",
       "i\nP 1 20.0 50000 2000 3.2000e+10 675 1\n   5.95 1.5\n   5.96 1.6\n   0.00 0.0\n   5.97 1.7\n",
       "line 5 holds the radius 0 with more lines after it"},
      {"two_column_trailing_zeros",
       "i\nP 1 20.0 50000 2000 3.2000e+10 675 1\n   5.95 1.5\n   5.96 1.6\n   0.00 0.0\n   0.00 0.0\n", ""},
  };
  for (const Case& c : cases) {
    const std::string path = c.text.empty() ? FixturePath("zero_line.ra1") : dir + "/" + c.name + ".ra1";
    if (!c.text.empty()) WriteText(path, c.text);
    Scan s(path);
    if (c.error.empty()) {
      ASSERT_EQ(s.ok, 1) << c.name << ": " << s.error;
      EXPECT_EQ(s.n, std::string(c.name) == "zero_at_end" ? 3 : 2) << c.name;
      EXPECT_GT(s.radius[s.n], s.radius[1]) << c.name;
    } else {
      EXPECT_EQ(s.ok, 0) << c.name;
      EXPECT_EQ(s.error, c.error) << c.name;
      EXPECT_EQ(s.radius, nullptr) << c.name;
    }
  }
  // Equal radii are what the minimum step merges: one point at their mean.
  WriteText(dir + "/merged.ra1", head + good + row("5.9200", "3.00000e-01"));
  Scan merged(dir + "/merged.ra1", true, 0.005f);
  ASSERT_EQ(merged.ok, 1) << merged.error;
  EXPECT_EQ(merged.n, 3);
  EXPECT_FLOAT_EQ(merged.value[3], 0.2f);
}

// Line 2 is read from its own words: a value it lacks is not taken from the data
// rows, a word that is no number is no value, and speeds, times and omega^2 t that
// no run can have refuse the file with the line named. Data values that are no
// numbers ("nan") refuse it as well; nothing is read as 0 in their place.
TEST_F(ScanFileTest, AbsurdOrMissingValuesRefuseTheFileWithTheirLine) {
  const std::string dir = ScratchDir("absurd_values");
  std::string rows;
  for (int i = 0; i < 5; ++i) rows += "   5.9" + std::to_string(i) + "00  0.5000e-01   0.00000e+00 \n";
  struct Case {
    const char* name;
    std::string line2;
    std::string rows;
    std::string error;  // empty: read
  } cases[] = {
      {"fastest", "R 2 20.0 100000 1000 1.6000e+10 280 1", rows, ""},
      {"slow", "R 2 20.0 3000 0 0 280 1", rows, ""},
      {"too_fast", "R 2 20.0 1e7 1000 1.6000e+10 280 1", rows,
       "line 2 holds the rotor speed 1e+07 rpm, outside the speeds of a rotor (above 0, at most 100000 rpm)"},
      {"backwards", "R 2 20.0 -50000 1000 1.6000e+10 280 1", rows,
       "line 2 holds the rotor speed -50000 rpm, outside the speeds of a rotor (above 0, at most 100000 rpm)"},
      {"nan_speed", "R 2 20.0 nan 1000 1.6000e+10 280 1", rows,
       "line 2 holds \"nan\" as the rotor speed, which is not a number"},
      {"fields_missing", "R 1", rows,
       "line 2 has too few values (1 of 7: cell, temperature, rotor speed, time, omega^2 t, "
       "wavelength, replicates): \"R 1\""},
      {"negative_time", "R 2 20.0 40000 -600 1.6000e+10 280 1", rows,
       "line 2 holds the time -600 s, outside the times of a run (0 to 1e+08 s)"},
      {"nan_time", "R 2 20.0 40000 nan 1.6000e+10 280 1", rows,
       "line 2 holds \"nan\" as the time, which is not a number"},
      {"negative_w2t", "R 2 20.0 40000 1000 -1.6000e+10 280 1", rows,
       "line 2 holds the omega^2 t -1.6e+10, outside what a rotor reaches in a run (0 to 1.097e+16)"},
      {"cold_room", "R 2 4.0 40000 1000 1.6000e+10 280 1", rows, ""},
      {"unset_temperature", "R 2 0.0 40000 1000 1.6000e+10 0 1", rows, ""},
      {"below_absolute_zero", "R 2 -300 40000 1000 1.6000e+10 280 1", rows,
       "line 2 holds the temperature -300 C, outside the temperatures of a sample (-40 to 200 C)"},
      {"kelvin", "R 2 293.15 40000 1000 1.6000e+10 280 1", rows,
       "line 2 holds the temperature 293.15 C, outside the temperatures of a sample (-40 to 200 C)"},
      {"negative_wavelength", "R 2 20.0 40000 1000 1.6000e+10 -280 1", rows,
       "line 2 holds the wavelength -280 nm, outside the wavelengths of an optical system (0 to 10000 nm)"},
      {"nan_values", "R 2 20.0 40000 1000 1.6000e+10 280 1",
       "   nan  nan   nan \n   nan  nan   nan \n   nan  nan   nan \n",
       "line 3 holds \"nan\", which is not a number"},
      {"nan_signal", "R 2 20.0 40000 1000 1.6000e+10 280 1", rows + "   5.9600  nan   0.0 \n   5.9700  0.1   0.0 \n",
       "line 8 holds \"nan\", which is not a number"},
  };
  for (const Case& c : cases) {
    const std::string path = dir + "/" + c.name + ".ra1";
    WriteText(path, std::string("scan\n") + c.line2 + "\n" + c.rows);
    Scan s(path);
    if (c.error.empty()) {
      EXPECT_EQ(s.ok, 1) << c.name << ": " << s.error;
    } else {
      EXPECT_EQ(s.ok, 0) << c.name;
      EXPECT_EQ(s.error, c.error) << c.name;
    }
  }
  // The dropped third column of a two-column layout may hold anything.
  WriteText(dir + "/third.ra1", "scan\nR 2 20.0 40000 1000 1.6000e+10 280 1\n   5.90 0.1 nan\n   5.91 0.2 nan\n"
                                "   5.92 0.3 nan\n");
  Scan third(dir + "/third.ra1", false);
  EXPECT_EQ(third.ok, 1) << third.error;
}

// Every value is one whole word that the precision it is stored in holds: a value
// that is not 0 but would be held as 0 (the time in a double, the temperature and
// every signal in a float), a value beyond the range and a word too long are
// refused with their line and why, never stored as a 0 nobody wrote.
TEST_F(ScanFileTest, ValuesTheirPrecisionCannotHoldAreRefusedWithTheirLine) {
  const std::string dir = ScratchDir("tiny_values");
  std::string rows;
  for (int i = 0; i < 5; ++i) rows += "   5.9" + std::to_string(i) + "00  0.5000e-01   0.00000e+00 \n";
  const char* const kTiny = "which is not 0 but too small to be held (below ";
  struct Case {
    std::string header, row, error;
  };
  const std::string header = "R 2 20.0 40000 1000 1.6000e+10 280 1";
  const Case cases[] = {
      {"R 2 20.0 40000 1e-330 1.6000e+10 280 1", "", std::string("line 2 holds \"1e-330\" as the time, ") + kTiny + "4.9e-324)"},
      {"R 2 1e-46 40000 1000 1.6000e+10 280 1", "", std::string("line 2 holds \"1e-46\" as the temperature, ") + kTiny + "1.4e-45)"},
      {"R 2 20.0 1e39 1000 1.6000e+10 280 1", "", "line 2 holds \"1e39\" as the rotor speed, which is beyond 3.4e38"},
      {header, "   5.9600  1e-320   0.0 \n", std::string("line 8 holds \"1e-320\", ") + kTiny + "1.4e-45)"},
      {header, "   5.9600  1e-46   0.0 \n", std::string("line 8 holds \"1e-46\", ") + kTiny + "1.4e-45)"},
      {header, "   5.9600  -1e-310   0.0 \n", std::string("line 8 holds \"-1e-310\", ") + kTiny + "1.4e-45)"},
      {header, "   1e-300  0.1   0.0 \n", std::string("line 8 holds \"1e-300\", ") + kTiny + "1.4e-45)"},
      {header, "   5.9600  1e39   0.0 \n", "line 8 holds \"1e39\", which is beyond 3.4e38"},
      {header, "   5.9600  0.1x   0.0 \n", "line 8 holds \"0.1x\", which is not a number"},
      {header, "   5.9600  " + std::string(100000, '1') + "   0.0 \n", "line 8 holds a word that is too long"},
  };
  for (const Case& c : cases) {
    WriteText(dir + "/tiny.ra1", "scan\n" + c.header + "\n" + rows + c.row + "   5.9700  0.1   0.0 \n");
    Scan s(dir + "/tiny.ra1");
    EXPECT_EQ(s.ok, 0) << c.error;
    EXPECT_EQ(s.error, c.error);
  }
  // The smallest values the precisions hold are taken as written.
  WriteText(dir + "/small.ra1", "scan\n" + header + "\n" + rows + "   5.9600  1.5e-45   0.0 \n   5.9700  -1e-38   0.0 \n");
  Scan small(dir + "/small.ra1");
  ASSERT_EQ(small.ok, 1) << small.error;
  EXPECT_GT(small.value[small.n - 1], 0.0f);
  EXPECT_EQ(small.value[small.n], -1e-38f);
}

// The detector's keys in line 1 of a fluorescence scan are one whole word each: the
// voltage a number a float holds, the gain and range whole numbers. Anything else
// refuses the file naming line 1, the key and the word, rather than loading a
// prefix, 0 or an infinity that sorting the scans cannot name.
TEST_F(ScanFileTest, FluorescenceDetectorKeysAreWholeNumbersOrRefusedWithLineOne) {
  const std::string dir = ScratchDir("detector_keys");
  auto scan = [&](const std::string& description) {
    std::string text = description + "\nF 1 20.0 45000 100 2.2206e9 488 1\n";
    for (int i = 0; i < 6; ++i) text += "   6.0" + std::to_string(i) + "00  200.0   1.0 \n";
    WriteText(dir + "/keys.FA1", text);
    return Scan(dir + "/keys.FA1");
  };
  struct Case {
    const char* description;
    const char* error;
  };
  const Case refused[] = {
      {"Voltage: 1e999 Gain: 8 Range: 3", "line 1 holds \"1e999\" as the voltage, which is beyond 3.4e38"},
      {"Voltage: 550 Gain: 5abc Range: 3", "line 1 holds \"5abc\" as the gain, which is not a number"},
      {"Voltage: 550 Gain: 8 Range: 1,5", "line 1 holds \"1,5\" as the range, which is not a number"},
      {"Voltage: 0x10 Gain: 8 Range: 3", "line 1 holds \"0x10\" as the voltage, which is not a number"},
      {"Voltage: nan Gain: 8 Range: 3", "line 1 holds \"nan\" as the voltage, which is not a number"},
      {"Voltage: 550 Gain: 2.5 Range: 3",
       "line 1 holds \"2.5\" as the gain, which is no whole number between -2147483647 and 2147483647"},
      {"Voltage: 550 Gain: 8 Range: 1e12",
       "line 1 holds \"1e12\" as the range, which is no whole number between -2147483647 and 2147483647"},
      {"Voltage: 1e-46 Gain: 8 Range: 3",
       "line 1 holds \"1e-46\" as the voltage, which is not 0 but too small to be held (below 1.4e-45)"},
  };
  for (const Case& c : refused) {
    const Scan s = scan(c.description);
    EXPECT_EQ(s.ok, 0) << c.description;
    EXPECT_EQ(s.error, c.error);
  }
  // A key without its value is named too.
  EXPECT_EQ(scan("Voltage: 550 Gain:").error, "line 1 holds no gain after \"Gain:\"");
  // A key in other letters would pass unread, and of a key written twice the value
  // that holds is not known: both refuse the file.
  for (const auto& [line, error] : std::vector<std::pair<std::string, std::string>>{
           {"voltage: 550 gain: 8 range: 3",
            "line 1 holds \"voltage:\", which is no detector key: the keys are written \"Voltage:\", \"Gain:\" and "
            "\"Range:\""},
           {"Voltage: 550 GAIN: 8 Range: 3",
            "line 1 holds \"GAIN:\", which is no detector key: the keys are written \"Voltage:\", \"Gain:\" and "
            "\"Range:\""},
           {"Voltage: 550 Gain: 8 Range: 3 Gain: 16", "line 1 holds \"Gain:\" twice"},
           {"Voltage: 550 Voltage: 550 Gain: 8 Range: 3", "line 1 holds \"Voltage:\" twice"}}) {
    const Scan s = scan(line);
    EXPECT_EQ(s.ok, 0) << line;
    EXPECT_EQ(s.error, error);
  }
  // A key that line 1 does not name is said to be unknown, not read as 0 silently.
  for (const auto& [line, missing] : std::vector<std::pair<std::string, std::string>>{
           {"Voltage: 550 Gain: 8", "\"Range:\""}, {"FDS scan", "\"Voltage:\", \"Gain:\" and \"Range:\""}}) {
    const Scan s = scan(line);
    ASSERT_EQ(s.ok, 1) << line << ": " << s.error;
    EXPECT_FALSE(s.info.detectorKeys);
    ASSERT_EQ(s.notes.size(), 1u) << line;
    EXPECT_EQ(s.notes[0], "line 1 does not name the detector's " + missing +
                              ": the voltage, gain and range of this scan are not known");
  }
  EXPECT_EQ(scan("Voltage: Gain: 8 Range: 3").error, "line 1 holds \"Gain:\" as the voltage, which is not a number");
  // The keys are read wherever they stand in the line and however it goes on: after
  // characters the description does not keep (a parenthesis, ';', '-'), with a sign
  // or a tab, and beyond the 99 characters of the description.
  const std::string far(110, 'x');
  for (const std::string& line :
       {std::string("Voltage: 550.5 Gain: 8 Range: 3e0"), std::string("FDS scan (cell 2) Voltage: 550.5 Gain: 8 Range: 3"),
        std::string("Voltage: +550.5 Gain: 8 Range: 3"), std::string("Voltage:\t550.5 Gain:\t8 Range :  3"),
        std::string("run;Voltage: 550.5 Gain: 8 Range: 3"), std::string("run -Voltage: 550.5 - Gain: 8 - Range: 3"),
        far + " Voltage: 550.5 Gain: 8 Range: 3", std::string("HighVoltage: 9 Range: 3 Gain: 8 Voltage: 550.5")}) {
    const Scan read = scan(line);
    ASSERT_EQ(read.ok, 1) << line << ": " << read.error;
    EXPECT_EQ(read.info.voltage, 550.5f) << line;
    EXPECT_EQ(read.info.gain, 8) << line;
    EXPECT_EQ(read.info.range, 3) << line;
    EXPECT_TRUE(read.info.detectorKeys) << line;
  }
  EXPECT_FALSE(scan("FDS scan Voltage: 550.5 Gain: 8").info.detectorKeys) << "no range";
}

// The last data row is read as every other row: a word in it that is no number
// refuses the file with its line, rather than losing the row without a word. Only
// a last line the file ends inside (no line end after it) may be cut short.
TEST_F(ScanFileTest, ABadLastRowIsRefusedWithItsLineLikeAnyOther) {
  const std::string dir = ScratchDir("last_row");
  std::string text = "scan\nR 2 20.0 40000 1000 1.6000e+10 280 1\n";
  for (int i = 0; i < 11; ++i) text += "   5.9" + std::to_string(10 + i) + "  4.5  1.00000e-02\n";
  for (const char* value : {"4.5abc", "nan", "4,5", "-"}) {
    WriteText(dir + "/last.ra1", text + "   6.0100  " + value + "  1.00000e-02\n");
    const Scan s(dir + "/last.ra1");
    EXPECT_EQ(s.ok, 0) << value;
    EXPECT_EQ(s.error, "line 14 holds \"" + std::string(value) + "\", which is not a number");
  }
  // Cut inside its last word or before it: the rows before it load.
  for (const char* cut : {"   6.0100  4.5  1.00000e-", "   6.0100  4.5", "   6.01"}) {
    WriteText(dir + "/cut.ra1", text + cut);
    const Scan s(dir + "/cut.ra1");
    ASSERT_EQ(s.ok, 1) << cut << ": " << s.error;
    EXPECT_EQ(s.n, 11) << cut;
  }
  // A complete-looking last row without its line end may have been cut as well
  // ("1.00000e-02" of "1.00000e-025"): it is left out too.
  WriteText(dir + "/whole.ra1", text + "   6.0100  4.5  1.00000e-02");
  EXPECT_EQ(Scan(dir + "/whole.ra1").n, 11);
  WriteText(dir + "/whole.ra1", text + "   6.0100  4.5  1.00000e-02\n");
  EXPECT_EQ(Scan(dir + "/whole.ra1").n, 12);
  // A complete last row without a line end whose last word is damaged, not cut, is
  // refused in the two-column layout as in the three-column one.
  for (const char* type : {"R", "P"}) {
    const bool three = std::string(type) == "R";
    std::string damaged = "scan\n" + std::string(type) + " 2 20.0 40000 1000 1.6000e+10 280 1\n";
    for (int i = 0; i < 11; ++i) damaged += "   5.9" + std::to_string(10 + i) + "  4.5" + (three ? "  0.01\n" : "\n");
    WriteText(dir + "/damaged.ip1", damaged + (three ? "   6.0600  2.6abc  0.01" : "   6.0600  2.6abc"));
    const Scan s(dir + "/damaged.ip1");
    EXPECT_EQ(s.ok, 0) << type;
    EXPECT_EQ(s.error, "line 14 holds \"2.6abc\", which is not a number") << type;
  }
}

TEST_F(ScanFileTest, IsolatedSpikeIsDroppedFromAbsorbanceDataOnly) {
  Scan abs(FixturePath("spike.ra1"));
  ASSERT_EQ(abs.ok, 1);
  ASSERT_EQ(abs.n, 5);
  for (int i = 1; i <= abs.n; ++i) EXPECT_FLOAT_EQ(abs.value[i], 0.1f);
  EXPECT_FLOAT_EQ(abs.radius[4], 5.94f) << "the spike is overwritten by the next row";

  Scan interference(FixturePath("spike.ip1"));
  ASSERT_EQ(interference.ok, 1);
  ASSERT_EQ(interference.n, 6);
  EXPECT_FLOAT_EQ(interference.value[4], 0.9f);

  ScanFile().bSkipSpikes = false;
  Scan kept(FixturePath("spike.ra1"));
  EXPECT_EQ(kept.n, 6);
}

// Only a point that jumps away and comes back is a spike: a steep gradient (the
// pile-up of a floating species at the meniscus, a bottom) rises or falls by more
// than the threshold from point to point and keeps every point; a dip below both
// neighbours is dropped as a spike above them is.
TEST_F(ScanFileTest, SteepGradientIsDataNotSpikes) {
  const std::string dir = TARMIC_TEST_OUTPUT_DIR;
  const std::string head = "steep\nR 2 20.0 40000 1000 1.6000e+10 280 1\n";
  WriteText(dir + "/falling.ra1", head + "   6.000 9.0 0\n   6.003 7.5 0\n   6.006 6.2 0\n"
                                         "   6.009 5.1 0\n   6.012 4.2 0\n   6.015 3.5 0\n   6.018 3.0 0\n");
  Scan falling(dir + "/falling.ra1");
  ASSERT_EQ(falling.ok, 1) << falling.error;
  EXPECT_EQ(falling.n, 7) << "no point of a monotone gradient is a spike";
  EXPECT_FLOAT_EQ(falling.value[4], 5.1f);
  WriteText(dir + "/rising.ra1", head + "   7.100 0.5 0\n   7.103 0.6 0\n   7.106 1.1 0\n"
                                        "   7.109 1.7 0\n   7.112 2.4 0\n   7.115 3.2 0\n");
  Scan rising(dir + "/rising.ra1");
  EXPECT_EQ(rising.n, 6);
  WriteText(dir + "/dip.ra1", head + "   6.000 1.0 0\n   6.010 1.0 0\n   6.020 1.0 0\n"
                                     "   6.030 0.2 0\n   6.040 1.0 0\n   6.050 1.0 0\n");
  Scan dip(dir + "/dip.ra1");
  ASSERT_EQ(dip.n, 5);
  for (int i = 1; i <= dip.n; ++i) EXPECT_FLOAT_EQ(dip.value[i], 1.0f);
}

TEST_F(ScanFileTest, PointsCloserThanTheMinimumStepBecomeTheirMean) {
  Scan s(FixturePath("close_points.ra1"), true, 0.01f);
  ASSERT_EQ(s.ok, 1) << s.error;
  ASSERT_EQ(s.n, 3);
  EXPECT_NEAR(s.radius[1], 6.0045f, 1e-4);
  EXPECT_NEAR(s.value[1], 0.25f, 1e-5);
  EXPECT_NEAR(s.radius[2], 6.0165f, 1e-4);
  EXPECT_NEAR(s.value[2], 0.65f, 1e-5);
  EXPECT_NEAR(s.radius[3], 6.0255f, 1e-4);
  EXPECT_NEAR(s.value[3], 0.95f, 1e-5);
}

TEST_F(ScanFileTest, MeniscusNoteAndDescriptionCutAtAParenthesis) {
  Scan s(FixturePath("meniscus_note.ra1"));
  ASSERT_EQ(s.ok, 1) << s.error;
  EXPECT_FLOAT_EQ(s.info.meniscusNote, 5.912f);
  EXPECT_EQ(s.info.description, "run");
  EXPECT_EQ(s.n, 5) << "the note line is no data";
}

TEST_F(ScanFileTest, ReplicatesGiveTheStandardDeviationColumnWhenAsked) {
  Scan asked(FixturePath("replicates.ra1"), true);
  ASSERT_EQ(asked.ok, 1);
  ASSERT_NE(asked.third, nullptr);
  EXPECT_FLOAT_EQ(asked.third[2], 0.006f);
  Scan notAsked(FixturePath("replicates.ra1"), false);
  ASSERT_EQ(notAsked.ok, 1);
  EXPECT_EQ(notAsked.n, 6);
}

TEST_F(ScanFileTest, DescriptionIsAtMost99Characters) {
  const std::string dir = ScratchDir("long_description");
  const std::string path = dir + "/long.ra1";
  std::string text(150, 'a');
  text += "\nR 2 20.0 40000 1000 1.6000e+10 280 1\n";
  for (int i = 0; i < 4; ++i) text += "   5.90" + std::to_string(i) + "0  1.00000e-01   0.00000e+00 \n";
  WriteText(path, text);
  Scan s(path);
  ASSERT_EQ(s.ok, 1);
  EXPECT_EQ(s.info.description, std::string(99, 'a'));
}

TEST_F(ScanFileTest, SetNColumnsReadsThatManyWordsPerLine) {
  const std::string dir = ScratchDir("n_columns");
  const std::string path = dir + "/four.ra1";
  std::string text = "four columns\nR 2 20.0 40000 1000 1.6000e+10 280 1\n";
  for (int i = 0; i < 5; ++i) text += "5.9" + std::to_string(i) + " 0." + std::to_string(i + 1) + " 7 8\n";
  WriteText(path, text);
  ScanFile().bSetNColumns = true;
  ScanFile().nDataColumns = 4;
  Scan s(path);
  ASSERT_EQ(s.ok, 1) << s.error;
  ASSERT_EQ(s.n, 5);
  EXPECT_FLOAT_EQ(s.radius[5], 5.94f);
  EXPECT_FLOAT_EQ(s.value[5], 0.5f);
  EXPECT_EQ(s.third, nullptr);

  ScanFile().nDataColumns = 1;
  Scan refused(path);
  EXPECT_EQ(refused.ok, 0);
}

TEST_F(ScanFileTest, EachDataLineIsOneRowWhateverTheColumnCount) {
  // Lines of as many words as the count asked for read as one row each, whether
  // that count is the layout's, 2 or the largest; a line with one word more or
  // less is refused with its text, never read in part or spilled into the next row.
  const std::string dir = ScratchDir("line_rows");
  const std::string path = dir + "/rows.ra1";
  for (int columns : {0, 2, kMaxDataColumns}) {
    const int words = columns > 0 ? columns : 3;
    std::string text = "rows\nR 2 20.0 40000 1000 1.6000e+10 280 1\n";
    for (int i = 0; i < 6; ++i) {
      text += "5.9" + std::to_string(i) + " 0." + std::to_string(i + 1);
      for (int w = 2; w < words; ++w) text += " 0.01";
      text += "\n";
    }
    WriteText(path, text);
    ScanFile().bSetNColumns = columns > 0;
    ScanFile().nDataColumns = columns > 0 ? columns : 2;
    Scan s(path);
    ASSERT_EQ(s.ok, 1) << columns << " " << s.error;
    ASSERT_EQ(s.n, 6) << columns;
    for (int i = 1; i <= 6; ++i) {
      EXPECT_FLOAT_EQ(s.radius[i], 5.9f + 0.01f * static_cast<float>(i - 1)) << columns;
      EXPECT_FLOAT_EQ(s.value[i], 0.1f * static_cast<float>(i)) << columns;
    }
    const std::size_t third = text.find("5.92");
    const std::size_t end = text.find('\n', third);
    for (const std::string& row : {text.substr(third, end - third) + " 99", text.substr(third, text.rfind(' ', end) - third)}) {
      WriteText(path, text.substr(0, third) + row + text.substr(end));
      Scan refused(path);
      EXPECT_EQ(refused.ok, 0) << columns << " " << row;
      EXPECT_NE(refused.error.find("line 5 has too "), std::string::npos) << refused.error;
      EXPECT_NE(refused.error.find(": \"" + row.substr(0, 60)), std::string::npos) << refused.error;
    }
  }
  // A count beyond the largest is refused by the reader as well.
  ScanFile().bSetNColumns = true;
  ScanFile().nDataColumns = kMaxDataColumns + 1;
  Scan refused(path);
  EXPECT_EQ(refused.ok, 0);
  EXPECT_NE(refused.error.find("outside 2 to 20"), std::string::npos) << refused.error;
  // A short line is refused with its line, inside the data as at their end; only
  // a last line the file ends inside may be cut short (above).
  ScanFile().bSetNColumns = false;
  WriteText(path, "rows\nR 2 20.0 40000 1000 1.6000e+10 280 1\n5.90 0.1 0.01\n5.91\n5.92 0.3 0.01\n5.93\n");
  Scan shortLine(path);
  EXPECT_EQ(shortLine.ok, 0);
  EXPECT_NE(shortLine.error.find("line 4 has too few values"), std::string::npos) << shortLine.error;
  WriteText(path, "rows\nR 2 20.0 40000 1000 1.6000e+10 280 1\n5.90 0.1 0.01\n5.91 0.2 0.01\n5.92 0.3 0.01\n5.93\n");
  Scan shortEnd(path);
  EXPECT_EQ(shortEnd.ok, 0);
  EXPECT_EQ(shortEnd.error, "line 6 has too few values (1 of 3): \"5.93\"");
}

TEST_F(ScanFileTest, CrLfAndCrOnlyLineEndsReadLikeLineFeeds) {
  // Old Macintosh files end their lines with a lone CR, DOS files with CR LF; the
  // scan reader and the shared whole-file reader treat both as a line end.
  Scan lf(FixturePath("absorbance.ra1"));
  ASSERT_EQ(lf.ok, 1);
  std::string text;
  ASSERT_TRUE(ReadWholeTextFile(FixturePath("absorbance.ra1"), LastLine::kAsItStands, &text));
  const std::string path = ScratchDir("cr_only") + "/absorbance.ra1";
  for (const char* end : {"\r", "\r\n"}) {
    std::string converted;
    for (char c : text) converted += c == '\n' ? std::string(end) : std::string(1, c);
    WriteText(path, converted);
    Scan cr(path);
    ASSERT_EQ(cr.ok, 1) << cr.error;
    ASSERT_EQ(cr.n, lf.n);
    EXPECT_EQ(cr.info.description, lf.info.description);
    EXPECT_EQ(cr.info.rpm, lf.info.rpm);
    for (int i = 1; i <= lf.n; ++i) {
      EXPECT_EQ(cr.radius[i], lf.radius[i]);
      EXPECT_EQ(cr.value[i], lf.value[i]);
    }
  }
  WriteText(path, "a\rb\r\nc\r");
  std::string read;
  ASSERT_TRUE(ReadWholeTextFile(path, LastLine::kAsItStands, &read));
  EXPECT_EQ(read, "a\nb\nc\n");
}

// Bytes the wholeFileBytes hook serves (a batch run's scans, read once) read as the
// same bytes read from disk under every rule of a last line: byte-order mark, CR LF
// and lone CR, empty, an unended last line; a scan read from served bytes is the scan
// read from disk. A path the hook does not serve goes to the disk.
TEST_F(ScanFileTest, ServedBytesReadAsTheDisk) {
  std::map<std::string, std::string> served;
  auto serve = [&served](const std::string& path) -> const std::string* {
    const auto it = served.find(path);
    return it == served.end() ? nullptr : &it->second;
  };
  const std::string dir = ScratchDir("whole_file_source");
  const std::string forms[] = {"", "a\nb", "\xEF\xBB\xBF" "first\r\nsecond\r", "\xEF\xBB", "x\r\r\ny\n\xEF\xBB\xBF",
                               "1 2\n3 4  \t"};
  int k = 0;
  for (const std::string& bytes : forms) {
    for (const LastLine rule : {LastLine::kRefused, LastLine::kLeftOut, LastLine::kAsItStands}) {
      SCOPED_TRACE(::testing::Message() << "form " << k << " rule " << static_cast<int>(rule));
      const std::string path = dir + "/form" + std::to_string(++k) + ".txt";
      WriteText(path, bytes);
      TextRead disk, fromHook;
      std::string diskWhy, hookWhy;
      const bool diskRead = ReadTextFile(path, rule, &disk, &diskWhy);
      served[path] = bytes;
      std::remove(path.c_str());
      GetDataSetHooks().wholeFileBytes = serve;
      const bool hookRead = ReadServedTextFile(path, rule, &fromHook, &hookWhy);
      GetDataSetHooks().wholeFileBytes = nullptr;
      EXPECT_EQ(hookRead, diskRead);
      EXPECT_EQ(hookWhy, diskWhy);
      EXPECT_EQ(fromHook.text, disk.text);
      EXPECT_EQ(fromHook.leftOutLine, disk.leftOutLine);
      EXPECT_EQ(fromHook.leftOutText, disk.leftOutText);
    }
  }
  // A scan with an unended (cut) last row: the same rows and the same note.
  const std::string scanPath = dir + "/served.ra1";
  std::string scan = "served\nR 2 20.0 40000 1000 1.6000e+10 280 1\r\n";
  for (int i = 0; i < 5; ++i) scan += "   6.0" + std::to_string(i) + "00  2.00000e-01   0.00000e+00 \r\n";
  scan += "   6.0600  2.0";
  WriteText(scanPath, scan);
  Scan fromDisk(scanPath);
  ASSERT_EQ(fromDisk.ok, 1) << fromDisk.error;
  served[scanPath] = scan;
  std::remove(scanPath.c_str());
  GetDataSetHooks().wholeFileBytes = serve;
  {
    Scan fromHook(scanPath);
    ASSERT_EQ(fromHook.ok, 1) << fromHook.error;
    ASSERT_EQ(fromHook.n, fromDisk.n);
    for (int i = 1; i <= fromDisk.n; ++i) {
      EXPECT_EQ(fromHook.radius[i], fromDisk.radius[i]);
      EXPECT_EQ(fromHook.value[i], fromDisk.value[i]);
    }
    EXPECT_EQ(fromHook.notes, fromDisk.notes);
    EXPECT_EQ(fromHook.info.description, fromDisk.info.description);
  }
  // Not served: the disk, which says the file is not there, or reads it.
  std::string text;
  EXPECT_FALSE(ReadWholeTextFile(dir + "/absent.txt", LastLine::kRefused, &text));
  WriteText(dir + "/disk.txt", "on disk\r\n");
  EXPECT_TRUE(ReadWholeTextFile(dir + "/disk.txt", LastLine::kRefused, &text));
  EXPECT_EQ(text, "on disk\n");
  GetDataSetHooks().wholeFileBytes = nullptr;
}

TEST_F(ScanFileTest, TrailingZeroRadiiAreTrimmedInTheTwoColumnLayout) {
  const std::string dir = ScratchDir("zero_radii");
  const std::string path = dir + "/zeros.ra1";
  std::string text = "zeros\nR 2 20.0 40000 1000 1.6000e+10 280 1\n";
  for (int i = 0; i < 4; ++i) text += "   5.9" + std::to_string(i) + "00  1.00000e-01   0.00000e+00 \n";
  text += "   0.0000  0.00000e+00   0.00000e+00 \n   0.0000  0.00000e+00   0.00000e+00 \n";
  WriteText(path, text);
  Scan s(path);
  ASSERT_EQ(s.ok, 1);
  EXPECT_EQ(s.n, 4);
}

struct Refusal {
  const char* file;
  const char* reason;  // part of the message
};

class RefusedFileTest : public ScanDataTest, public ::testing::WithParamInterface<Refusal> {};

TEST_P(RefusedFileTest, IsRefusedWithAClearMessageAndAllocatesNothing) {
  ScanInfo info;
  int n = -7;
  float* radius = reinterpret_cast<float*>(0x1);
  float* value = reinterpret_cast<float*>(0x2);
  float* third = reinterpret_cast<float*>(0x3);
  std::string error;
  const int ok = ReadScanFile(FixturePath(GetParam().file).c_str(), &info, &n, &radius, &value,
                              &third, nullptr, 0.0f, &error);
  EXPECT_EQ(ok, 0);
  EXPECT_NE(error.find(GetParam().reason), std::string::npos) << error;
  EXPECT_EQ(n, -7);
  EXPECT_EQ(radius, reinterpret_cast<float*>(0x1));
  EXPECT_EQ(value, reinterpret_cast<float*>(0x2));
  EXPECT_EQ(third, reinterpret_cast<float*>(0x3));
}

INSTANTIATE_TEST_SUITE_P(
    MalformedScanFiles, RefusedFileTest,
    ::testing::Values(Refusal{"missing.ra1", "cannot be opened"}, Refusal{"empty.ra1", "empty"},
                      Refusal{"no_linefeed.ra1", "ends inside line 1, which has no line end"},
                      Refusal{"header_only.ra1", "fewer than two data rows"},
                      Refusal{"one_row.ra1", "fewer than two data rows"},
                      Refusal{"no_scan_line.ra1", "must begin with R, I, P, F, W or V"},
                      Refusal{"zero_rpm.ra1", "rotor speed"}, Refusal{"text_rpm.ra1", "rotor speed"},
                      Refusal{"long_word.ra1", "too long"}));

TEST_F(ScanFileTest, WriteThenReadKeepsEveryPointAndTheHeader) {
  Scan original(FixturePath("absorbance.ra1"));
  ASSERT_EQ(original.ok, 1);
  const std::string path = ScratchDir("round_trip") + "/copy.ra1";
  ASSERT_TRUE(WriteScanFile(path.c_str(), original.n, original.radius, original.value, nullptr,
                            nullptr, false, original.info));
  Scan back(path);
  ASSERT_EQ(back.ok, 1) << back.error;
  ASSERT_EQ(back.n, original.n);
  for (int i = 1; i <= back.n; ++i) {
    EXPECT_NEAR(back.radius[i], original.radius[i], 5e-5);
    EXPECT_NEAR(back.value[i], original.value[i], 1e-5 * std::fabs(original.value[i]));
  }
  EXPECT_EQ(back.info.description, "[T OK]cell 2 run 5 - absorbance test scan");
  EXPECT_TRUE(back.info.timeStampOk);
  EXPECT_DOUBLE_EQ(back.info.recordedTime, 1000.0);
  EXPECT_DOUBLE_EQ(back.info.omega2t, 1.6e10);
}

TEST_F(ScanFileTest, WriterLayoutsFollowTheScanType) {
  const float radius[] = {0, 5.9f, 5.91f};
  const float value[] = {0, 0.5f, 0.25f};
  ScanInfo info;
  info.description = "[TIMESTAMP CORRECTED 1.002000]run";
  info.scanType = 'R';
  info.cell = 3;
  info.temperature = 20.04f;
  info.rpm = 42000.7f;
  info.recordedTime = 3600.9;
  info.omega2t = 6.5e10;
  info.wavelength = 280.6f;
  info.replicates = 1;
  const std::string dir = ScratchDir("layouts");

  ASSERT_TRUE(WriteScanFile((dir + "/r.ra1").c_str(), 2, radius, value, nullptr, nullptr, true, info));
  EXPECT_EQ(ReadText(dir + "/r.ra1"),
            "[TIMESTAMP CORRECTED 1.002000]run\n"
            "R 3 20.0 42000 3600 6.5000e+10 280 1\n"
            "   5.9000  5.00000e-01   0.00000e+00 \n"
            "   5.9100  2.50000e-01   0.00000e+00 \n");

  info.scanType = 'W';
  info.wavelength = 6.5f;
  ASSERT_TRUE(WriteScanFile((dir + "/w.wa1").c_str(), 2, radius, value, nullptr, "scan", true, info));
  EXPECT_EQ(ReadText(dir + "/w.wa1").substr(0, 44),
            "[T OK]scan\nW 3 20.0 42000 3600 6.5000e+10 6.");
  EXPECT_NE(ReadText(dir + "/w.wa1").find(" 6.500 1\n"), std::string::npos);

  info.scanType = 'P';
  ASSERT_TRUE(WriteScanFile((dir + "/p.ip1").c_str(), 2, radius, value, nullptr, "scan", true, info));
  EXPECT_NE(ReadText(dir + "/p.ip1").find("   5.9000  5.00000e-01 \n   5.9100"), std::string::npos);
}

TEST_F(ScanFileTest, WriterPutsTheRecordedFileTimesOnTheNewFile) {
  const float radius[] = {0, 5.9f, 5.91f};
  const float value[] = {0, 0.5f, 0.25f};
  ScanInfo info;
  info.scanType = 'R';
  info.rpm = 40000;
  info.fileTimesValid = true;
  info.lastWriteTime = 1500000000LL * 1000000000LL;
  info.lastAccessTime = info.lastWriteTime;
  const std::string path = ScratchDir("file_times") + "/t.ra1";
  ASSERT_TRUE(WriteScanFile(path.c_str(), 2, radius, value, nullptr, "x", true, info));
  FileTimes times = GetFileTimes(path);
  ASSERT_TRUE(times.valid);
  EXPECT_EQ(times.lastWrite, info.lastWriteTime);
}

TEST_F(ScanFileTest, WritersReportFailure) {
  const float radius[] = {0, 5.9f, 5.91f};
  const float value[] = {0, 0.5f, 0.25f};
  ScanInfo info;
  info.scanType = 'R';
  EXPECT_FALSE(WriteScanFile("/nonexistent-directory/x.ra1", 2, radius, value, nullptr, "x", true, info));
  EXPECT_FALSE(WriteRadialScanFile("/nonexistent-directory/x.ra1", 2, radius, value, nullptr, "x", true,
                                   0, 0, 0, false, 'R', 1, 20, 40000, 10, 1e9, 280, 1));
}

// Every layout (radial scans of each optics, wavelength scans, electrophoresis) has
// its header values checked by one set of rules: a value no run can have refuses
// the file with line 2, as does a number that is no number as a whole.
TEST_F(ScanFileTest, ImpossibleHeaderValuesOfEveryLayoutRefuseTheFileWithLineTwo) {
  const std::string dir = ScratchDir("impossible_header");
  auto rows = [](int count, const char* third = "0.0") {
    std::string text;
    for (int i = 0; i < count; ++i) text += Format("   %.4f  0.1   %s \n", 5.9 + 0.01 * i, third);
    return text;
  };
  struct Case {
    const char* name;
    std::string line2;
    bool electrophoresis;
    std::string error;
  } cases[] = {
      {"time", "R 2 20.0 40000 1e30 1.6000e+10 280 1", false,
       "line 2 holds the time 1e+30 s, outside the times of a run (0 to 1e+08 s)"},
      {"w2t_beyond_any_rotor", "I 2 20.0 40000 1000 1e30 280 1", false,
       "line 2 holds the omega^2 t 1e+30, outside what a rotor reaches in a run (0 to 1.097e+16)"},
      {"wavelength_huge", "P 2 20.0 40000 1000 1.6000e+10 1e30 1", false,
       "line 2 holds the wavelength 1e+30 nm, outside the wavelengths of an optical system (0 to 10000 nm)"},
      {"spectrum_radius", "W 2 20.0 3000 600 5.9000e+07 1e30 1", false,
       "line 2 holds the radius 1e+30 cm, outside the positions in a cell (0 to 1e+06 cm)"},
      {"cell_negative", "F -5 20.0 40000 1000 1.6000e+10 488 1", false,
       "line 2 holds the cell -5, outside the cell numbers of a rotor (0 to 99)"},
      {"cell_huge", "R 1e9 20.0 40000 1000 1.6000e+10 280 1", false,
       "line 2 holds the cell 1e+09, outside the cell numbers of a rotor (0 to 99)"},
      {"replicates", "R 2 20.0 40000 1000 1.6000e+10 280 -7", false,
       "line 2 holds the number of replicates -7, outside the readings averaged per point (0 to 100000)"},
      {"hex_speed", "R 2 20.0 0x10 1000 1.6000e+10 280 1", false,
       "line 2 holds \"0x10\" as the rotor speed, which is not a number"},
      {"speed_with_unit", "R 2 20.0 40000rpm 1000 1.6000e+10 280 1", false,
       "line 2 holds \"40000rpm\" as the rotor speed, which is not a number"},
      {"electrophoresis_negative_time", "R 0 -5 280 3 0", true,
       "line 2 holds the time -5 s, outside the times of a run (0 to 1e+08 s)"},
      {"electrophoresis_replicates", "R 0 60 280 -7 0", true,
       "line 2 holds the number of replicates -7, outside the readings averaged per point (0 to 100000)"},
      {"electrophoresis_hex_time", "R 0 0x3C 280 3 0", true,
       "line 2 holds \"0x3C\" as the time, which is not a number"},
      // Whole numbers take no fraction: neither cut nor rounded.
      {"cell_fraction", "R 1.5 20.0 50000 1000 1.6000e+10 280 1", false,
       "line 2 holds \"1.5\" as the cell, which is not a whole number"},
      {"cell_nearly_three", "R 2.9 20.0 50000 1000 1.6000e+10 280 1", false,
       "line 2 holds \"2.9\" as the cell, which is not a whole number"},
      {"replicates_fraction", "R 2 20.0 50000 1000 1.6000e+10 280 1.5", false,
       "line 2 holds \"1.5\" as the replicates, which is not a whole number"},
      {"electrophoresis_replicates_fraction", "R 0 60 280 1.5 0", true,
       "line 2 holds \"1.5\" as the replicates, which is not a whole number"},
  };
  for (const Case& c : cases) {
    const std::string path = dir + "/" + c.name + ".ra1";
    WriteText(path, "scan\n" + c.line2 + "\n" + rows(6));
    ScanFile().bElectrophoresisMode = c.electrophoresis;
    Scan s(path);
    EXPECT_EQ(s.ok, 0) << c.name;
    EXPECT_EQ(s.error, c.error) << c.name;
    EXPECT_EQ(s.radius, nullptr) << c.name;
  }
}

// A header that lacks a value an instrument did not record reads with a note that
// says so: omega^2 t of 0 at a later time (no acceleration phase is made of it), a
// wavelength or a spectrum's radius of 0. The fixtures carry none of them.
TEST_F(ScanFileTest, HeaderValuesThatWereNotRecordedLoadWithANote) {
  const std::string dir = ScratchDir("unrecorded_header");
  std::string rows, interferenceRows;
  for (int i = 0; i < 5; ++i) rows += Format("   %.4f  0.1   0.0 \n", 5.9 + 0.01 * i);
  for (int i = 0; i < 5; ++i) interferenceRows += Format("   %.4f  0.1 \n", 5.9 + 0.01 * i);
  struct Case {
    const char* name;
    std::string line2;
    const char* note;  // what the note says
  } cases[] = {
      {"no_w2t", "R 2 20.0 40000 600 0 280 1", "omega^2 t 0 at a time above 0"},
      {"no_time", "P 2 20.0 40000 0 1.6000e+10 675 1", "omega^2 t above what a rotor reaches"},
      {"time_too_short", "F 2 20.0 40000 100 1.6000e+10 488 1", "omega^2 t above what a rotor reaches"},
      {"no_wavelength", "I 2 20.0 40000 1000 1.6000e+10 0 1", "the wavelength 0"},
      {"no_spectrum_radius", "V 2 20.0 3000 600 5.9000e+07 0 1", "the radius 0 of a wavelength scan"},
  };
  for (const Case& c : cases) {
    const std::string path = dir + "/" + c.name + ".ra1";
    // (A fluorescence scan names its detector's keys, whose absence is noted too.)
    WriteText(path, std::string(c.line2[0] == 'F' ? "scan Voltage: 550 Gain: 8 Range: 3" : "scan") + "\n" + c.line2 +
                        "\n" + (c.line2[0] == 'P' ? interferenceRows : rows));
    Scan s(path);
    ASSERT_EQ(s.ok, 1) << c.name << ": " << s.error;
    ASSERT_EQ(s.notes.size(), 1u) << c.name;
    EXPECT_NE(s.notes[0].find(c.note), std::string::npos) << s.notes[0];
    EXPECT_EQ(s.notes[0].rfind("line 2 holds ", 0), 0u) << s.notes[0];
  }
  // Without omega^2 t there is no lag behind rpm^2 t to see: no ramp of 1.5 x 600 s.
  Scan noW2t(dir + "/no_w2t.ra1");
  EXPECT_DOUBLE_EQ(noW2t.info.accelTime, 0.0);
  EXPECT_DOUBLE_EQ(noW2t.info.accelRate, 1.0e6);
  // Equilibrium data use no times: nothing to note about them.
  DataSet().bEquilibriumMode = true;
  Scan equilibrium(dir + "/no_w2t.ra1");
  EXPECT_EQ(equilibrium.ok, 1);
  EXPECT_TRUE(equilibrium.notes.empty());
  DataSet().bEquilibriumMode = false;

  for (const char* name : {"absorbance.ra1", "absorbance_crlf.ra1", "close_points.ra1", "fluorescence.fa1",
                           "intensity.ri1", "interference.ip1", "meniscus_note.ra1", "replicates.ra1",
                           "spike.ip1", "spike.ra1", "wavelength.wa1",
                           "wavelength_intensity.wi1", "set_abs/00001.ra1",
                           "set_abs/00002.ra1", "set_abs/00003.ra1"}) {
    Scan s(FixturePath(name));
    EXPECT_EQ(s.ok, 1) << name << ": " << s.error;
    EXPECT_TRUE(s.notes.empty()) << name << ": " << (s.notes.empty() ? "" : s.notes[0]);
  }
  // A file that ends inside its last row says that the row is not read.
  Scan truncated(FixturePath("truncated_last.ra1"));
  EXPECT_EQ(truncated.ok, 1) << truncated.error;
  ASSERT_EQ(truncated.notes.size(), 1u);
  EXPECT_EQ(truncated.notes[0], "line 15 is cut short (the file ends inside it) and is not read");
  ScanFile().bElectrophoresisMode = true;
  Scan electrophoresis(FixturePath("electrophoresis.ep1"));
  EXPECT_EQ(electrophoresis.ok, 1) << electrophoresis.error;
  EXPECT_TRUE(electrophoresis.notes.empty());
}

// A data value must be a decimal number as a whole and a signal a detector can give:
// 1e30 among 121 rows refuses the file with its line instead of being dropped as a
// spike (120 points), as does "0.1abc" or a hexadecimal word. The reference column of
// intensity scans is a signal as well; a column the layout drops is not read.
TEST_F(ScanFileTest, DataValuesThatAreNoWholeNumberOrNoSignalRefuseTheFileWithTheirLine) {
  const std::string dir = ScratchDir("impossible_values");
  auto file = [&dir](const char* name, const char* line2, int badRow, const char* bad, bool thirdBad) {
    std::string text = std::string("values\n") + line2 + "\n";
    for (int i = 0; i < 121; ++i) {
      const bool here = i == badRow;
      text += Format("   %.4f  %s   %s \n", 5.9 + 0.001 * i, here && !thirdBad ? bad : "0.1",
                     here && thirdBad ? bad : "0.2");
    }
    const std::string path = dir + "/" + name + ".ra1";
    WriteText(path, text);
    return path;
  };
  const char* absorbance = "R 2 20.0 40000 1000 1.6000e+10 280 1";
  struct Case {
    const char* name;
    std::string path;
    std::string error;
  } cases[] = {
      {"huge", file("huge", absorbance, 60, "1e30", false),
       "line 63 holds the value 1e+30, outside the signals of a detector (-1e+10 to 1e+10)"},
      {"huge_negative", file("huge_negative", absorbance, 0, "-3e12", false),
       "line 3 holds the value -3e+12, outside the signals of a detector (-1e+10 to 1e+10)"},
      {"trailing", file("trailing", absorbance, 10, "0.1abc", false),
       "line 13 holds \"0.1abc\", which is not a number"},
      {"hex", file("hex", absorbance, 10, "0x1", false), "line 13 holds \"0x1\", which is not a number"},
      {"reference", file("reference", "I 2 20.0 40000 1000 1.6000e+10 280 1", 5, "1e30", true),
       "line 8 holds the value 1e+30, outside the signals of a detector (-1e+10 to 1e+10)"},
  };
  for (const Case& c : cases) {
    Scan s(c.path);
    EXPECT_EQ(s.ok, 0) << c.name;
    EXPECT_EQ(s.error, c.error) << c.name;
  }
  Scan dropped(file("dropped", absorbance, 5, "1e30", true), false);
  ASSERT_EQ(dropped.ok, 1) << dropped.error;
  EXPECT_EQ(dropped.n, 121);
}

// UTF-16 (with or without a byte-order mark), UTF-32 and binary files are said to be
// no plain text, not "no scan-information line"; a UTF-8 byte-order mark is no part
// of the description.
TEST_F(ScanFileTest, FilesThatAreNoPlainTextSaySo) {
  const std::string dir = ScratchDir("not_plain_text");
  const std::string text = ReadText(FixturePath("absorbance.ra1"));
  auto utf16 = [&text](bool bigEndian, bool mark) {
    std::string out = mark ? (bigEndian ? std::string("\xFE\xFF") : std::string("\xFF\xFE")) : std::string();
    for (char c : text) out += bigEndian ? std::string{'\0', c} : std::string{c, '\0'};
    return out;
  };
  struct Case {
    const char* name;
    std::string bytes;
    std::string error;
  } cases[] = {
      {"utf16le_mark", utf16(false, true),
       "the file is not plain text: it is UTF-16 text (with a byte-order mark); save it as plain text "
       "(ASCII or UTF-8)"},
      {"utf16be_mark", utf16(true, true),
       "the file is not plain text: it is UTF-16 text (with a byte-order mark); save it as plain text "
       "(ASCII or UTF-8)"},
      {"utf16le", utf16(false, false),
       "the file is not plain text: it is UTF-16 text (without a byte-order mark); save it as plain "
       "text (ASCII or UTF-8)"},
      {"utf16be", utf16(true, false),
       "the file is not plain text: it is UTF-16 text (without a byte-order mark); save it as plain "
       "text (ASCII or UTF-8)"},
      {"utf32", std::string("\xFF\xFE\0\0", 4) + "x",
       "the file is not plain text: it is UTF-32 text; save it as plain text (ASCII or UTF-8)"},
      {"zero_byte", text + std::string("\x01\x02\0\x7F", 4),
       "the file is not plain text: it holds binary data (a zero byte in line 15)"},
      {"control", "scan\nR 2 20.0 40000 1000 1.6000e+10 280 1\n\x03\x04\n",
       "the file is not plain text: it holds binary data (the control character 0x03 in line 3)"},
  };
  for (const Case& c : cases) {
    const std::string path = dir + "/" + c.name + ".ra1";
    WriteText(path, c.bytes);
    Scan s(path);
    EXPECT_EQ(s.ok, 0) << c.name;
    EXPECT_EQ(s.error, c.error) << c.name;
  }
  WriteText(dir + "/utf8.ra1", "\xEF\xBB\xBF" + text);
  Scan utf8(dir + "/utf8.ra1");
  ASSERT_EQ(utf8.ok, 1) << utf8.error;
  EXPECT_EQ(utf8.info.description, "cell 2 run 5 - absorbance test scan");
}


// The kind flags and the spike threshold describe the loaded data: a file refused
// after its type letter was read (bad header values, bad rows, too few rows)
// leaves them as they were. The reader proper reports an accepted file's kind and
// changes no global; in electrophoresis mode it takes the kind it is given, which
// decides whether spikes are dropped.
TEST_F(ScanFileTest, ARefusedFileLeavesTheKindInForceAndTheReaderProperSetsNone) {
  const std::string dir = ScratchDir("kind_in_force");
  std::string badRow = "fluorescence with a word\nF 2 20.0 40000 1000 1.6000e+10 488 1\n";
  for (int i = 0; i < 4; ++i) badRow += "   5.9" + std::to_string(i) + "00  1.0e+02   1.0 \n";
  badRow.replace(badRow.find("1.0e+02"), 7, "nan");
  WriteText(dir + "/bad_row.fa1", badRow);
  WriteText(dir + "/short_header.ri1",
            "intensity\nI 2 20.0 40000\n   5.9  1000  500\n   6.0  1000  500\n");
  const auto setInForce = [] {
    ScanFile().bAbsorbanceData = ScanFile().bIntensityData = ScanFile().bFluorescenceData = false;
    ScanFile().bInterferenceData = true;
    ScanFile().fSpikeThreshold = ScanFile().fSpikeThresholdFDS;
  };
  for (const std::string& path : {FixturePath("one_row.ra1"), FixturePath("zero_rpm.ra1"),
                                  dir + "/bad_row.fa1", dir + "/short_header.ri1"}) {
    setInForce();
    Scan s(path);
    EXPECT_EQ(s.ok, 0) << path;
    EXPECT_TRUE(ScanFile().bInterferenceData) << path;
    EXPECT_FALSE(ScanFile().bAbsorbanceData || ScanFile().bIntensityData || ScanFile().bFluorescenceData) << path;
    EXPECT_FLOAT_EQ(ScanFile().fSpikeThreshold, ScanFile().fSpikeThresholdFDS) << path;
  }

  // Accepted by the reader proper: the kind comes back, nothing is put in force.
  setInForce();
  const auto read = [](const std::string& path, const ScanDataKind& inForce, ScanDataKind* kind) {
    ScanInfo info;
    int n = 0;
    float *r = nullptr, *y = nullptr;
    const int ok = ReadScanFileAndKind(path.c_str(), inForce, kind, &info, &n, &r, &y, nullptr,
                                       nullptr, 0.0f);
    if (ok) {
      free_vector(r, 1, n);
      free_vector(y, 1, n);
    }
    return ok ? n : 0;
  };
  ScanDataKind kind;
  ASSERT_EQ(read(FixturePath("fluorescence.fa1"), ScanDataKind::InForce(), &kind), 12);
  EXPECT_TRUE(kind.fluorescence && kind.absorbance) << "fluorescence counts as absorbance";
  EXPECT_FALSE(kind.interference || kind.intensity);
  EXPECT_FLOAT_EQ(kind.spikeThreshold, ScanFile().fSpikeThresholdFDS);
  ASSERT_EQ(read(FixturePath("intensity.ri1"), kind, &kind), 12);
  EXPECT_TRUE(kind.intensity && !kind.absorbance && !kind.fluorescence);
  EXPECT_FLOAT_EQ(kind.spikeThreshold, ScanFile().fSpikeThresholdFDS) << "intensity keeps the one in force";
  EXPECT_TRUE(ScanFile().bInterferenceData);
  EXPECT_FALSE(ScanFile().bAbsorbanceData || ScanFile().bIntensityData || ScanFile().bFluorescenceData);

  // Electrophoresis with Set n Columns: a jump of 1 up and back is a spike for data
  // of absorbance kind (threshold 0.4), not for interference data.
  std::string ep = "electrophoresis with a spike\nR 0 1200 280 1 0\n";
  for (int i = 0; i < 6; ++i) ep += Format("%.1f %s\n", 0.5 + 0.1 * i, i == 3 ? "11.0" : "10.0");
  WriteText(dir + "/spike.ep1", ep);
  ScanFile().bElectrophoresisMode = true;
  ScanFile().bSetNColumns = true;
  ScanDataKind absorbance;
  absorbance.absorbance = true;
  absorbance.spikeThreshold = ScanFile().fSpikeThresholdAbs;
  EXPECT_EQ(read(dir + "/spike.ep1", absorbance, &kind), 5);
  EXPECT_TRUE(kind.absorbance && !kind.interference);
  ScanDataKind interference;
  interference.interference = true;
  EXPECT_EQ(read(dir + "/spike.ep1", interference, &kind), 6);
  EXPECT_TRUE(kind.interference && kind.absorbance) << "electrophoresis data count as absorbance";
  EXPECT_TRUE(ScanFile().bInterferenceData);
  EXPECT_FALSE(ScanFile().bAbsorbanceData);
}

}  // namespace
}  // namespace tarmic::testing
