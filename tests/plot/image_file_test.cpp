#include "plot/image_file.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>

#include "platform/image.h"

namespace tarmic {
namespace {

std::string ReadBytes(const std::filesystem::path& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

TEST(ImageFileTest, PPMHoldsEveryPixelAndAFailedSaveLeavesTheTargetAlone) {
  namespace fs = std::filesystem;
  const fs::path dir = fs::path(TARMIC_TEST_OUTPUT_DIR) / "image_file";
  fs::remove_all(dir);
  fs::create_directories(dir);

  Image image(3, 2);
  for (int y = 0; y < 2; ++y)
    for (int x = 0; x < 3; ++x) image.SetPixel(x, y, RGB(10 * x + 1, 100 + y, 200 + x + y));
  const fs::path target = dir / "screen.ppm";
  { std::ofstream(target) << "an older, longer picture file that must not survive"; }
  std::string error;
  ASSERT_TRUE(SaveImagePPM(image, target.string(), &error)) << error;
  std::string expected = "P6\n3 2\n255\n";  // binary PPM, rows top down, R G B
  for (int y = 0; y < 2; ++y)
    for (int x = 0; x < 3; ++x) expected += {char(10 * x + 1), char(100 + y), char(200 + x + y)};
  const std::string bytes = ReadBytes(target);
  EXPECT_EQ(bytes, expected);

  // A name held by a directory, and a missing directory: false with the path named,
  // nothing changed and no temporary left beside the target.
  fs::create_directory(dir / "taken.ppm");
  for (const fs::path& bad : {dir / "taken.ppm", dir / "missing" / "screen.ppm"}) {
    error.clear();
    EXPECT_FALSE(SaveImagePPM(image, bad.string(), &error)) << bad;
    EXPECT_NE(error.find(bad.string()), std::string::npos) << error;
  }
  EXPECT_TRUE(fs::is_directory(dir / "taken.ppm"));
  EXPECT_EQ(std::distance(fs::directory_iterator(dir), {}), 2);
  EXPECT_EQ(ReadBytes(target), bytes);
}

}  // namespace
}  // namespace tarmic
