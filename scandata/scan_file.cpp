#include "scandata/scan_file.h"

#include <cctype>
#include <cmath>
#include <cstdio>
#include <filesystem>
#include <span>
#include <string_view>
#include <system_error>
#include <utility>
#include <vector>

#include "storage/atomic_file.h"
#include "numerics/hydrodynamics.h"
#include "numerics/one_based.h"
#include "platform/system.h"
#include "scandata/data_set.h"
#include "scandata/plausibility.h"
#include "scandata/text_io.h"
#include "text/number_token.h"

namespace tarmic {

void ResetScanFileGlobals() {
  auto& scanFilePart = ScanFile();
  scanFilePart.bAbsorbanceData = scanFilePart.bIntensityData = scanFilePart.bInterferenceData = scanFilePart.bFluorescenceData = false;
  scanFilePart.bElectrophoresisMode = false;
  scanFilePart.bSkipSpikes = true;
  scanFilePart.fSpikeThresholdAbs = 0.4f;
  scanFilePart.fSpikeThresholdFDS = 100.0f;
  scanFilePart.fSpikeThreshold = 0.4f;
  scanFilePart.bSetNColumns = false;
  scanFilePart.nDataColumns = 2;
}

bool HasTimeStampMark(const std::string& description) {
  return description.find("[TIMESTAMP CORRECTED") != std::string::npos ||
         description.find("[T OK]") != std::string::npos;
}

namespace {

// (60 / 2 pi)^2: turns rpm^2 into (rad/s)^2.
constexpr double kRpm2ToOmega2 = 91.189065278104;

bool IsTypeLetter(char c) {
  return c == 'R' || c == 'W' || c == 'I' || c == 'P' || c == 'F' || c == 'V';
}

bool IsSpace(char c) {
  return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r';
}

// Characters that a cleaned description may hold besides letters and digits.
bool IsDescriptionChar(char c) {
  if (std::isalnum(static_cast<unsigned char>(c))) return true;
  switch (c) {
    case '[': case ']': case ' ': case '_': case '-': case '#':
    case '/': case '\\': case ':': case ',': case '.':
      return true;
    default:
      return false;
  }
}

// The whitespace-separated words of the buffer from a position on, with the
// one-based number of the line they stand on (line ends are LF after reading).
class WordStream {
 public:
  WordStream(const std::string& text, std::size_t pos, int line = 1)
      : text_(text), pos_(pos), line_(line) {}

