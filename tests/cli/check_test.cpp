// `check` run as a user runs it: the result of each file, the advice under a mismatch with no
// module, and a file that cannot be read.
#include <gtest/gtest.h>

#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "base/result.h"
#include "image/image_writer.h"
#include "tests/cli/cli_helpers.h"
#include "tests/support/doubles.h"

namespace kfw::test {
namespace {

struct CheckCase {
  const char* name;
  std::vector<uint8_t> file;
  std::vector<std::string> identifiers;
  int status;
  std::string advice = "";  // the line under the result's text, when there is one
};

// Said under a mismatch when no module's identifiers were given: which module the file is for,
// and what to do.
std::string NoModuleAdvice(const char* company, const char* product) {
  return std::string("The file is for company ") + company + " and product " + product +
         ", and no module has answered (0x7F7F and 0x7F): give the module's --company and "
         "--product, or connect to the module (`kfwupdate update FILE --in PORT --out PORT` "
         "checks the file against the module that answers).";
}

TEST(CliCheck, ReportsEachFileAsTheUpdateCommandWould) {
  std::vector<uint8_t> badCrc =
      ImageWriter::Version0().Image(1, 0, std::vector<uint8_t>{1}).End().Bytes();
  badCrc[1] ^= 0xFF;
  std::vector<uint8_t> version2 =
      ImageWriter::Version0().End().Raw(std::vector<uint8_t>{0}).Bytes();
  version2[0] = 2;
  const std::vector<CheckCase> cases = {
      {"v0 for any module",
       ImageWriter::Version0().Image(1, 3, Firmware(64, 1, 3)).End().Bytes(),
       {},
       kOk},
      {"v1 for the module",
       ImageWriter::Version1(kSimCompany, kSimProduct)
           .Image(1, 3, Firmware(64, 1, 3))
           .End()
           .Bytes(),
       {"--company", "0x0021", "--product", "0x0A"},
       kOk},
      {"v1 before a module answered",
       ImageWriter::Version1(kSimCompany, kSimProduct).End().Raw(std::vector<uint8_t>{0}).Bytes(),
       {},
       kProductMismatch,
       NoModuleAdvice("0x0021", "0x0A")},
      {"v1 for any product, before a module answered",
       ImageWriter::Version1(0x0123, 0x7F).End().Raw(std::vector<uint8_t>{0}).Bytes(),
       {},
       kCompanyMismatch,
       NoModuleAdvice("0x0123", "0x7F")},
      {"v1 for another module than the one given",
       ImageWriter::Version1(kSimCompany, kSimProduct).End().Raw(std::vector<uint8_t>{0}).Bytes(),
       {"--company", "0x0021", "--product", "0x0B"},
       kProductMismatch},
      {"other company",
       ImageWriter::Version1(0x0022, kSimProduct).End().Raw(std::vector<uint8_t>{0}).Bytes(),
       {"--company", "33", "--product", "10"},
       kCompanyMismatch},
      {"bad crc", badCrc, {}, kImageCrcError},
      {"version 2", version2, {}, kUnknownImageVersion},
      {"no end record", ImageWriter::Version0().Delay(3).Bytes(), {}, kImageCorrupt},
      {"data SysEx cannot carry",
       ImageWriter::Version0().Image(1, 3, EightBitFirmware(64)).End().Bytes(),
       {},
       kImageCorrupt},
      {"empty file", {}, {}, kImageCorrupt},
  };
  for (const CheckCase& c : cases) {
    SCOPED_TRACE(c.name);
    std::vector<std::string> argv = {kProgram, "check", WriteFile("check.kfw", c.file)};
    argv.insert(argv.end(), c.identifiers.begin(), c.identifiers.end());
    const test::ProcessResult result = RunProgram(argv);
    EXPECT_EQ(result.exitStatus, c.status);
    const std::string& text = c.status == kOk ? result.out : result.err;
    EXPECT_EQ(text, std::string(ResultText(static_cast<ResultCode>(c.status))) + "\n" +
                        (c.advice.empty() ? "" : c.advice + "\n"));
  }
}

// The sample the packages install is for the simulated module; checked with no module, the
// check's result stays the system's, and the line under it says why and what to do.
TEST(CliCheck, TheShippedSampleWithoutAModuleSaysWhatToDo) {
  std::ifstream sample(KFW_SAMPLE_PATH, std::ios::binary);
  ASSERT_TRUE(sample) << "cannot read " << KFW_SAMPLE_PATH;
  const std::string file =
      WriteFile("demo.kfw", std::vector<uint8_t>(std::istreambuf_iterator<char>(sample), {}));
  test::ProcessResult result = RunProgram({kProgram, "check", file});
  EXPECT_EQ(result.exitStatus, kProductMismatch);
  EXPECT_EQ(result.out, "");
  EXPECT_EQ(result.err, "Update file's product ID mismatched with device\n" +
                            NoModuleAdvice("0x0021", "0x0A") + "\n");
  // What the advice says to do.
  result = RunProgram({kProgram, "check", file, "--company", "0x0021", "--product", "0x0A"});
  EXPECT_EQ(result.exitStatus, kOk) << result.err;
  EXPECT_EQ(result.out, "No error\n");
  // For programs the result says it all; standard error stays quiet.
  result = RunProgram({kProgram, "check", file, "--json"});
  EXPECT_EQ(result.exitStatus, kProductMismatch);
  EXPECT_EQ(result.err, "");
}

TEST(CliCheck, FileThatCannotBeReadHasItsOwnStatus) {
  const std::string missing = (ScratchDirectory() / "missing.kfw").string();
  const test::ProcessResult result = RunProgram({kProgram, "check", missing});
  EXPECT_EQ(result.exitStatus, 66);
  EXPECT_EQ(result.err, "Can't open file " + missing + " for reading\n");
}

}  // namespace
}  // namespace kfw::test
