// The round-trip walk: every source of the program that writes a file (through the
// atomic writers of storage/) is found by a search of the sources and must stand in
// the table below, paired with the test that reads its file back or with the
// reason why nothing reads it. The pairs of the scan data set and the numerics are
// walked here with values at the edges of each field's range: the file the writer
// makes is taken by its reader, and gives the values back.
#include <gtest/gtest.h>

#include <cfloat>
#include <cmath>
#include <filesystem>
#include <fstream>
#include <map>
#include <regex>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "numerics/ccurve.h"
#include "numerics/cvector.h"
#include "numerics/matrix_table.h"
#include "numerics/one_based.h"
#include "numerics/text_lines.h"
#include "platform/headless/headless_backend.h"
#include "scandata/dls_file.h"
#include "scandata/experiment_file.h"
#include "scandata/plausibility.h"
#include "scandata/scan_file.h"
#include "scandata/text_io.h"
#include "scandata_test_support.h"

namespace tarmic {
namespace {

namespace fs = std::filesystem;

// A writer and where its file comes back: "tests/<suite>/<file>.cpp:<TestName>"
// names the test that writes and reads the file; a pair without a test says why
// nothing reads a number back from the file.
struct WriterPair {
  const char* source;
  const char* readBack;  // the test of the pair, or nullptr
  const char* why;       // without a test: why none is needed
};

constexpr const char* kThisWalk = "tests/scandata/round_trip_walk_test.cpp:EdgeValuesOfEveryFieldComeBack";

const WriterPair kWriters[] = {
    {"app/app_main.cpp", nullptr, "the last folder: a path, read back whole as text"},
    {"batch/batch_output.cpp", nullptr, "copies files the program's own writers staged, byte for byte"},
    {"batch/batch_run.cpp", nullptr,
     "the summary and peak tables for spreadsheets, and the manifest, whose names and digests the resume check "
     "compares as text"},
    {"batch/batch_set.cpp", nullptr,
     "the parameter file with the --set values: the window's parameter reader takes it back in the same run, whose "
     "values the summary checks"},
    {"batch/global_batch.cpp", nullptr, "the global analysis' tables and fitted scans for the user; the program reads none"},
    {"commands/result_pictures.cpp", "tests/batch/batch_pictures_test.cpp:PicturesShowTheFittedScansAndTheLabelledPeaks",
     nullptr},
    {"batch/batch_report.cpp", "tests/batch/batch_pictures_test.cpp:ReportShowsEveryTaskInABrowser", nullptr},
    {"app/preferences.cpp", "tests/app/preferences_test.cpp:WrittenSettingsReadBackUnchanged", nullptr},
    {"commands/distribution_range_tools.cpp", nullptr,
     "the remembered table is a path read back whole; the range report is read by no one"},
    {"commands/generate_series.cpp", nullptr, "notes for the user beside each member; the program reads none"},
    {"distributions/distribution_file.cpp", "tests/distributions/distribution_plot_test.cpp:SavedCsDistributionRoundTrips",
     nullptr},
    {"modelcalc/fit_driver.cpp", nullptr, "the covariance report, read by no one"},
    {"modelcalc/parameter_report.cpp", nullptr,
     "the parameter report, read by no one (the parameter file is written as a vector, CVector)"},
    {"modelcalc/fit_series.cpp", nullptr, "the Monte-Carlo integrals report, read by no one"},
    {"modelcalc/fluorescence_sorting.cpp",
     "tests/commands/fluorescence_commands_test.cpp:SortingTheFolderCopiesUnderDetectorNamesWithTimesAndWritesLists",
     nullptr},
    {"numerics/ccurve.cpp", kThisWalk, nullptr},
    {"numerics/cvector.cpp", kThisWalk, nullptr},
    {"numerics/matrix_table.cpp", "tests/numerics/test_matrix_table.cpp:EveryWriterRoundTripsByRowsAndByColumns",
     nullptr},
    {"plot/data_plots.cpp", nullptr, "the rmsd of each scan, a report read by no one"},
    {"scandata/dls_file.cpp", kThisWalk, nullptr},
    {"scandata/experiment_file.cpp", kThisWalk, nullptr},
    {"scandata/file_list.cpp",
     "tests/scandata/scan_loading_test.cpp:ListsAndExperimentFilesRefuseImpossibleValuesWithTheirLine", nullptr},
    {"scandata/scan_file.cpp", kThisWalk, nullptr},
    {"scandata/scan_loading.cpp",
     "tests/scandata/scan_loading_test.cpp:DistributionGridCutAtAnyByteIsRefusedNeverReadShort", nullptr},
    {"scandata/time_stamps.cpp", nullptr, "the report of corrected time stamps, read by no one"},
};

std::string ReadAll(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream text;
  text << in.rdbuf();
  return text.str();
}

// The program's sources (.cpp) outside the folders of tests, benchmarks, fuzz
// targets, documents, scripts and builds, and the given folders, relative to root.
std::set<std::string> ProgramSources(const fs::path& root, std::set<std::string> notProgram) {
  notProgram.insert({"tests", "bench", "fuzz", "docs", "scripts"});
  std::set<std::string> found;
  for (auto it = fs::recursive_directory_iterator(root); it != fs::recursive_directory_iterator(); ++it) {
    const std::string name = it->path().filename().string();
    if (it->is_directory()) {
      if (name.starts_with(".") || name.starts_with("build") || (it.depth() == 0 && notProgram.count(name)) ||
          fs::exists(it->path() / "CMakeCache.txt"))
        it.disable_recursion_pending();
      continue;
    }
    if (it->path().extension() == ".cpp") found.insert(fs::relative(it->path(), root).generic_string());
  }
  return found;
}

// The program's sources that write a file: they name an AtomicFile or call
// WriteTextFileAtomically (storage/ itself, where both are made, aside).
std::set<std::string> WritingSources(const fs::path& root) {
  static const std::regex writes(R"(\bAtomicFile\s+\w+\s*[({]|\bWriteTextFileAtomically\s*\()");
  std::set<std::string> found;
  for (const std::string& source : ProgramSources(root, {"storage"})) {
    const std::string text = ReadAll(root / source);
    if ((text.find("AtomicFile") != std::string::npos || text.find("WriteTextFileAtomically") != std::string::npos) &&
        std::regex_search(text, writes))
      found.insert(source);
  }
  return found;
}

// Every writer of the program has its row, and the test a row names exists; a row
// whose writer is gone is taken out.
TEST(RoundTripWalk, EveryFileWriterIsPairedWithItsReader) {
  const fs::path root = TARMIC_SOURCE_DIR;
  const std::set<std::string> writers = WritingSources(root);
  ASSERT_GE(writers.size(), 10u) << "the writers were not found under " << root;
  std::set<std::string> listed;
  for (const WriterPair& w : kWriters) {
    listed.insert(w.source);
    EXPECT_TRUE(writers.count(w.source)) << w.source << " writes no file any more: take its row out";
    EXPECT_NE(w.readBack == nullptr, w.why == nullptr) << w.source << ": a test or a reason, one of them";
    if (!w.readBack) continue;
    const std::string pair = w.readBack;
    const std::size_t colon = pair.find(':');
    const std::string text = ReadAll(root / pair.substr(0, colon));
    EXPECT_TRUE(std::regex_search(text, std::regex("TEST(_F|_P)?\\(\\w+,\\s*" + pair.substr(colon + 1) + "\\)")))
        << w.source << ": " << pair << " is no test";
  }
  for (const std::string& w : writers)
    EXPECT_TRUE(listed.count(w)) << w << " writes a file: pair it with the test that reads it back, or say why "
                                 << "nothing does, in kWriters";
}

// A source a census lets pass, and why.
struct Excepted {
  const char* source;
  const char* why;
};

// Writers whose files hold numbers with fixed decimals: files no reader of the
// program takes a number back from, and layouts other programs fix.
const Excepted kFixedDecimals[] = {
    {"scandata/scan_file.cpp", "scan files: the instruments' layout, which other programs read"},
    {"scandata/time_stamps.cpp", "the report of corrected time stamps and the factor in a description's mark"},
    {"commands/distribution_range_tools.cpp", "the range report"},
    {"commands/generate_series.cpp", "the notes beside each member of a series"},
    {"modelcalc/fit_driver.cpp", "the covariance report"},
    {"commands/result_pictures.cpp", "the pictures' labels and table: the digits the window's labels and report give"},
    {"modelcalc/parameter_report.cpp", "the parameter report (the parameter file is a value file)"},
    {"batch/batch_run.cpp", "the summary's columns: a table for spreadsheets with the decimals its columns state"},
    {"scandata/scan_loading.cpp", "the window's readout of the mean deviation (the grid file goes through RoundTripText)"},
};

// The census of number writers: a printf conversion with fixed decimals or a
// fixed mantissa ("%f", "%1.4f", "%e", "%.7e") writes 1e-7 as 0.000000 or cuts a
// float's digits, so that the value does not come back. No source that writes a
// file holds one, unless it stands in kFixedDecimals with its reason: the numbers
// of the program's own files go through RoundTripText (text/number_token.h).
TEST(RoundTripWalk, EveryWriterOfNumbersWritesThemSoTheyComeBack) {
  const fs::path root = TARMIC_SOURCE_DIR;
  static const std::regex literal(R"("(?:[^"\\\n]|\\.)*")");
  static const std::regex fixed(R"(%[-+ #0]*[0-9]*(\.[0-9]+)?l?[fFeE])");
  std::map<std::string, std::vector<std::string>> found;  // source -> "line: literal"
  const std::set<std::string> writers = WritingSources(root);
  for (const std::string& source : writers) {
    std::istringstream text(ReadAll(root / source));
    std::string line;
    for (int number = 1; std::getline(text, line); ++number) {
      const std::size_t first = line.find_first_not_of(" \t");
      if (line.find('%') == std::string::npos || line.compare(first, 2, "//") == 0) continue;
      for (auto it = std::sregex_iterator(line.begin(), line.end(), literal); it != std::sregex_iterator(); ++it) {
        std::string body = it->str();
        for (std::size_t at = body.find("%%"); at != std::string::npos; at = body.find("%%", at)) body.erase(at, 2);
        if (std::regex_search(body, fixed)) found[source].push_back(std::to_string(number) + ": " + it->str());
      }
    }
  }
  std::set<std::string> excepted;
  for (const auto& f : kFixedDecimals) {
    excepted.insert(f.source);
    EXPECT_TRUE(found.count(f.source)) << f.source << " writes no fixed decimals any more: take its row out";
  }
  for (const auto& [source, lines] : found)
    if (!excepted.count(source))
      for (const std::string& l : lines)
        ADD_FAILURE() << source << ":" << l << " writes a number with fixed decimals: write it with RoundTripText, "
                      << "or name the file's reason in kFixedDecimals";
  EXPECT_GE(writers.size(), 10u);
}

// The census of text readers: a file is opened for reading through OpenTextFile
// (numerics/text_lines), which opens regular files only and takes a UTF-8
// byte-order mark, or its users (ReadTextFileLines, ReadWholeTextFile,
// ReadPlainTextFile). Any other opening of a file to read stands here with its
// reason.
TEST(RoundTripWalk, EveryTextReaderOpensItsFileThroughTheOneDoor) {
  const fs::path root = TARMIC_SOURCE_DIR;
  const Excepted kOwnDoors[] = {
      {"numerics/text_lines.cpp", "the door itself"},
      {"storage/file_system.cpp", "files of /proc the kernel writes (process start times, boot id)"},
      {"platform/system.cpp", "/proc/meminfo, which the kernel writes"},
      {"services/file_exists.cpp", "FileExists opens a file only to see whether it can"},
      {"platform/qt/qt_backend.cpp", "the text viewer shows a file as it is, byte-order mark and all"},
      {"examples/make_example.cpp", "the example generator rewrites the scans it has just generated"},
      {"batch/batch_output.cpp", "copies the staged result files byte for byte (any content, not text)"},
      {"batch/batch_manifest.cpp", "the checksums of result files, byte for byte (any content, not text)"},
  };
  // A stream made with a path or opened for reading, fopen for reading, a QFile.
  static const std::regex opens(
      R"(\bstd::(i|)fstream\s*(\w+\s*)?[({]|(\.|->)open\s*\((?!options|QIODevice::WriteOnly)|\bfopen\s*\([^;]*,\s*"r|\bQFile\s+\w+\s*[;({])");
  std::set<std::string> allowed, hits;
  for (const auto& d : kOwnDoors) allowed.insert(d.source);
  for (const std::string& source : ProgramSources(root, {})) {
    std::string code;
    std::istringstream text(ReadAll(root / source));
    for (std::string line; std::getline(text, line);)
      if ((line.find("open") != std::string::npos || line.find("stream") != std::string::npos ||
           line.find("QFile") != std::string::npos) &&
          line.compare(line.find_first_not_of(" \t") == std::string::npos ? 0 : line.find_first_not_of(" \t"), 2, "//") != 0)
        code += line + "\n";
    if (!std::regex_search(code, opens)) continue;
    hits.insert(source);
    EXPECT_TRUE(allowed.count(source)) << source << " opens a file to read by itself: open it with OpenTextFile "
                                       << "(numerics/text_lines.h), or name the reason in kOwnDoors";
  }
  for (const auto& d : kOwnDoors) EXPECT_TRUE(hits.count(d.source)) << d.source << ": take its row out";
  EXPECT_GE(hits.size(), 3u);
}

// Every reader of a text file takes a UTF-8 byte-order mark before its first line,
// as editors of some systems write it: value files, tables and curves (Generate's
// distribution file is one), matrix tables, scans, dlsdat and experiment files.
TEST(RoundTripWalk, EveryTextReaderTakesAByteOrderMark) {
  ScopedHeadlessBackend backend;
  const std::string dir = testing::ScratchDir("byte_order_mark");
  const std::string mark = "\xEF\xBB\xBF";
  auto put = [&](const std::string& name, const std::string& text) {
    std::ofstream(dir + "/" + name, std::ios::binary) << mark << text;
    return dir + "/" + name;
  };
  std::vector<float> values;
  std::string failure;
  EXPECT_TRUE(ReadValueFile(put("values.ini", "2.5\n3\n").c_str(), &values, nullptr, &failure)) << failure;
  EXPECT_EQ(values, (std::vector<float>{2.5f, 3.0f}));
  CCurve curve;
  EXPECT_TRUE(curve.ReadFromFile(put("distribution.dat", "1 0.5\n2 0.25\n").c_str(), 1, 2, &failure)) << failure;
  EXPECT_EQ(curve.Count(), 2);
  int n = 0;
  float** m = ReadMatrixTable(put("table.dat", "\t1\t2\n\t3\t4\n").c_str(), 2, &n);
  ASSERT_NE(m, nullptr);
  EXPECT_EQ(m[1][1], 1.0f);
  free_matrix(m, 1, n, 1, 2);
  std::string text;
  ASSERT_TRUE(ReadWholeTextFile(put("whole.txt", "first\n"), LastLine::kRefused, &text));
  EXPECT_EQ(text, "first\n");
  std::vector<std::string> lines;
  ASSERT_TRUE(ReadTextFileLines(put("lines.txt", "first\nsecond"), LastLine::kAsItStands, &lines));
  EXPECT_EQ(lines, (std::vector<std::string>{"first", "second"}));
  EXPECT_TRUE(backend->Transcript().empty());
}

using testing::ScratchDir;

class EdgeWalk : public testing::ScanDataTest {};

// The float a field holds at the edge of its rule: the edge itself, or the float
// next to it on the inside where the edge has no float of its own.
float Edge(double edge, double inside) {
  float f = static_cast<float>(edge);
  if (inside > edge && static_cast<double>(f) < edge) f = std::nextafter(f, FLT_MAX);
  if (inside < edge && static_cast<double>(f) > edge) f = std::nextafter(f, -FLT_MAX);
  return f;
}

// The edges of the single precision a value file, a curve and a scan keep: the
// largest magnitudes, the smallest normal and subnormal values and zero.
const float kFloatEdges[] = {FLT_MAX, -FLT_MAX, FLT_MIN, -FLT_MIN, FLT_TRUE_MIN, -FLT_TRUE_MIN, 0.0f, 1.0f};

// Written with six (a scan: five) decimals of mantissa: back within that, and
// never as 0 when it was not.
void ExpectSixDigits(float back, float written, double relative = 5e-7) {
  EXPECT_NEAR(back, written, relative * std::fabs(written)) << written;
  if (written != 0.0f) EXPECT_NE(back, 0.0f) << written;
}

TEST_F(EdgeWalk, EdgeValuesOfEveryFieldComeBack) {
  const std::string dir = ScratchDir("round_trip_walk");
  const int n = static_cast<int>(std::size(kFloatEdges));

  // Value files (the s grid, settings vectors).
  {
    CVector written(static_cast<std::uint32_t>(n), kFloatEdges, 1);
    const std::string path = dir + "/values.ini";
    ASSERT_TRUE(written.WriteToFile(path.c_str()));
    std::vector<float> back;
    std::string failure;
    ASSERT_TRUE(ReadValueFile(path.c_str(), &back, nullptr, &failure)) << failure;
    ASSERT_EQ(back.size(), std::size(kFloatEdges));
    for (int i = 0; i < n; ++i) ExpectSixDigits(back[static_cast<std::size_t>(i)], kFloatEdges[i]);
  }

  // Two-column tables, written by both curve writers.
  {
    std::vector<float> x(kFloatEdges, kFloatEdges + n), y(x.rbegin(), x.rend());
    const std::string path = dir + "/curve.dat";
    x.insert(x.begin(), 0.0f);  // the table writer takes one-based arrays
    y.insert(y.begin(), 0.0f);
    ASSERT_TRUE(WriteXYTable(path.c_str(), n, x.data(), y.data()));
    x.erase(x.begin());
    y.erase(y.begin());
    const std::string curvePath = dir + "/curve_exp.dat";
    ASSERT_TRUE(CCurve(x.data(), y.data(), static_cast<std::uint32_t>(n), 0, 0).WriteToFile(curvePath.c_str()));
    for (const std::string& written : {path, curvePath}) {
      CCurve back;
      std::string failure;
      ASSERT_TRUE(back.ReadFromFile(written.c_str(), 1, 2, &failure)) << failure;
      ASSERT_EQ(back.Count(), n);
      for (int i = 0; i < n; ++i) {
        ExpectSixDigits(back.X()->Get(static_cast<std::uint32_t>(i)), x[static_cast<std::size_t>(i)]);
        ExpectSixDigits(back.Y()->Get(static_cast<std::uint32_t>(i)), y[static_cast<std::size_t>(i)]);
      }
    }
  }

  // Scans: signals at the ends of what a detector gives and the smallest a float
  // holds; the header's values at the ends of their rules.
  {
    const float signals[] = {static_cast<float>(kLargestSignal), static_cast<float>(-kLargestSignal),
                             FLT_TRUE_MIN, -FLT_MIN, 0.0f, 1e-3f};
    const int m = static_cast<int>(std::size(signals));
    float* radius = vector(1, m);
    float* value = vector(1, m);
    for (int i = 1; i <= m; ++i) {
      radius[i] = 6.0f + 0.01f * static_cast<float>(i);
      value[i] = signals[i - 1];
    }
    for (const double time : {0.0, kMaxRunTimeS}) {
      for (const float temperature : {static_cast<float>(kTemperatureRule.low), static_cast<float>(kTemperatureRule.high)}) {
        ScanInfo info;
        info.scanType = 'P';
        info.cell = 99;
        info.temperature = temperature;
        info.rpm = static_cast<float>(kMaxRotorSpeedRpm);
        info.time = info.recordedTime = time;
        info.omega2t = MaxOmega2t(time) / 2;
        info.wavelength = 675.0f;
        info.replicates = 1;
        const std::string path = dir + "/edges.ip1";
        ASSERT_TRUE(WriteScanFile(path.c_str(), m, radius, value, nullptr, "edges", false, info));
        float *r = nullptr, *v = nullptr;
        int count = 0;
        ScanInfo read;
        std::string error;
        ASSERT_EQ(ReadScanFile(path.c_str(), &read, &count, &r, &v, nullptr, nullptr, 0.0f, &error), 1)
            << error << " at time " << time << ", temperature " << temperature;
        ASSERT_EQ(count, m);
        for (int i = 1; i <= m; ++i) ExpectSixDigits(v[i], signals[i - 1], 5e-6);
        EXPECT_EQ(read.cell, 99);
        EXPECT_FLOAT_EQ(read.temperature, temperature);
        EXPECT_FLOAT_EQ(read.rpm, info.rpm);
        EXPECT_NEAR(read.time, time, 1.0);
        free_vector(r, 1, count);
        free_vector(v, 1, count);
      }
    }
    free_vector(radius, 1, m);
    free_vector(value, 1, m);
  }

  // Experiment files: each key at both ends of its row of valid values.
  {
    struct Field {
      const char* name;
      float ExperimentFile::*member;
      float low, high;
    };
    const Field fields[] = {
        {"buffer density", &ExperimentFile::bufferDensity, 0.01f, 5.0f},
        {"buffer viscosity", &ExperimentFile::bufferViscosity, 1e-6f, 100.0f},
        {"vbar", &ExperimentFile::vbar, 0.01f, 3.0f},
        {"meniscus", &ExperimentFile::meniscus, -1e6f, 1e6f},
        {"bottom", &ExperimentFile::bottom, -1e6f, 1e6f},
        {"left limit", &ExperimentFile::fitLeftLimit, -1e6f, 1e6f},
        {"weight", &ExperimentFile::weight, 0.0f, 1e6f},
        {"noise", &ExperimentFile::noise, 0.0f, 1e6f},
        {"baseline", &ExperimentFile::baseline, -1e6f, 1e6f},
        {"extinction A", &ExperimentFile::extinctionA, 0.0f, 1e8f},
        {"extinction C", &ExperimentFile::extinctionC, 0.0f, 1e8f},
        {"vbar20", &ExperimentFile::vbar20, 0.01f, 3.0f},
        {"hydration", &ExperimentFile::hydration, 0.0f, 10.0f},
        {"path length", &ExperimentFile::pathLength, 1e-6f, 10.0f},
        {"temperature", &ExperimentFile::temperature, -40.0f, 200.0f},
    };
    for (const Field& f : fields) {
      for (const float edge : {Edge(f.low, f.high), Edge(f.high, f.low)}) {
        ExperimentFile xp;
        xp.type = kXpSedVelocity;
        xp.directory = dir;
        xp.files = {"a.ra1"};
        xp.*(f.member) = edge;
        const std::string path = dir + "/edges.xp";
        std::string error;
        ASSERT_TRUE(WriteXpFile(path, xp, &error)) << f.name << " " << edge << ": " << error;
        ExperimentFile back;
        ASSERT_TRUE(LoadXpFile(path, &back, &error)) << f.name << " " << edge << ": " << error;
        EXPECT_NEAR(back.*(f.member), edge, 5e-7f * std::fabs(edge) + 5e-7f) << f.name;
      }
    }
    // A value that six decimals would write as 0 keeps its value.
    ExperimentFile tiny;
    tiny.files = {"a.ra1"};
    tiny.directory = dir;
    tiny.pathLength = 1e-7f;
    tiny.weight = -0.0f;
    tiny.noise = 3e-7f;
    std::string error;
    ASSERT_TRUE(WriteXpFile(dir + "/tiny.xp", tiny, &error)) << error;
    ExperimentFile back;
    ASSERT_TRUE(LoadXpFile(dir + "/tiny.xp", &back, &error)) << error;
    EXPECT_FLOAT_EQ(back.pathLength, 1e-7f);
    EXPECT_FLOAT_EQ(back.noise, 3e-7f);
    EXPECT_EQ(back.weight, 0.0f);
  }

  // Values the fields hold in use come back as the very float they were, where six
  // decimals lost them: diffusion coefficients near 1e-7 cm^2/s, levels near 1e-6,
  // tolerances near 1e-5, and values of seven significant digits.
  {
    const float inUse[] = {1e-7f, 6.01e-7f, 2.5e-6f, 1.5e-5f, 1.234567e-5f, 0.01002f, 3.1415927f, 550.5f};
    const int m = static_cast<int>(std::size(inUse));
    const std::string values = dir + "/in_use.ini", table = dir + "/in_use.dat";
    ASSERT_TRUE(CVector(static_cast<std::uint32_t>(m), inUse, 1).WriteToFile(values.c_str()));
    std::vector<float> back;
    std::string failure;
    ASSERT_TRUE(ReadValueFile(values.c_str(), &back, nullptr, &failure)) << failure;
    EXPECT_EQ(back, std::vector<float>(inUse, inUse + m));
    std::vector<float> x(inUse, inUse + m);
    x.insert(x.begin(), 0.0f);
    ASSERT_TRUE(WriteXYTable(table.c_str(), m, x.data(), x.data()));
    CCurve curve;
    ASSERT_TRUE(curve.ReadFromFile(table.c_str(), 1, 2, &failure)) << failure;
    for (int i = 0; i < m; ++i) EXPECT_EQ(curve.Y()->Get(static_cast<std::uint32_t>(i)), inUse[i]);

    ExperimentFile xp;
    xp.files = {"a.ra1"};
    xp.directory = dir;
    xp.bufferViscosity = 1.234567e-5f;
    xp.pathLength = 2.5e-6f;
    xp.noise = 6.01e-7f;
    xp.baseline = 3.1415927f;
    std::string error;
    ASSERT_TRUE(WriteXpFile(dir + "/in_use.xp", xp, &error)) << error;
    ExperimentFile xpBack;
    ASSERT_TRUE(LoadXpFile(dir + "/in_use.xp", &xpBack, &error)) << error;
    for (float ExperimentFile::*f : {&ExperimentFile::bufferViscosity, &ExperimentFile::pathLength,
                                     &ExperimentFile::noise, &ExperimentFile::baseline})
      EXPECT_EQ(xpBack.*f, xp.*f);

    DLSInfo record;
    record.temperatureC = 20.123457f;
    record.meanCountRate = 321.4567f;
    record.refractiveIndex = 1.3312345f;
    record.viscosity = 0.008904321f;
    record.scatteringAngle = 173.0f;
    record.laserWavelength = 6.328e-7f;
    record.bFieldACF = true;
    float* lags = vector(1, 2);
    float* ys = vector(1, 2);
    lags[1] = -6.0f;
    lags[2] = -5.5f;
    ys[1] = 0.8765432f;
    ys[2] = 1.234567e-5f;
    const std::string dls = dir + "/in_use.dlsdat";
    ASSERT_TRUE(WriteDLSDatFromRecord(dls.c_str(), 2, lags, ys, "in use", record, &error)) << error;
    DLSInfo read;
    int count = 0;
    float *rx = nullptr, *ry = nullptr;
    ASSERT_EQ(ReadDLSDatFile(dls.c_str(), &read, &count, &rx, &ry, false, &error), 1) << error;
    for (float DLSInfo::*f : {&DLSInfo::temperatureC, &DLSInfo::meanCountRate, &DLSInfo::refractiveIndex,
                              &DLSInfo::viscosity, &DLSInfo::laserWavelength})
      EXPECT_EQ(read.*f, record.*f);
    EXPECT_EQ(ry[1], ys[1]);
    EXPECT_EQ(ry[2], ys[2]);
    EXPECT_EQ(rx[2], lags[2]);
    free_vector(rx, 1, count);
    free_vector(ry, 1, count);
    free_vector(lags, 1, 2);
    free_vector(ys, 1, 2);
  }

  // DLS files: the parameter line at the ends of its rules, lag times at the ends
  // of theirs, and signals at the ends of a detector's.
  {
    const struct {
      float temperature, countRate, index, viscosity, angle, wavelength;
      double time;
    } lines[] = {
        {Edge(kTemperatureRule.low, 20), 0.0f, 1.0f, Edge(1e-6, 1), 1e-3f, Edge(kLaserWavelengthRule.low, 1),
         0.0},
        {Edge(kTemperatureRule.high, 20), Edge(kLargestSignal, 0), 10.0f, Edge(1e4, 1), 179.9f,
         Edge(kLaserWavelengthRule.high, 0), kMaxMeasurementTimeS},
    };
    const float logLags[] = {-12.0f, -3.0f, 0.0f, 6.0f};
    const float ys[] = {static_cast<float>(kLargestSignal), FLT_TRUE_MIN, -FLT_MIN, static_cast<float>(-kLargestSignal)};
    float* x = vector(1, 4);
    float* y = vector(1, 4);
    for (int i = 1; i <= 4; ++i) {
      x[i] = logLags[i - 1];
      y[i] = ys[i - 1];
    }
    for (const auto& l : lines) {
      DLSInfo record;
      record.temperatureC = l.temperature;
      record.meanCountRate = l.countRate;
      record.refractiveIndex = l.index;
      record.viscosity = l.viscosity;
      record.scatteringAngle = l.angle;
      record.laserWavelength = l.wavelength;
      record.elapsedTime = l.time;
      record.bFieldACF = true;
      const std::string path = dir + "/edges.dlsdat";
      std::string error;
      ASSERT_TRUE(WriteDLSDatFromRecord(path.c_str(), 4, x, y, "edges", record, &error)) << error;
      DLSInfo read;
      int count = 0;
      float *rx = nullptr, *ry = nullptr;
      ASSERT_EQ(ReadDLSDatFile(path.c_str(), &read, &count, &rx, &ry, false, &error), 1) << error;
      ASSERT_EQ(count, 4);
      for (int i = 1; i <= 4; ++i) {
        EXPECT_NEAR(rx[i], x[i], 1e-6f) << i;
        ExpectSixDigits(ry[i], y[i]);
      }
      EXPECT_FLOAT_EQ(read.temperatureC, l.temperature);
      EXPECT_FLOAT_EQ(read.viscosity, l.viscosity);
      EXPECT_FLOAT_EQ(read.laserWavelength, l.wavelength);
      EXPECT_NEAR(read.elapsedTime, l.time, 1e-6 * l.time + 1e-6);
      free_vector(rx, 1, count);
      free_vector(ry, 1, count);
    }
    free_vector(x, 1, 4);
    free_vector(y, 1, 4);
  }
}

// The dlsdat writer writes only what its reader takes, as the experiment writer
// does: a value beyond the signals a detector gives (3.4e38) or a lag time out of
// order leaves the target untouched and says why.
TEST_F(EdgeWalk, TheDlsWriterRefusesWhatItsReaderRefuses) {
  const std::string dir = ScratchDir("dls_writer_refusal");
  DLSInfo record;
  record.temperatureC = 20.0f;
  record.meanCountRate = 100.0f;
  record.refractiveIndex = 1.33f;
  record.viscosity = 0.01f;
  record.scatteringAngle = 90.0f;
  record.laserWavelength = 6.33e-7f;
  const std::string path = dir + "/refused.dlsdat";
  for (const auto& [lag2, value2] : {std::pair{-5.0f, 3.4e38f}, std::pair{-7.0f, 0.5f}}) {
    float x[3] = {0.0f, -6.0f, lag2};
    float y[3] = {0.0f, 0.9f, value2};
    std::filesystem::remove(path);
    std::string error;
    EXPECT_FALSE(WriteDLSDatFromRecord(path.c_str(), 2, x, y, "refused", record, &error)) << value2;
    EXPECT_EQ(error.rfind("the values would not read back: line 4: ", 0), 0u) << error;
    EXPECT_FALSE(std::filesystem::exists(path));
  }
}

}  // namespace
}  // namespace tarmic
