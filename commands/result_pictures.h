// The pictures of a computed result, as the window shows them, for files: the data
// with the fitted curves, the residuals with the residual bitmap, a distribution
// with its peaks labelled, and for discrete species the data with each species'
// signal and a table of the fitted values. Each is a cut of the window's picture
// space around its plot, recorded by the plots' own code; it is written as SVG
// (SvgDC) and as PNG (the software raster, libpng), both kPictureFileWidth pixels
// wide. The batch writes them beside its results; "Save Pictures..." writes them
// for the analysis on screen.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "platform/metafile.h"
#include "platform/picture_files.h"
#include "platform/types.h"

namespace tarmic {

inline constexpr int kPictureFileWidth = 1600;
// The most scans whose curves a picture draws: of more, every n-th in display order
// (and the last), so that a picture of hundreds of scans stays readable and quick.
inline constexpr int kMostPictureScans = 50;
// n for the scans loaded: 1 up to kMostPictureScans scans.
int PictureScanStride();

// A picture as layers of the picture space played one over the other: the plots'
// own pictures (valid until a plot records its picture again) and pictures made for
// it (owned here).
struct ResultPicture {
  std::string name;  // file name without extension ("picture-data")
  Rect area;         // the cut of the picture space shown
  PictureLayers layers;
  std::vector<std::shared_ptr<const MetaFile>> owned;
  void Add(const MetaFile* picture) { layers.push_back(picture); }
  void Add(std::shared_ptr<const MetaFile> picture) {
    if (!picture) return;
    owned.push_back(std::move(picture));
    layers.push_back(owned.back().get());
  }
};

// The names (without extension) of the pictures the analysis in effect has: none
// without a computed result of the loaded data.
std::vector<std::string> ResultPictureNames();
// The names the analysis chosen will have once computed (for a check of existing
// files before it runs), and every name any analysis may have.
std::vector<std::string> ExpectedResultPictureNames();
std::vector<std::string> AllResultPictureNames();
// Records the pictures (plots without a recorded picture are recorded now, also
// where nobody sees pictures). Empty without a computed result.
std::vector<ResultPicture> RecordResultPictures();

// Every file (full path) that WriteResultPictures would write into dir.
std::vector<std::string> ResultPictureFiles(const std::string& dir);
// Writes name.svg and name.png of each picture into dir, each file replaced only
// when written completely. Returns "" or why a file could not be written;
// *written receives the files written.
std::string WriteResultPictures(const std::string& dir, std::vector<std::string>* written = nullptr);

}  // namespace tarmic