  // The next word; false at the end of the text (withinLine: at the end of the
  // current line, which is then not left). A word longer than kMaxScanFileWord
  // sets tooLongLine().
  bool Next(std::string_view* word, bool withinLine = false) {
    while (pos_ < text_.size() && IsSpace(text_[pos_])) {
      if (text_[pos_] == '\n') {
        if (withinLine) return false;
        ++line_;
      }
      ++pos_;
    }
    if (pos_ >= text_.size()) return false;
    std::size_t start = pos_;
    while (pos_ < text_.size() && !IsSpace(text_[pos_])) ++pos_;
    if (pos_ - start > static_cast<std::size_t>(kMaxScanFileWord) && tooLongLine_ == 0) tooLongLine_ = line_;
    *word = std::string_view(text_).substr(start, pos_ - start);
    return true;
  }
  // The next line that is not blank, whole (without its line end), and its number;
  // the stream then stands after it. False at the end of the text. A word longer
  // than kMaxScanFileWord in it sets tooLongLine().
  bool NextLine(std::string_view* line, int* number) {
    while (pos_ < text_.size() && IsSpace(text_[pos_])) {
      if (text_[pos_] == '\n') ++line_;
      ++pos_;
    }
    if (pos_ >= text_.size()) return false;
    std::size_t start = pos_;
    // From the start of the line, so that the text shown is the line as written.
    while (start > 0 && text_[start - 1] != '\n') --start;
    std::size_t end = text_.find('\n', pos_);
    if (end == std::string::npos) end = text_.size();
    *line = std::string_view(text_).substr(start, end - start);
    *number = line_;
    std::size_t run = 0;
    for (char c : *line) {
      run = IsSpace(c) ? 0 : run + 1;
      if (run > static_cast<std::size_t>(kMaxScanFileWord) && tooLongLine_ == 0) tooLongLine_ = line_;
    }
    pos_ = end;
    return true;
  }
  // Where the stream stands in the text.
  std::size_t pos() const { return pos_; }
  // The line of the first word that was too long; 0: none.
  int tooLongLine() const { return tooLongLine_; }
  // The line the stream stands on.
  int line() const { return line_; }
 private:
  const std::string& text_;
  std::size_t pos_;
  int line_;
  int tooLongLine_ = 0;
};

std::string TooLongText(int line) {
  return "line " + std::to_string(line) + " holds a word that is too long";
}

// The number that begins at pos (blanks skipped) as one whole word, 0 when the
// word there is no number.
float NumberAt(const std::string& text, std::size_t pos) {
  WordStream words(text, pos);
  std::string_view w;
  if (!words.Next(&w) || w.size() > static_cast<std::size_t>(kMaxScanFileWord)) return 0.0f;
  return static_cast<float>(ScanNumber(w).value);
}

// The number after a detector key of line 1 ("Voltage: 550.5"): the key where it
// stands as a word of its own (not the end of a longer word), a colon after it
// (blanks between allowed) and the word after the colon's blanks, whatever
// precedes the key in the line and however long the line is. *found says whether
// the key stands in the line; *out is left alone when it does not. A key without
// a word after it, a word that is no number of the precision, or no whole number
// where one is wanted, fails with why, naming the key; so does a key that stands
// twice (which of the two values holds is not known), and the key written in
// other letters ("voltage:", "GAIN:"), which would otherwise pass unread.
bool NumberAfterKey(std::string_view line, std::string_view key, const char* name, bool whole, double* out,
                    bool* found, std::string* why) {
  *found = false;
  auto sameLetters = [&](std::size_t at) {
    for (std::size_t k = 0; k < key.size(); ++k)
      if (std::tolower(static_cast<unsigned char>(line[at + k])) != std::tolower(static_cast<unsigned char>(key[k])))
        return false;
    return true;
  };
  for (std::size_t at = 0; at + key.size() <= line.size(); ++at) {
    if (!sameLetters(at)) continue;
    if (at > 0 && std::isalnum(static_cast<unsigned char>(line[at - 1]))) continue;
    std::size_t pos = at + key.size();
    while (pos < line.size() && (line[pos] == ' ' || line[pos] == '\t')) ++pos;
    if (pos >= line.size() || line[pos] != ':') continue;
    const std::string written(line.substr(at, key.size()));
    if (written != key) {
      *why = Format("line 1 holds \"%s:\", which is no detector key: the keys are written \"Voltage:\", "
                    "\"Gain:\" and \"Range:\"",
                    written.c_str());
      return false;
    }
    if (*found) {
      *why = Format("line 1 holds \"%s:\" twice", written.c_str());
      return false;
    }
    *found = true;
    ++pos;
    while (pos < line.size() && IsSpace(line[pos])) ++pos;
    std::size_t end = pos;
    while (end < line.size() && !IsSpace(line[end])) ++end;
    const std::string_view w = line.substr(pos, end - pos);
    if (w.empty()) {
      *why = Format("line 1 holds no %s after \"%s:\"", name, std::string(key).c_str());
      return false;
    }
    const NumberWidth width = whole ? NumberWidth::kDouble : NumberWidth::kFloat;
    const NumberScan v = whole ? ScanWholeNumber(w, width) : ScanNumber(w, width);
    const char* const kNoWhole = "is no whole number between -2147483647 and 2147483647";
    std::string reason;
    if (v.fault == NumberFault::kNotWhole || (v && whole && std::fabs(v.value) > 2147483647.0))
      reason = kNoWhole;
    else if (!v)
      reason = NumberFaultReason(v.fault, width);
    if (!reason.empty()) {
      *why = Format("line 1 holds \"%s\" as the %s, which %s", std::string(w.substr(0, 40)).c_str(), name,
                    reason.c_str());
      return false;
    }
    *out = v.value;
    at = end > at ? end - 1 : at;
  }
  return true;
}

int Fail(std::string* error, const std::string& why) {
  if (error) *error = why;
  return 0;
}

// Reads the values of line 2 (values: the text after its type letter) into out:
// exactly the fields named, no fewer (a value missing from the line is not taken
// from the data rows below it) and no more (a blank inside a number would shift
// every value after it), each what its kind says; false with why, quoting the line.
bool ReadScanInformation(std::string_view line, std::string_view values, std::span<const RowField> fields,
                         double* out, std::string* why) {
  std::size_t run = 0;
  for (char c : line) {
    run = IsSpace(c) ? 0 : run + 1;
    if (run > static_cast<std::size_t>(kMaxScanFileWord)) {
      *why = TooLongText(2);
      return false;
    }
  }
  const RowShape shape = ExactRow(fields);
  const RowScan scan = ScanTableRow(values, shape, out);
  if (!scan) *why = "line 2 " + RowFaultText(line, shape, scan);
  return static_cast<bool>(scan);
}

// After the last data row: a line whose radius is 0 ends the data of an ordinary
// file; when more lines follow it, the scan would end there without a word.
// Returns the number of that line, 0 when the data are not cut short.
int LineOfZeroRadiusBeforeMoreData(const std::string& text, std::size_t pos, int line) {
  int zeroLine = 0;
  while (pos < text.size()) {
    std::size_t end = text.find('\n', pos);
    if (end == std::string::npos) end = text.size();
    const std::size_t first = text.find_first_not_of(" \t\r", pos);
    if (first != std::string::npos && first < end) {
      if (zeroLine > 0) return zeroLine;
      if (text[first] != '0') return 0;
      zeroLine = line;
    }
    pos = end + 1;
    ++line;
  }
  return 0;
}

// Number of data rows: line feeds counted while "in data" (from a line that begins
// with a type letter on), except the last character of the buffer; in ordinary mode
// a line beginning with '0' takes its row back and ends the data.
long CountDataRows(const std::string& buf) {
  auto& scanFilePart = ScanFile();
  bool inData = false;
  long rows = 0;
  for (std::size_t i = 0; i < buf.size(); ++i) {
    if (i > 0 && buf[i - 1] == '\n' && IsTypeLetter(buf[i])) inData = true;
    if (buf[i] == '\n' && inData && i + 1 < buf.size()) {
      ++rows;
      if (!scanFilePart.bElectrophoresisMode && buf[i + 1] == '0') {
        --rows;
        inData = false;
      }
    }
  }
  return rows;
}

// What lines 1 and 2 of a scan file say. The record receives the description, the
// time-stamp mark, the meniscus note and the values of line 2 with what follows
// from them (acceleration phase, fluorescence detector keys).
struct ScanHeader {
  std::string refusal;       // why the header is no scan header; empty: read
  char type = 0;             // the type letter of line 2
  ScanDataKind kind;         // the kind of the data as line 2 names it
  std::size_t dataPos = 0;   // where line 3, the first data row, begins
  int dataLine = 3;          // the line number there
};

ScanHeader Refused(std::string why) {
  ScanHeader header;
  header.refusal = std::move(why);
  return header;
}

// The kind of data that the type letter names; in electrophoresis mode line 2 names
// none and the kind in force stays. The spike threshold is that of absorbance or
// fluorescence data; the other kinds keep the one in force.
ScanDataKind KindOfType(char type, const ScanDataKind& inForce) {
  auto& scanFilePart = ScanFile();
  if (scanFilePart.bElectrophoresisMode) return inForce;
  ScanDataKind kind;
  kind.intensity = type == 'I' || type == 'V';
  kind.absorbance = type == 'R' || type == 'W';
  kind.interference = type == 'P';
  kind.fluorescence = type == 'F';
  kind.spikeThreshold = kind.absorbance     ? scanFilePart.fSpikeThresholdAbs
                        : kind.fluorescence ? scanFilePart.fSpikeThresholdFDS
                                            : inForce.spikeThreshold;
  return kind;
}

// Reads lines 1 and 2 of the buffer (firstLF: the end of line 1) into the record and
// checks the values of line 2 (ScanHeaderRefusal); mark receives whether the
// description carries a time-stamp mark, notes what was not recorded. A refused
// header may leave the description, the type and some values in the record.
ScanHeader ReadScanHeader(const std::string& buf, std::size_t firstLF, const ScanDataKind& inForce,
                          ScanInfo* record, bool* mark, std::vector<std::string>* notes) {
  // Description: the first line, at most 99 characters, up to the first character
  // that is not allowed in it.
  {
    std::size_t len = firstLF < 99 ? firstLF : 99;
    std::string cleaned;
    for (std::size_t i = 0; i < len && IsDescriptionChar(buf[i]); ++i) cleaned.push_back(buf[i]);
    record->description = cleaned;
    record->timeStampOk = HasTimeStampMark(cleaned);
    if (mark) *mark = record->timeStampOk;
  }

  // The meniscus note: the number that begins six characters before " - meniscus".
  {
    std::size_t at = buf.find(" - meniscus");
    record->meniscusNote = (at != std::string::npos && at >= 6) ? NumberAt(buf, at - 6) : 0.0f;
  }

  // Line 2: the type letter, then the values as a stream of words.
  std::size_t pos = firstLF + 1;
  while (pos < buf.size() && (buf[pos] == ' ' || buf[pos] == '\t')) ++pos;
  if (pos >= buf.size() || buf[pos] == '\n')
    return Refused("the scan-information line (line 2) is missing");
  ScanHeader header;
  header.type = buf[pos];
  if (!IsTypeLetter(header.type))
    return Refused("line 2 is no scan-information line: it must begin with R, I, P, F, W or V");
  header.kind = KindOfType(header.type, inForce);
  std::size_t lineEnd = buf.find('\n', pos);
  if (lineEnd == std::string::npos) lineEnd = buf.size();
  const std::string_view line2 = std::string_view(buf).substr(pos, lineEnd - pos);
  const std::string_view information = line2.substr(1);

  if (!ScanFile().bElectrophoresisMode) {
    record->scanType = header.type;
    static constexpr RowField kFields[7] = {
        {"cell", FieldKind::kInt},        {"temperature", FieldKind::kFloat}, {"rotor speed", FieldKind::kFloat},
        {"time", FieldKind::kDouble},     {"omega^2 t", FieldKind::kDouble},  {"wavelength", FieldKind::kFloat},
        {"replicates", FieldKind::kInt}};
    double field[7];
    std::string why;
    if (!ReadScanInformation(line2, information, kFields, field, &why)) return Refused(why);
    record->cell = static_cast<int>(field[0]);
    record->temperature = static_cast<float>(field[1]);
    record->rpm = static_cast<float>(field[2]);
    record->time = field[3];
    record->omega2t = field[4];
    record->wavelength = static_cast<float>(field[5]);
    record->replicates = static_cast<int>(field[6]);
    // Values no run can have are a damaged header (speeds no rotor reaches would
    // take the solutions into steps so small that a run never ends).
    if (std::string why = ScanHeaderRefusal(*record, false, !DataSet().bEquilibriumMode, notes); !why.empty())
      return Refused(why);
    record->recordedTime = record->time;
    record->timeAtLoad = record->time;
    // Acceleration phase from the lag of omega^2 t behind rpm^2 t:
    // accelTime = 1.5 (t - omega2t K / rpm^2). Without a recorded omega^2 t there is
    // no lag to see (it would make the whole time a ramp).
    const double rpm = record->rpm;
    const double rpm2 = rpm * rpm;
    record->accelTime =
        Omega2tNotRecorded(*record)
            ? 0.0
            : (1.0 / rpm2) * 1.5 * (rpm2 * record->recordedTime - record->omega2t * kRpm2ToOmega2);
    record->accelRate = record->accelTime > 0 ? rpm / record->accelTime : 1.0e6;
  } else {
    // Five words: one not used, time, wavelength, replicates and one not used; the
    // places of the words not used must be filled all the same, or the time would
    // be read from the wavelength's place.
    static constexpr RowField kFields[5] = {{"first word", FieldKind::kWord},
                                            {"time", FieldKind::kDouble},
                                            {"wavelength", FieldKind::kFloat},
                                            {"replicates", FieldKind::kInt},
                                            {"fifth word", FieldKind::kWord}};
    double field[5];
    std::string why;
    if (!ReadScanInformation(line2, information, kFields, field, &why)) return Refused(why);
    record->cell = 0;
    record->temperature = 20.0f;
    record->rpm = 1.0f;
    record->time = field[1];
    record->omega2t = record->time;
    record->wavelength = static_cast<float>(field[2]);
    record->replicates = static_cast<int>(field[3]);
    if (std::string why = ScanHeaderRefusal(*record, true, !DataSet().bEquilibriumMode, notes); !why.empty())
      return Refused(why);
    record->recordedTime = record->time;
    record->accelRate = 1.0e6;
    record->accelTime = 0.0;
  }

  record->fluorescence = false;
  record->voltage = 0.0f;
  record->gain = 0;
  record->range = 0;
  record->detectorKeys = false;
  if (header.type == 'F') {
    record->fluorescence = true;
    record->timeStampOk = true;
    // The detector's keys in line 1: a voltage, and the gain and range as whole
    // numbers, read from the whole of line 1 (the description is cut).
    const std::string_view line(buf.data(), firstLF);
    double voltage = 0.0, gain = 0.0, range = 0.0;
    bool hasVoltage = false, hasGain = false, hasRange = false;
    std::string why;
    if (!NumberAfterKey(line, "Voltage", "voltage", false, &voltage, &hasVoltage, &why) ||
        !NumberAfterKey(line, "Gain", "gain", true, &gain, &hasGain, &why) ||
        !NumberAfterKey(line, "Range", "range", true, &range, &hasRange, &why))
      return Refused(why);
    record->voltage = static_cast<float>(voltage);
    record->gain = static_cast<int>(gain);
    record->range = static_cast<int>(range);
    record->detectorKeys = hasVoltage && hasGain && hasRange;
    // A key line 1 does not name is not read as 0 without a word.
    if (!record->detectorKeys && notes) {
      std::vector<std::string> missing;
      for (const auto& [has, key] : {std::pair{hasVoltage, "Voltage:"}, {hasGain, "Gain:"}, {hasRange, "Range:"}})
        if (!has) missing.push_back(std::string("\"") + key + "\"");
      std::string named = missing[0];
      for (std::size_t k = 1; k < missing.size(); ++k) named += (k + 1 == missing.size() ? " and " : ", ") + missing[k];
      notes->push_back("line 1 does not name the detector's " + named +
                       ": the voltage, gain and range of this scan are not known");
    }
  }

  header.dataPos = lineEnd < buf.size() ? lineEnd + 1 : buf.size();
  header.dataLine = 3;
  return header;
}

}  // namespace

ScanDataKind ScanDataKind::InForce() {
  auto& scanFilePart = ScanFile();
  return {scanFilePart.bAbsorbanceData, scanFilePart.bIntensityData, scanFilePart.bInterferenceData, scanFilePart.bFluorescenceData, scanFilePart.fSpikeThreshold};
}

void ScanDataKind::Apply() const {
  auto& scanFilePart = ScanFile();
  scanFilePart.bAbsorbanceData = absorbance;
  scanFilePart.bIntensityData = intensity;
  scanFilePart.bInterferenceData = interference;
  scanFilePart.bFluorescenceData = fluorescence;
  scanFilePart.fSpikeThreshold = spikeThreshold;
}

int ReadScanFile(const char* path, ScanInfo* record, int* n, float** radius, float** value,
                 float** third, bool* mark, float minStep, std::string* error,
                 std::vector<std::string>* notes) {
  ScanDataKind kind;
  const int ok = ReadScanFileAndKind(path, ScanDataKind::InForce(), &kind, record, n, radius, value,
                                     third, mark, minStep, error, notes);
  if (ok) kind.Apply();
  return ok;
}

int ReadScanFileAndKind(const char* path, const ScanDataKind& inForce, ScanDataKind* fileKind,
                        ScanInfo* record, int* n, float** radius, float** value, float** third,
                        bool* mark, float minStep, std::string* error,
                        std::vector<std::string>* notes) {
  if (!path || !record || !n || !radius || !value) return Fail(error, "missing arguments");
  std::string buf;
  std::error_code ec;
  if (std::filesystem::exists(path, ec) && !IsRegularFile(path))
    return Fail(error, kNotRegularFile);
  // A last line without its line end may have been cut anywhere, also where what
  // is left is a whole number ("500" as "5"): it is left out, and said below.
  TextRead read;
  std::string unread;
  if (!ReadServedTextFile(path, LastLine::kAsItStands, &read, &unread))
    return Fail(error, unread == kNotRegularFile || unread.starts_with("it changed") ? unread
                                                                                   : "the file cannot be opened");
  buf = std::move(read.text);

  FileTimes times = GetFileTimes(path);
  record->fileTimesValid = times.valid;
  record->creationTime = times.valid ? times.creation : 0;
  record->lastAccessTime = times.valid ? times.lastAccess : 0;
  record->lastWriteTime = times.valid ? times.lastWrite : 0;

  if (buf.empty()) return Fail(error, "the file is empty");
  // UTF-16 or binary data hold no lines of numbers: said as such, not as a
  // scan-information line that is missing.
  if (std::string why = NotPlainTextReason(buf); !why.empty()) return Fail(error, why);
  read.text = std::move(buf);
  EndLastLine(LastLine::kLeftOut, &read);
  buf = std::move(read.text);
  // An unended last line whose words are damaged ("2.6x") is no cut: it is read
  // as a row, and refused as any damaged row is.
  if (read.leftOutLine > 2 && read.leftOutText.find(" - meniscus") == std::string::npos &&
      !IsCutLineOfNumbers(read.leftOutText)) {
    buf += read.leftOutText;
    read.leftOutLine = 0;
  }
  // The description and the header line are whole, or the file is none to read.
  if (read.leftOutLine > 0 && read.leftOutLine <= 2)
    return Fail(error, Format("the file ends inside line %d, which has no line end: the file may have been cut",
                              read.leftOutLine));
  const std::size_t firstLF = buf.find('\n');
  if (firstLF == std::string::npos) return Fail(error, "the file holds no line feed");
  // The line left out is the meniscus note, or numbers (or the beginning of one)
  // that a cut would leave.
  if (read.leftOutLine > 0 && read.leftOutText.find(" - meniscus") == std::string::npos && notes)
    notes->push_back(read.LeftOutNote());

  const long rows = CountDataRows(buf);

  const ScanHeader header = ReadScanHeader(buf, firstLF, inForce, record, mark, notes);
  if (!header.refusal.empty()) return Fail(error, header.refusal);
  // The kind as the rows are read; once they are, fluorescence and electrophoresis
  // data count as absorbance data as well.
  ScanDataKind kind = header.kind;
  WordStream words(buf, header.dataPos, header.dataLine);

  // Column layout.
  int wordsPerRow;
  bool threeColumns = false;
  if (ScanFile().bSetNColumns) {
    if (ScanFile().nDataColumns < 2 || ScanFile().nDataColumns > kMaxDataColumns)
      return Fail(error, "the number of columns per data line is outside 2 to " +
                             std::to_string(kMaxDataColumns));
    wordsPerRow = ScanFile().nDataColumns;
  } else {
    threeColumns = (record->replicates >= 2 && third && !kind.interference) || kind.intensity ||
                   ScanFile().bElectrophoresisMode || kind.fluorescence;
    wordsPerRow = (threeColumns || !kind.interference) ? 3 : 2;
  }
  const bool keepThird = threeColumns && third;
  const bool plainTwoColumns = !ScanFile().bSetNColumns && !threeColumns;
  const bool spikeTest = ScanFile().bSkipSpikes && (kind.absorbance || kind.fluorescence) &&
                         (ScanFile().bSetNColumns || !ScanFile().bElectrophoresisMode);

  // Rows. Points closer than minStep to the first of their run are merged into one
  // point at their running mean; an isolated spike (a jump of more than the
  // threshold up and back) is overwritten by the next row.
  std::vector<float> xs, ys, ts;
  const std::size_t reserve = rows > 0 ? static_cast<std::size_t>(rows) : 0;
  xs.reserve(reserve);
  ys.reserve(reserve);
  ts.reserve(reserve);
  int k = 1;
  // The fields of a row: x and the signal, then the third column where the layout
  // delivers it; the other places (the third column a two-column delivery drops,
  // the columns after the second under Set n Columns) must be there but are not read.
  std::vector<RowField> columns(static_cast<std::size_t>(wordsPerRow), RowField{nullptr, FieldKind::kWord});
  const int keptWords = ScanFile().bSetNColumns || !threeColumns ? 2 : 3;
  for (int c = 0; c < keptWords && c < wordsPerRow; ++c) columns[static_cast<std::size_t>(c)].kind = FieldKind::kFloat;
  const RowShape rowShape = ExactRow(columns);
  float groupStart = 0.0f;
  float previousX = 0.0f;
  bool havePrevious = false;
  int zeroRowLine = 0;  // the first row of radius 0 of a two-column file
  for (long r = 1; r <= rows; ++r) {
    // One row is one line, with exactly the words of the layout; every kept value
    // is held as a float.
    std::string_view text;
    int line = 0;
    if (!words.NextLine(&text, &line)) break;  // a row that the file does not hold
    if (words.tooLongLine()) return Fail(error, TooLongText(words.tooLongLine()));
    double w[kMaxDataColumns] = {};
    const RowScan row = ScanTableRow(text, rowShape, w);
    // The last line of the file is no data when it is the meniscus note ("5.9120 -
    // meniscus"). (A last line without its line end was left out above.)
    if (buf.find_first_not_of(" \t\n", words.pos()) == std::string::npos &&
        text.find(" - meniscus") != std::string_view::npos)
      break;
    // A line with words missing or too many, or a value written as a word that is
    // no number ("nan", "-", text), is not read in part or as 0.
    if (!row) return Fail(error, "line " + std::to_string(line) + " " + RowFaultText(text, rowShape, row));
    // A signal no detector gives (it would also be taken for a spike and dropped).
    for (int c = 1; c < keptWords; ++c)
      if (!kSignalRule.Holds(w[c])) return Fail(error, kSignalRule.HeldOutside(line, w[c]));
    // The radii must be positions: positive (electrophoresis positions may be
    // negative), within range, and increasing (equal ones only where the minimum
    // step merges them); anything else would enter the grid and the fit.
    const float x = static_cast<float>(w[0]);
    // Two-column files may end in rows of radius 0, which are dropped below; data
    // after them would be lost without a word.
    if (plainTwoColumns && x == 0.0f) {
      if (zeroRowLine == 0) zeroRowLine = line;
    } else if (zeroRowLine > 0) {
      return Fail(error, Format("line %d holds the radius 0 with more lines after it", zeroRowLine));
    }
    const bool positive = ScanFile().bElectrophoresisMode ? x > -kLargestPosition : x > 0.0f;
    if (zeroRowLine == 0 && (!positive || x > kLargestPosition))
      return Fail(error, Format("line %d holds the radius %g, outside %g to %g", line,
                                static_cast<double>(x),
                                ScanFile().bElectrophoresisMode ? -static_cast<double>(kLargestPosition) : 0.0,
                                static_cast<double>(kLargestPosition)));
    if (zeroRowLine == 0 && havePrevious && (minStep > 0 ? x < previousX : x <= previousX))
      return Fail(error, Format("line %d holds the radius %g, not above the radius %g before it",
                                line, static_cast<double>(x), static_cast<double>(previousX)));
    previousX = x;
    havePrevious = true;
    xs.push_back(static_cast<float>(w[0]));
    ys.push_back(static_cast<float>(w[1]));
    ts.push_back(threeColumns ? static_cast<float>(w[2]) : 0.0f);
    std::size_t j = xs.size();  // one-based index of the new point
    if (j > 1 && minStep > 0 && groupStart + minStep > xs[j - 1]) {
      const float kf = static_cast<float>(k);
      xs[j - 2] = (kf * xs[j - 2] + xs[j - 1]) / (kf + 1);
      ys[j - 2] = (kf * ys[j - 2] + ys[j - 1]) / (kf + 1);
      if (threeColumns) ts[j - 2] = (kf * ts[j - 2] + ts[j - 1]) / (kf + 1);
      ++k;
      xs.pop_back();
      ys.pop_back();
      ts.pop_back();
      continue;
    }
    k = 1;
    groupStart = xs[j - 1];
    // A spike jumps away from the point before it and back towards the point after
    // it: two large steps in the same direction are a steep gradient (the pile-up
    // of a floating species at the meniscus, say), real data that must stay.
    const float stepIn = j >= 4 ? ys[j - 2] - ys[j - 3] : 0.0f;
    const float stepOut = j >= 4 ? ys[j - 1] - ys[j - 2] : 0.0f;
    if (spikeTest && j >= 4 && std::fabs(stepIn) > kind.spikeThreshold &&
        std::fabs(stepOut) > kind.spikeThreshold && (stepIn > 0) != (stepOut > 0)) {
      xs[j - 2] = xs[j - 1];
      ys[j - 2] = ys[j - 1];
      ts[j - 2] = ts[j - 1];
      xs.pop_back();
      ys.pop_back();
      ts.pop_back();
    }
  }

  if (!ScanFile().bElectrophoresisMode) {
    const int zero = LineOfZeroRadiusBeforeMoreData(buf, words.pos(), words.line());
    if (zero > 0)
      return Fail(error, Format("line %d holds the radius 0 with more lines after it", zero));
  }

  std::size_t count = xs.size();
  if (plainTwoColumns)
    while (count > 1 && xs[count - 1] == 0.0f) --count;
  if (count < 2) return Fail(error, "the file holds fewer than two data rows");

  if (ScanFile().bElectrophoresisMode) {
    for (std::size_t i = 0; i < count; ++i)
      if (ys[i] > 0) ys[i] = static_cast<float>(std::log10(1000.0 / ys[i]));
    kind.absorbance = true;
    record->scanType = 'R';
  }
  if (kind.fluorescence) kind.absorbance = true;

  const int np = static_cast<int>(count);
  float* rv = tarmic::vector(1, np);
  float* vv = tarmic::vector(1, np);
  float* tv = keepThird ? tarmic::vector(1, np) : nullptr;
  for (int i = 1; i <= np; ++i) {
    rv[i] = xs[static_cast<std::size_t>(i - 1)];
    vv[i] = ys[static_cast<std::size_t>(i - 1)];
    if (tv) tv[i] = ts[static_cast<std::size_t>(i - 1)];
  }
  *radius = rv;
  *value = vv;
  if (tv) *third = tv;
  *n = np;
  record->nPoints = np;
  if (fileKind) *fileKind = kind;
  if (error) error->clear();
  return 1;
}

namespace {

bool WriteScan(bool wavelengthLayout, const char* path, int n, const float* radius,
               const float* value, const float* third, const char* description,
               std::int64_t creation, std::int64_t lastAccess, std::int64_t lastWrite,
               bool fileTimesValid, char scanType, int cell, float temperature, float rpm,
               double time, double omega2t, float wavelength, int replicates) {
  if (!path || n < 0 || (n > 0 && (!radius || !value))) return false;
  std::string text = description ? description : "";
  for (char& c : text)
    if (c == '\n' || c == '\r') c = ' ';
  if (!HasTimeStampMark(text)) text = "[T OK]" + text;

  AtomicFile out(path);
  std::FILE* f = out.File();
  if (!f) {
    std::printf("%s", WithReason(std::string("\n\aAttention: could not open ") + path, out.Error()).c_str());
    std::fflush(stdout);
    return false;
  }
  const long rpmWritten = TruncateToLong(rpm);
  const long timeWritten = TruncateToLong(time);
  const double omega2tWritten = static_cast<float>(omega2t);
  bool ok = WriteFormatted(f, "%s\n", text.c_str());
  if (wavelengthLayout)
    ok = ok && WriteFormatted(f, "%c %d %2.1f %ld %ld %1.4e %1.3f %d\n", scanType, cell,
                              static_cast<double>(temperature), rpmWritten, timeWritten,
                              omega2tWritten, static_cast<double>(wavelength), replicates);
  else
    ok = ok && WriteFormatted(f, "%c %d %2.1f %ld %ld %1.4e %d %d\n", scanType, cell,
                              static_cast<double>(temperature), rpmWritten, timeWritten,
                              omega2tWritten, TruncateToInt(wavelength), replicates);
  for (int i = 1; ok && i <= n; ++i) {
    const double x = radius[i];
    const double y = value[i];
    if (third)
      ok = WriteFormatted(f, "   %1.4f  %1.5e   %1.5e \n", x, y, static_cast<double>(third[i]));
    else if (scanType == 'P')
      ok = WriteFormatted(f, "   %1.4f  %1.5e \n", x, y);
    else
      ok = WriteFormatted(f, "   %1.4f  %1.5e   %1.5e \n", x, y, 0.0);
  }
  if (!ok) return false;
  if (fileTimesValid) {
    // After the replacement (which a batch of files may defer).
    FileTimes times;
    times.valid = true;
    times.creation = creation;
    times.lastAccess = lastAccess;
    times.lastWrite = lastWrite;
    const std::string target = path;
    out.OnReplaced([target, times] { SetFileTimes(target, times); });
  }
  return out.Commit();
}

}  // namespace

bool WriteRadialScanFile(const char* path, int n, const float* radius, const float* value,
                         const float* third, const char* description, bool /*timeOk*/,
                         std::int64_t creation, std::int64_t lastAccess,
                         std::int64_t lastWrite, bool fileTimesValid, char scanType, int cell,
                         float temperature, float rpm, double time, double omega2t,
                         float wavelength, int replicates) {
  return WriteScan(false, path, n, radius, value, third, description, creation, lastAccess,
                   lastWrite, fileTimesValid, scanType, cell, temperature, rpm, time, omega2t,
                   wavelength, replicates);
}

bool WriteWavelengthScanFile(const char* path, int n, const float* radius, const float* value,
                             const float* third, const char* description, bool /*timeOk*/,
                             std::int64_t creation, std::int64_t lastAccess,
                             std::int64_t lastWrite, bool fileTimesValid, char scanType,
                             int cell, float temperature, float rpm, double time,
                             double omega2t, float wavelength, int replicates) {
  return WriteScan(true, path, n, radius, value, third, description, creation, lastAccess,
                   lastWrite, fileTimesValid, scanType, cell, temperature, rpm, time, omega2t,
                   wavelength, replicates);
}

bool WriteScanFile(const char* path, int n, const float* radius, const float* value,
                   const float* third, const char* newDescription, bool /*timeOk*/,
                   const ScanInfo& record) {
  const char* description = newDescription ? newDescription : record.description.c_str();
  const bool wavelengthLayout = record.scanType == 'W' || record.scanType == 'V';
  return WriteScan(wavelengthLayout, path, n, radius, value, third, description,
                   record.creationTime, record.lastAccessTime, record.lastWriteTime,
                   record.fileTimesValid, record.scanType, record.cell, record.temperature,
                   record.rpm, record.recordedTime, record.omega2t, record.wavelength,
                   record.replicates);
}

}  // namespace tarmic
