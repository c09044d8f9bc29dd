// `inspect` run as a user runs it: the report for people and the same facts as JSON, both of one
// table of files; a million records in bounded memory; a stop while the records are written.
#include <gtest/gtest.h>

#ifdef _WIN32
#include <windows.h>
#else
#include <signal.h>
#endif

#include <cstdio>
#include <string>
#include <vector>

#include "base/result.h"
#include "image/image_writer.h"
#include "tests/cli/cli_helpers.h"
#include "tests/support/doubles.h"

namespace kfw::test {
namespace {

// The size of the firmware in every image record of the files below.
constexpr size_t kImageDataSize = 64;

// One file both tests read: what people are shown of it, and what --json gives of it.
struct InspectFixture {
  const char* name;
  std::vector<uint8_t> file;
  std::vector<std::string> identifiers;
  int status;                        // check's, for the same file and identifiers
  std::vector<std::string> lines;    // among the report's lines, in this order
  std::vector<std::string> records;  // --json: "type@offset"; none when the header cannot be read
  std::vector<std::string> faults;   // --json: the faults' names
};

std::vector<InspectFixture> InspectFixtures() {
  const std::vector<uint8_t> data = Firmware(kImageDataSize, 1, 3);
  std::vector<uint8_t> badCrc = ImageWriter::Version0().Delay(20).Image(1, 3, data).End().Bytes();
  badCrc[1] ^= 0xFF;
  std::vector<uint8_t> resetFour = ImageWriter::Version0().Delay(20).Reset(3).End().Bytes();
  resetFour[6] = 4;
  FixImageCrc(resetFour);
  return {
      {"every record, for the module",
       ImageWriter::Version1(kSimCompany, kSimProduct)
           .Delay(20)
           .NoOp()
           .Reset(1)
           .Image(1, 3, data)
           .End()
           .Raw(std::vector<uint8_t>{0x00, 0xFF})
           .Bytes(),
       {"--company", "0x0021", "--product", "0x0A"},
       kOk,
       {"Format version: 1", "Company: 0x0021", "Product: 0x0A",
        "     #  offset  type   arguments               data",
        "     1       6  delay  20 ticks (2.0 s)", "     2       8  noop",
        "     3       9  reset  argument 1",
        "     4      11  image  version 1.3             64 bytes at offset 16",
        "     5      80  end", "After the end record: 2 bytes", "Result: No error (0)"},
       {"delay@6", "noop@8", "reset@9", "image@11", "end@80"},
       {}},
      {"version 0, an exempt version",
       ImageWriter::Version0().Image(0x7F, 1, data).End().Bytes(),
       {},
       kOk,
       {"Company: 0x7F7F (a version-0 file is for any module)",
        "     1       3  image  version 127.1 (not compared)  64 bytes at offset 8",
        "Result: No error (0)"},
       {"image@3", "end@72"},
       {}},
      {"before a module answered",
       ImageWriter::Version1(kSimCompany, kSimProduct).Image(1, 3, data).End().Bytes(),
       {},
       kProductMismatch,
       {"     2      75  end",
        "Fault: the file is for product 0x0A, and no module has answered (0x7F); give the "
        "module's --company and --product",
        "Result: Update file's product ID mismatched with device (16)"},
       {"image@6", "end@75"},
       {"productMismatch"}},
      {"another company",
       ImageWriter::Version1(0x0022, kSimProduct).Image(1, 3, data).End().Bytes(),
       {"--company", "33", "--product", "10"},
       kCompanyMismatch,
       {"Fault: the file is for company 0x0022; the module's is 0x0021"},
       {"image@6", "end@75"},
       {"companyMismatch"}},
      {"a wrong CRC, the records still shown",
       badCrc,
       {},
       kImageCrcError,
       {"     1       3  delay  20 ticks (2.0 s)", "     3      74  end",
        "Result: Update file CRC error (2)"},
       {"delay@3", "image@5", "end@74"},
       {"crcMismatch"}},
      {"a reset argument of 4",
       resetFour,
       {},
       kImageCorrupt,
       {"     1       3  delay  20 ticks (2.0 s)",
        "Fault: record 2 (reset) at offset 5: argument 4 at offset 6; a reset takes 0 to 3",
        "Result: Update file image corrupt (3)"},
       {"delay@3"},
       {"resetArgument"}},
      {"data SysEx cannot carry",
       ImageWriter::Version0().Delay(1).Image(1, 3, EightBitFirmware(kImageDataSize)).End().Bytes(),
       {},
       kImageCorrupt,
       {"Fault: record 2 (image) at offset 5: data byte 0xC0 at offset 71 is above 0x7F, which "
        "SysEx cannot carry"},
       {"delay@3"},
       {"dataNotSysEx"}},
      {"no end record",
       ImageWriter::Version0().Delay(3).NoOp().Bytes(),
       {},
       kImageCorrupt,
       {"     2       5  noop",
        "Fault: the file ends at offset 6, after record 2, without an end record"},
       {"delay@3", "noop@5"},
       {"noEndRecord"}},
      // The end record was reached: what follows it is counted, none.
      {"no image, and nothing after the end",
       ImageWriter::Version0().Delay(3).End().Bytes(),
       {},
       kImageCorrupt,
       {"     2       5  end", "After the end record: 0 bytes",
        "Fault: record 2 (end) at offset 5 is the file's last byte; a file without an image "
        "record must carry at least one byte after its end record",
        "Result: Update file image corrupt (3)"},
       {"delay@3", "end@5"},
       {"nothingAfterEnd"}},
      {"version 2",
       std::vector<uint8_t>{0x02, 0x00, 0x00, 0xFF},
       {},
       kUnknownImageVersion,
       {"File: ", "Format version: 2",
        "Fault: format version 2 at offset 0; this program knows versions 0 and 1",
        "Result: Unknown update file version (4)"},
       {},
       {"unknownVersion"}},
      {"empty file",
       {},
       {},
       kImageCorrupt,
       {"Fault: the file holds 0 bytes; an image file has at least 4"},
       {},
       {"tooShort"}},
  };
}

TEST(CliInspect, ShowsTheRecordsInPlayOrderAndWhereABadFileGoesWrong) {
  for (const InspectFixture& c : InspectFixtures()) {
    SCOPED_TRACE(c.name);
    std::vector<std::string> words = {WriteFile("inspect.kfw", c.file)};
    words.insert(words.end(), c.identifiers.begin(), c.identifiers.end());
    std::vector<std::string> argv = {kProgram, "inspect"};
    argv.insert(argv.end(), words.begin(), words.end());
    const test::ProcessResult result = RunProgram(argv);
    EXPECT_EQ(result.exitStatus, c.status);
    EXPECT_EQ(result.err, "");
    size_t from = 0;
    for (const std::string& line : c.lines) {
      const size_t at = result.out.find(line + (line == "File: " ? "" : "\n"), from);
      EXPECT_NE(at, std::string::npos) << "missing or out of order: " << line << "\n" << result.out;
      if (at != std::string::npos) from = at + line.size();
    }
    // The result's text is the one `check` prints, and the status the same.
    argv[1] = "check";
    const test::ProcessResult checked = RunProgram(argv);
    EXPECT_EQ(checked.exitStatus, result.exitStatus);
    EXPECT_NE(result.out.find("Result: " +
                              std::string(ResultText(static_cast<ResultCode>(checked.exitStatus)))),
              std::string::npos);
  }
}

// The same files with --json: the facts of the report people read.
TEST(CliJson, InspectGivesTheFactsOfThePeoplesReport) {
  for (const InspectFixture& c : InspectFixtures()) {
    SCOPED_TRACE(c.name);
    std::vector<std::string> argv = {kProgram, "inspect", WriteFile("json-inspect.kfw", c.file)};
    argv.insert(argv.end(), c.identifiers.begin(), c.identifiers.end());
    const test::ProcessResult report = RunProgram(argv);
    argv.push_back("--json");
    const test::ProcessResult result = RunProgram(argv);
    EXPECT_EQ(result.exitStatus, report.exitStatus);
    EXPECT_EQ(result.err, "");
    const std::vector<Json> events = JsonLines(result.out);
    ASSERT_EQ(events.size(), 2u) << result.out;
    const Json& inspection = events[0];
    EXPECT_EQ(inspection.at("event"), "inspection");
    EXPECT_EQ(inspection.at("length"), c.file.size());
    const std::string code = std::to_string(report.exitStatus);
    EXPECT_EQ(Summary(events[1]), "result " + code + " " +
                                      ResultText(static_cast<ResultCode>(report.exitStatus)) + " " +
                                      code);

    std::vector<std::string> records;
    for (const Json& record : inspection.value("records", Json::array())) {
      records.push_back(record.at("type").get<std::string>() + "@" +
                        std::to_string(record.at("offset").get<int>()));
      EXPECT_EQ(record.at("number"), records.size());
      if (record.at("type") == "image") {
        EXPECT_EQ(record.at("versionCompared"), record.at("versionMajor") != 0x7F);
        EXPECT_EQ(record.at("dataLength"), kImageDataSize);
        EXPECT_EQ(record.at("dataOffset"), record.at("offset").get<int>() + 5);
      }
    }
    EXPECT_EQ(records, c.records);
    // What follows the end record, whenever the walk reached it, as people read it.
    const size_t after = report.out.find("After the end record: ");
    EXPECT_EQ(inspection.contains("bytesAfterEnd"), after != std::string::npos) << report.out;
    if (inspection.contains("bytesAfterEnd") && after != std::string::npos) {
      EXPECT_EQ(report.out.substr(after, report.out.find('\n', after) - after),
                "After the end record: " +
                    std::to_string(inspection.at("bytesAfterEnd").get<unsigned>()) + " bytes");
    }
    // The header and CRC as people read them.
    if (inspection.contains("crc")) {
      char line[64];
      std::snprintf(line, sizeof line, "CRC-16: stored 0x%04X, computed 0x%04X\n",
                    inspection["crc"].at("stored").get<unsigned>(),
                    inspection["crc"].at("computed").get<unsigned>());
      EXPECT_NE(report.out.find(line), std::string::npos) << line << report.out;
      std::snprintf(line, sizeof line, "Company: 0x%04X",
                    inspection.at("companyId").get<unsigned>());
      EXPECT_NE(report.out.find(line), std::string::npos) << line << report.out;
    }
    std::vector<std::string> faults;
    for (const Json& fault : inspection.at("faults")) {
      faults.push_back(fault.at("fault").get<std::string>());
      const std::string text = "Fault: " + fault.at("text").get<std::string>() + "\n";
      EXPECT_NE(report.out.find(text), std::string::npos) << text << report.out;
    }
    EXPECT_EQ(faults, c.faults);
  }
}

TEST(CliInspect, AFileThatCannotBeReadOrAMistakeHasItsOwnStatus) {
  const std::string missing = (ScratchDirectory() / "missing.kfw").string();
  const test::ProcessResult result = RunProgram({kProgram, "inspect", missing});
  EXPECT_EQ(result.exitStatus, 66);
  EXPECT_EQ(result.err, "Can't open file " + missing + " for reading\n");
  EXPECT_EQ(result.out, "");
  for (const std::vector<std::string>& words :
       {std::vector<std::string>{}, {"a.kfw", "b.kfw"}, {"a.kfw", "--product", "0x100"}}) {
    std::vector<std::string> argv = {kProgram, "inspect"};
    argv.insert(argv.end(), words.begin(), words.end());
    EXPECT_EQ(RunProgram(argv).exitStatus, 64) << testing::PrintToString(words);
  }
}

// A file of no-op records, then the end record and a byte after it: check accepts it.
std::vector<uint8_t> NoOps(size_t count) {
  ImageWriter writer = ImageWriter::Version0();
  for (size_t i = 0; i < count; ++i) writer.NoOp();
  return writer.End().Raw(std::vector<uint8_t>{0}).Bytes();
}

#ifndef _WIN32
// Each record is written out as it is walked, so the memory taken does not grow with the number
// of records: a million of them are shown, whole, within an address space of 64 MiB (the program
// and its libraries take about 25 MiB, the file 1 MiB). Gathered before being shown they took
// about 100 MiB for the report and 600 MiB for --json.
TEST(CliInspect, AMillionRecordsAreShownInBoundedMemoryAsCheckJudgesThem) {
#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
  GTEST_SKIP() << "a sanitizer reserves terabytes of address space: no limit of it can hold";
#elif defined(__has_feature)
#if __has_feature(address_sanitizer) || __has_feature(thread_sanitizer)
  GTEST_SKIP() << "a sanitizer reserves terabytes of address space: no limit of it can hold";
#endif
#endif
  constexpr size_t kRecords = 1'000'000;
  const std::string file = WriteFile("million.kfw", NoOps(kRecords));
  EXPECT_EQ(RunProgram({kProgram, "check", file}).exitStatus, kOk);
  for (const bool json : {false, true}) {
    SCOPED_TRACE(json ? "--json" : "the report");
    const test::ProcessResult result =
        RunProgram({"/bin/sh", "-c", "ulimit -v 65536 && exec \"$0\" inspect \"$1\" $2", kProgram,
                    file, json ? "--json" : ""});
    ASSERT_EQ(result.exitStatus, kOk) << result.err;
    EXPECT_EQ(result.err, "");
    if (json) {
      // Read as text, not parsed whole: a million objects would take the test itself hundreds of
      // megabytes.
      const size_t lineEnd = result.out.find('\n');
      ASSERT_NE(lineEnd, std::string::npos);
      const std::string inspection = result.out.substr(0, lineEnd);
      EXPECT_TRUE(Json::accept(inspection)) << "not one JSON object";
      EXPECT_EQ(inspection.rfind("{\"event\":\"inspection\",", 0), 0u);
      size_t noops = 0;
      for (size_t at = 0; (at = inspection.find("\"type\":\"noop\"}", at)) != std::string::npos;
           ++at) {
        ++noops;
      }
      EXPECT_EQ(noops, kRecords);
      const std::string end =
          "{\"number\":1000000,\"offset\":1000002,\"type\":\"noop\"},{\"number\":1000001,"
          "\"offset\":1000003,\"type\":\"end\"}],\"bytesAfterEnd\":1,\"faults\":[]}";
      ASSERT_GE(inspection.size(), end.size());
      EXPECT_EQ(inspection.substr(inspection.size() - end.size()), end);
      const std::vector<Json> rest = JsonLines(result.out.substr(lineEnd + 1));
      ASSERT_EQ(rest.size(), 1u);
      EXPECT_EQ(Summary(rest[0]), "result 0 No error 0");
    } else {
      EXPECT_NE(result.out.find("\n  1000000  1000002  noop\n  1000001  1000003  end\n"
                                "After the end record: 1 bytes\nResult: No error (0)\n"),
                std::string::npos)
          << result.out.substr(result.out.size() - 200);
    }
  }
}
#endif

struct InterruptCase {
  const char* name;
  int signal;
  bool json;
};

// Ctrl-C, SIGTERM or SIGHUP while `inspect` writes out a long file: it stops there and ends as
// every command does, with the canceled result and, for programs, a whole last line.
TEST(CliInspect, AStopWhileTheRecordsAreWrittenEndsItWithTheCanceledResult) {
  const std::string file = WriteFile("long.kfw", NoOps(4'000'000));
  const std::vector<InterruptCase> cases = {
#ifdef _WIN32
      {"Ctrl-C", CTRL_C_EVENT, false},
      {"Ctrl-C, --json", CTRL_C_EVENT, true},
#else
      {"Ctrl-C", SIGINT, false},
      {"SIGTERM, --json", SIGTERM, true},
      {"SIGHUP, --json", SIGHUP, true},
#endif
  };
  for (const InterruptCase& c : cases) {
    SCOPED_TRACE(c.name);
    std::vector<std::string> argv = {kProgram, "inspect", file};
    if (c.json) argv.push_back("--json");
    test::ChildProcess inspect(argv);
    ASSERT_TRUE(inspect.WaitForOutput(c.json ? "{\"number\":100," : " 102  noop\n",
                                      std::chrono::seconds(20)));
    inspect.Signal(c.signal);
    const test::ProcessResult result = inspect.Wait(std::chrono::seconds(20));
    EXPECT_EQ(result.exitStatus, kCanceled) << result.err;
    EXPECT_EQ(result.err, "\nCanceling... (press Ctrl-C again to quit at once)\n");
    if (c.json) {
      const std::vector<Json> events = JsonLines(result.out);
      ASSERT_EQ(events.size(), 2u);
      EXPECT_LT(events[0].at("records").size(), 4'000'000u);
      EXPECT_FALSE(events[0].contains("bytesAfterEnd"));
      EXPECT_EQ(events[0].at("faults"), Json::array());
      EXPECT_EQ(Summary(events[1]), "result 5 Operation canceled 5");
    } else {
      const std::string last = "noop\nResult: Operation canceled (5)\n";
      ASSERT_GE(result.out.size(), last.size());
      EXPECT_EQ(result.out.substr(result.out.size() - last.size()), last);
    }
  }
}

}  // namespace
}  // namespace kfw::test
