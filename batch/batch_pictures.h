// The pictures of a batch run's result (commands/result_pictures.h), written with
// the results into the run's staging folder and published with them as one set.
#pragma once

#include <string>
#include <vector>

#include "batch/batch_options.h"

namespace tarmic {

// The picture files (full paths in dir) the run will write: none with --no-pictures.
std::vector<std::string> BatchPictureFiles(const BatchOptions& options, const std::string& dir);
// Writes the pictures into the staging folder; "" or why they could not be written.
std::string WriteBatchPictures(const BatchOptions& options, const std::string& stage);

}  // namespace tarmic
