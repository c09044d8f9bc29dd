// Reading image files whole.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <string>
#include <tuple>
#include <vector>

#include "image/image_file_io.h"
#include "tests/support/doubles.h"
#include "tests/support/in_child.h"

namespace kfw {
namespace {

TEST(ReadImageFile, ReadsWholeFilesAndSaysWhyNot) {
  const std::filesystem::path dir = test::ScratchDirectory() / "read";
  std::filesystem::create_directories(dir);
  const std::vector<uint8_t> content = {0x01, 0x00, 0xFF, 0x7F, 0x0A, 0x0D};
  std::ofstream(dir / "six.kfw", std::ios::binary)
      .write(reinterpret_cast<const char*>(content.data()), 6);
  std::ofstream(dir / "empty.kfw", std::ios::binary).flush();

  const std::string missing = (dir / "missing.kfw").string();
  // The name, whether it is read, the bytes read, the message.
  const std::tuple<std::string, bool, std::vector<uint8_t>, std::string> cases[] = {
      {(dir / "six.kfw").string(), true, content, ""},
      // Zero bytes are not a memory failure: the check says what is wrong with them.
      {(dir / "empty.kfw").string(), true, {}, ""},
      {missing, false, {}, "Can't open file " + missing + " for reading"},
      {dir.string(), false, {}, "Can't open file " + dir.string() + " for reading"},
  };
  for (const auto& [name, read, expected, text] : cases) {
    std::vector<uint8_t> bytes = {0x55};
    std::string message;
    EXPECT_EQ(ReadImageFile(name, bytes, message), read) << name;
    EXPECT_EQ(bytes, expected) << name;
    EXPECT_EQ(message, text) << name;
  }
}

#ifdef KFW_TEST_POSIX_SYSTEM  // FIFOs, /dev/zero and links anyone may make are POSIX's
TEST(ReadImageFile, RefusesWhatIsNotARegularFileWithoutWaiting) {
  // The window's Find image, check, update and pack all read through here: a FIFO must not hang
  // them waiting for a writer, nor a device feed them without end.
  const std::filesystem::path dir = test::ScratchDirectory() / "special";
  std::filesystem::remove_all(dir);
  std::filesystem::create_directories(dir);
  const std::vector<uint8_t> content = {0x00, 0x7F};
  std::ofstream(dir / "image.kfw", std::ios::binary).write("\x00\x7F", 2);
  test::MakeFifo((dir / "fifo.kfw").string());
  std::filesystem::create_symlink(dir / "image.kfw", dir / "link.kfw");
  std::filesystem::create_symlink(dir / "fifo.kfw", dir / "fifo-link.kfw");
  test::ExpectInChildWithin(10, [&] {
    std::string wrong;
    for (const std::string& name : {(dir / "fifo.kfw").string(), (dir / "fifo-link.kfw").string(),
                                    std::string("/dev/zero"), (dir / "link.kfw").string()}) {
      std::vector<uint8_t> bytes;
      std::string message;
      const bool read = ReadImageFile(name, bytes, message);
      // Only the link to a regular image is read.
      const bool isLink = name == (dir / "link.kfw").string();
      if (read != isLink || bytes != (isLink ? content : std::vector<uint8_t>{}) ||
          message != (isLink ? "" : "Can't open file " + name + " for reading")) {
        wrong += name + ": " + message + "\n";
      }
    }
    return wrong;
  });
}
#endif

}  // namespace
}  // namespace kfw
