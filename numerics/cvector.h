// CVector, the small float vector: a view of a one-based array without copying
// it, a vector that grows one value at a time, and the program's settings file
// format (one number per line). Elements are indexed from 0.
//
// A view (AttachNR, Attach) never writes into the array it views: an operation
// that changes elements (Scale, the smoothing, reading a file into it, assigning
// to it, MutableData) first gives the vector its own copy of the values and then
// changes that copy; the viewed array keeps its values. Growing (Append,
// SetLength) always makes a new owned block.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace tarmic {

// A block of n floats (not cleared); null for n = 0. A failed allocation shows
// "Could not allocate Vector" and ends the current command (FatalError).
float* AllocVectorData(std::uint32_t n);
// Releases a block of AllocVectorData; returns null for storing back.
float* FreeVectorData(float* p);

// The larger / smaller of two floats; b on ties.
float FloatMax(float a, float b);
float FloatMin(float a, float b);

class CVector {
 public:
  // Empty, owning, flag 1.
  CVector();
  // n new elements (not cleared), owning; n = 0 gives an empty vector.
  CVector(std::uint32_t n, int flag);
  CVector(std::uint32_t n, const float* src, int flag);
  CVector(const CVector& other);
  CVector& operator=(const CVector& other);
  ~CVector();

  // Makes the vector a view of nrArray[low..low+n-1]. Returns the length, 0 when
  // there is no data.
  std::uint32_t AttachNR(float* nrArray, std::uint32_t n, int low);
  // Makes the vector a view of p[0..n-1]; n = 0 or a null p gives an empty vector.
  // Data the vector owned before are released.
  std::uint32_t Attach(float* p, std::uint32_t n);

  // Element i; 0 when there is no data or i is outside 0..length-1.
  float Get(int i) const;
  // Largest / smallest element (the first one on ties); 0 when there is no data.
  float Max() const;
  float Min() const;
  // Over the indices max(i1, 0) .. min(i2, length-1), i2 compared as an unsigned
  // number (a negative i2 not below i1 reaches the last element); 0 when there is
  // no data, i2 < i1 or the range is empty.
  float MaxInRange(int i1, int i2) const;
  float MinInRange(int i1, int i2) const;
  // The largest / smallest strictly positive element of the range; when there is
  // none, *none is set and the result is 1.0 (*none is left alone otherwise).
  float MaxPositiveInRange(int i1, int i2, bool* none) const;
  float MinPositiveInRange(int i1, int i2, bool* none) const;
  bool operator==(const CVector& other) const;
  bool operator!=(const CVector& other) const;

  // Tick label of element i times scale: a whole number as an integer, otherwise
  // six significant digits in the shorter of fixed and exponent notation. At most
  // 19 characters and outSize-1 are copied and terminated; returns the number
  // copied (0 when there is no data or i >= length).
  int FormatElement(std::uint32_t i, char* out, int outSize, float scale) const;
  // The same for 10 raised to (element i times scale).
  int FormatElementPow10(std::uint32_t i, char* out, int outSize, float scale) const;

  CVector& Scale(float s);
  // Shows "Display vector contents not implemented".
  void Display() const;

  // Adds one value at the end (a new owned block each time).
  CVector& Append(float value);
  CVector& AppendValue(float value);
  // Resizes to n elements keeping the first min(length, n); new elements are not
  // cleared; sets the flag to 1.
  void SetLength(std::uint32_t n);

  // Savitzky-Golay smoothing in place with nl points to the left, nr to the right
  // and polynomial order (1: moving average). Windows are shortened at the ends.
  // False without a message when nl + nr + 1 < 2 or order < 0; false after
  // "window for smoothing too big!" when the vector is shorter than the window.
  bool SavitzkyGolaySmooth(std::uint32_t nl, std::uint32_t nr, int order);
  // Smooths the vector as a function of the abscissae x on a uniform grid of n
  // points between x's smallest and largest value, and resamples it back onto x.
  // False, with the vector unchanged, when x has another length, n < 2, the
  // resampling declines (fewer than five points) or the smoothing fails.
  bool SavitzkyGolaySmoothResampled(int n, const CVector& x, std::uint32_t nl, std::uint32_t nr,
                                    int order);

  // One value per line with "%f". False after "Attention: could not open %s" when
  // the file cannot be created, and after "Attention: could not write %s" when
  // writing fails.
  bool WriteToFile(const char* fileName) const;
  // As WriteToFile, but shows nothing: a failure leaves its message in *failure
  // for the caller to show.
  bool WriteToFile(const char* fileName, std::string* failure) const;
  // As WriteToFile with 10 raised to each element.
  bool WriteToFilePow10(const char* fileName) const;
  // Reads a file of one number per line (ReadValueFile). An empty vector gets every
  // value (and owns its data); a vector with data takes at most length values from
  // element 0 on, the others keep their values. False, the vector unchanged, when
  // the file cannot be opened or a line holds anything but one number: the message
  // names the file (and the line) and goes into *failure when given, else into the
  // error box.
  bool ReadFromFile(const char* fileName, std::string* failure = nullptr);

  const float* Data() const { return data_; }
  // Writable elements; a view first takes its own copy of the values.
  float* MutableData();
  std::uint32_t Length() const { return length_; }
  std::uint32_t Capacity() const { return capacity_; }
  bool OwnsData() const { return ownsData_; }
  bool IsView() const { return data_ != nullptr && !ownsData_; }
  int Flag() const { return flag_; }

 private:
  void Release();
  // Gives a view its own copy of the values.
  void Detach();
  void Install(float* block, std::uint32_t n);

  float* data_ = nullptr;
  std::uint32_t length_ = 0;
  std::uint32_t capacity_ = 0;
  bool ownsData_ = true;
  int flag_ = 1;
};

// Writes v[nl..nh] one value per line as CVector::WriteToFile does; false after
// "\nAttention: could not open %s".
bool WriteNRVectorToFile(const char* fileName, const float* v, int nh, int nl);
// Reads a settings file into a new one-based vector(nl, nl+n-1) (release with
// free_vector) and sets *nh = nl+n-1. Null and *nh = 0 when the file holds no value
// or is refused (ReadValueFile; the message goes into the error box).
float* ReadNRVectorFromFile(const char* fileName, int* nh, int nl);

// The values of a file of one number per line, as CVector::WriteToFile writes it:
// every line that is not blank is one whole number that a float holds
// (text/number_token.h). lines (when given) receives the line number of each value.
// False with the message in *failure: "\nAttention: could not open F", or
// "\n\aAttention: F cannot be read: line 5 holds \"5abc\", which is not a number".
bool ReadValueFile(const char* fileName, std::vector<float>* values, std::vector<int>* lines,
                   std::string* failure);

// A value as "%e" writes it (six decimals), in "C" notation whatever the locale:
// for reports that no reader takes back (files the program reads are written with
// RoundTripText, text/number_token.h).
std::string FormatExp6(double v);

}  // namespace tarmic
