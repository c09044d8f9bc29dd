// Reading image files whole.
#include "image/image_file_io.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

#include "tests/support/doubles.h"

namespace kfw {
namespace {

TEST(ReadImageFile, ReadsWholeFilesAndSaysWhyNot) {
  const std::filesystem::path dir = test::ScratchDirectory() / "read";
  std::filesystem::create_directories(dir);
  const std::vector<uint8_t> content = {0x01, 0x00, 0xFF, 0x7F, 0x0A, 0x0D};
  std::ofstream(dir / "six.kfw", std::ios::binary)
      .write(reinterpret_cast<const char*>(content.data()), 6);
  std::ofstream(dir / "empty.kfw", std::ios::binary).flush();

  struct Case {
    std::string name;
    bool ok;
    std::vector<uint8_t> bytes;
    std::string message;
  };
  const std::string missing = (dir / "missing.kfw").string();
  const Case cases[] = {
      {(dir / "six.kfw").string(), true, content, ""},
      // Zero bytes are not a memory failure: the check says what is wrong with them.
      {(dir / "empty.kfw").string(), true, {}, ""},
      {missing, false, {}, "Can't open file " + missing + " for reading"},
      {dir.string(), false, {}, "Can't open file " + dir.string() + " for reading"},
      {"", false, {}, "Can't open file  for reading"},
  };
  for (const Case& c : cases) {
    std::vector<uint8_t> bytes = {0x55};
    std::string message;
    EXPECT_EQ(ReadImageFile(c.name, bytes, message), c.ok) << c.name;
    EXPECT_EQ(bytes, c.bytes) << c.name;
    if (!c.ok) {
      EXPECT_EQ(message, c.message);
    }
  }
}

}  // namespace
}  // namespace kfw
