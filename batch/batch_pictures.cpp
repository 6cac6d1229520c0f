#include "batch/batch_pictures.h"

#include "commands/result_pictures.h"
#include "scandata/text_io.h"

namespace tarmic {

std::vector<std::string> BatchPictureFiles(const BatchOptions& options, const std::string& dir) {
  std::vector<std::string> files;
  if (!options.pictures) return files;
  for (const std::string& name : ExpectedResultPictureNames()) {
    files.push_back(JoinPath(dir, name + ".svg"));
    files.push_back(JoinPath(dir, name + ".png"));
  }
  return files;
}

std::string WriteBatchPictures(const BatchOptions& options, const std::string& stage) {
  if (!options.pictures) return "";
  const std::string why = WriteResultPictures(stage);
  return why.empty() ? why : "the pictures could not be written: " + why;
}

}  // namespace tarmic
