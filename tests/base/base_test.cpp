// The base under every subsystem: the texts the user sees and how they leave the core (the text
// table, the trace log and its command-line switch, the fatal MIDI error that ends the process),
// the cancel flag every wait polls, and the file seam.
#include <gtest/gtest.h>

#ifdef _WIN32
#include <windows.h>
#endif

#include <algorithm>
#include <filesystem>
#include <cstdlib>
#include <fstream>
#include <memory>
#include <optional>
#include <string>
#include <tuple>
#include <vector>

#include "base/files.h"
#include "base/report.h"
#include "base/result.h"
#include "base/waiting.h"
#include "engine/process_state.h"
#include "tests/support/doubles.h"
#include "tests/support/in_child.h"

namespace kfw {
namespace {

namespace fs = std::filesystem;

// clang-format off
const char* const kTexts[kTextTableSize] = {
    "Connect to firmware", "Connecting...", "Delaying...", "Preparing firmware area...",
    "Update firmware Image", "Updating firmware area...", "Reading updated version #...",
    ("The firmware image in the hardware is verified good and the version # matches the update "
     "file. Updating with this image file is unnecessary and will change nothing! Update anyway?"),
    "No error", "Cannot open file", "Update file CRC error", "Update file image corrupt",
    "Unknown update file version", "Operation canceled", "MIDI Response too long",
    "MIDI Response timeout", "MIDI Response unknown", "Region erase failure", "Out of memory",
    "MIDI Reports bad checksum", "MIDI Reports bad length", "MIDI Reports bad sequence",
    "MIDI Reports bad checkcode", "MIDI Reports chip programming fault",
    "Update file's product ID mismatched with device",
    "Update file's company ID mismatched with device",
};
// clang-format on

TEST(TextTable, HoldsEveryTextAndTheMessageOfCodeCAtCPlusEight) {
  for (int i = 0; i < kTextTableSize; ++i) EXPECT_STREQ(TextTable[i], kTexts[i]) << i;
  for (int c = 0; c < kResultCodeCount; ++c) {
    EXPECT_STREQ(ResultText(static_cast<ResultCode>(c)), kTexts[c + 8]) << c;
  }
  // A stray code (a corrupt cast) still gets a text, and none of the table's.
  for (int stray : {18, 255}) {
    const char* text = ResultText(static_cast<ResultCode>(stray));
    ASSERT_NE(text, nullptr);
    for (const char* entry : TextTable) EXPECT_STRNE(text, entry) << stray;
  }
}

TEST(Trace, OffTouchesNoFileThenEnableEmptiesItAndTextsFollowInCallOrder) {
  const uint8_t bytes[] = {0xF0, 0x00, 0xAB};
  Trace("--- Prepare area ---\n");
  TraceBytes("TX: ", bytes, 2);
  EXPECT_FALSE(fs::exists(TraceFilePath()));
  std::ofstream(TraceFilePath()) << "from an earlier run\n";
  EnableTrace();
  EXPECT_EQ(test::ReadFileText(TraceFilePath()), "");
  Trace("--- Resetting QX-412 ---\n");
  Trace("no line end");
  TraceBytes("RX: ", bytes, 2);
  TraceBytes("RX: ", bytes, 0);
  TraceBytes("TX: ", bytes + 2, 1);
  EXPECT_EQ(test::ReadFileText(TraceFilePath()),
            "--- Resetting QX-412 ---\nno line endRX: f0 00 \nRX: \nTX: ab \n");
}

#ifdef KFW_TEST_POSIX_SYSTEM
// FIFOs, and symbolic links that anyone may make, are POSIX's.
TEST(Trace, IsNotWrittenThroughALinkNorWaitsForAFifo) {
  const fs::path dir = test::ScratchDirectory() / "trace";
  fs::remove_all(dir);
  fs::create_directories(dir);
  std::ofstream(dir / "victim") << "keep me\n";
  fs::create_symlink(dir / "victim", dir / "link");
  test::MakeFifo((dir / "fifo").string());
  for (const char* name : {"link", "fifo"}) {
    SCOPED_TRACE(name);
    SetTraceFilePath((dir / name).string());
    test::ExpectInChildWithin(10, [] {
      EnableTrace();
      Trace("--- Resetting QX-412 ---\n");
      const uint8_t bytes[] = {0xF0, 0xF7};
      TraceBytes("TX: ", bytes, 2);
      return std::string();
    });
    EXPECT_EQ(test::ReadFileText(dir / "victim"), "keep me\n");
    EXPECT_TRUE(fs::is_symlink(dir / "link"));
    EXPECT_TRUE(fs::is_fifo(dir / "fifo"));
  }
}
#endif

TEST(CommandLine, AsksForTheLogWhenItHoldsDashLogAnywhere) {
  const std::pair<const char*, bool> texts[] = {
      {"-log", true}, {"/a -log", true}, {"-logfile", true}, {"-LOG", false}, {"", false}};
  for (const auto& [text, asks] : texts) EXPECT_EQ(CommandLineAsksForLog(text), asks) << text;
  // Arguments are joined with spaces, without the program's own name.
  const char* logged[] = {"kfwupdate", "/a", "-log"};
  const char* split[] = {"kfwupdate", "-lo", "g"};
  const char* nameOnly[] = {"-log"};
  EXPECT_TRUE(CommandLineAsksForLog(3, logged));
  EXPECT_FALSE(CommandLineAsksForLog(3, split));
  EXPECT_FALSE(CommandLineAsksForLog(1, nameOnly));
}

TEST(FatalMidiError, CutsALongTextTo351Characters) {
  test::RecordingBoxes boxes;
  for (size_t length : {351u, 1000u}) {
    EXPECT_THROW(FatalMidiError("%s", std::string(length, 'x').c_str()), test::FatalEnded);
  }
  EXPECT_EQ(boxes.Fatals(), std::vector<std::string>(2, std::string(351, 'x')));
}

#if GTEST_HAS_DEATH_TEST
TEST(FatalMidiErrorDeathTest, EndsTheProcessWithStatusOneAfterShowingTheText) {
  // Without a front end the text goes to standard error.
  EXPECT_EXIT(FatalMidiError("midiOutLongMsg call failed - code %.8lx\n", 11ul),
              testing::ExitedWithCode(1), "^midiOutLongMsg call failed - code 0000000b\n$");
}
#endif

TEST(CancelFlag, AWindowCancelEndsWithItsProcedureAHeldOneOnlyWithTheProcessState) {
  RequestCancel();
  ClearCancel();  // the next procedure starts
  EXPECT_FALSE(CancelRequested());
  HoldCancel();
  ClearCancel();
  ClearCancel();
  EXPECT_TRUE(CancelRequested());
  ResetProcessState();
  EXPECT_FALSE(CancelRequested());
  RequestCancel();
  ClearCancel();
  EXPECT_FALSE(CancelRequested());  // the hold is gone with the reset
}

#ifdef KFW_TEST_POSIX_SYSTEM
// What each open does with each kind of name: whether it opens, and what the name then holds.
TEST(Files, OnlyRegularFilesOpenAndNothingWaits) {
  const fs::path dir = test::ScratchDirectory() / "kinds";
  fs::remove_all(dir);
  fs::create_directories(dir);
  test::MakeFifo((dir / "fifo").string());
  fs::create_directory(dir / "folder");
  fs::create_symlink(dir / "file", dir / "link");
  fs::create_symlink(dir / "fifo", dir / "fifo-link");
  fs::create_symlink("/dev/zero", dir / "zero-link");
  test::ExpectInChildWithin(10, [&dir] {
    struct Case {
      const char* name;
      bool read, truncate, truncateNoLink, appendNoLink;
    };
    const Case cases[] = {
        {"file", true, true, true, true},          {"link", true, true, false, false},
        {"missing", false, true, true, true},      {"fifo", false, false, false, false},
        {"fifo-link", false, false, false, false}, {"folder", false, false, false, false},
        {"zero-link", false, false, false, false}, {"/dev/null", false, false, false, false},
    };
    std::string wrong;
    for (const Case& c : cases) {
      const std::string name = c.name[0] == '/' ? c.name : (dir / c.name).string();
      const auto reset = [&] {
        std::ofstream(dir / "file") << "old";
        fs::remove(dir / "missing");
      };
      const auto holds = [&](const char* text, bool opened, bool expected) {
        // A regular file, when it was opened, holds what was written; otherwise what it held.
        const std::string target = c.name == std::string("link") ? "file" : c.name;
        if (opened != expected) wrong += std::string(c.name) + " opened: " + text + "\n";
        if (fs::is_regular_file(dir / target) && test::ReadFileText(dir / target) != text) {
          wrong += std::string(c.name) + " holds " + test::ReadFileText(dir / target) + "\n";
        }
      };
      reset();
      RegularFile file = OpenForReading(name);
      std::string text;
      if (file.IsOpen() != c.read || (c.read && (!file.ReadAtMost(3, text) || text != "old"))) {
        wrong += std::string(c.name) + " read as " + text + "\n";
      }
      const std::tuple<WriteMode, Links, bool, const char*> writes[] = {
          {WriteMode::kTruncate, Links::kFollow, c.truncate, "new"},
          {WriteMode::kTruncate, Links::kRefuse, c.truncateNoLink, "new"},
          {WriteMode::kAppend, Links::kRefuse, c.appendNoLink, "oldnew"},
      };
      for (const auto& [mode, links, opens, after] : writes) {
        reset();
        file = OpenForWriting(name, mode, links);
        const bool opened = file.IsOpen() && file.WriteAll("new", 3) && file.Close();
        const bool created = c.name == std::string("missing");
        holds(opened ? (created ? "new" : after) : "old", opened, opens);
      }
    }
    return wrong;
  });
  EXPECT_TRUE(fs::is_fifo(dir / "fifo"));
  EXPECT_TRUE(fs::is_symlink(dir / "link"));
}
#elif defined(_WIN32)
// Windows opens devices and pipes by name as it opens files: "NUL" in any folder, a named pipe
// under \\.\pipe\, which a read would wait on for ever. Only a file on a disk opens.
TEST(Files, OnlyFilesOnADiskOpenAndNothingWaits) {
  const fs::path dir = test::ScratchDirectory() / "kinds";
  fs::remove_all(dir);
  fs::create_directories(dir / "folder");
  const std::string pipe = R"(\\.\pipe\kfwtest-)" + std::to_string(GetCurrentProcessId());
  // One free instance for each open below, so that none is refused only for want of one.
  std::vector<HANDLE> instances;
  for (int i = 0; i < 4; ++i) {
    instances.push_back(CreateNamedPipeW(WideFromUtf8(pipe).c_str(), PIPE_ACCESS_DUPLEX,
                                         PIPE_TYPE_BYTE, PIPE_UNLIMITED_INSTANCES, 64, 64, 0,
                                         nullptr));
    ASSERT_NE(instances.back(), INVALID_HANDLE_VALUE) << GetLastError();
  }
  test::ExpectInChildWithin(10, [&dir, &pipe] {
    struct Case {
      std::string name;
      bool read, written;
    };
    const Case cases[] = {
        {(dir / "file").string(), true, true}, {(dir / "missing").string(), false, true},
        {(dir / "folder").string(), false, false}, {"NUL", false, false},
        {(dir / "NUL").string(), false, false}, {pipe, false, false},
    };
    std::string wrong;
    for (const Case& c : cases) {
      std::ofstream(dir / "file") << "old";
      fs::remove(dir / "missing");
      RegularFile file = OpenForReading(c.name);
      std::string text;
      if (file.IsOpen() != c.read || (c.read && (!file.ReadAtMost(3, text) || text != "old"))) {
        wrong += c.name + " read as " + text + "\n";
      }
      for (const auto& [mode, links] : {std::pair{WriteMode::kTruncate, Links::kFollow},
                                        std::pair{WriteMode::kTruncate, Links::kRefuse},
                                        std::pair{WriteMode::kAppend, Links::kRefuse}}) {
        file = OpenForWriting(c.name, mode, links);
        if (file.IsOpen() != c.written) wrong += c.name + " opened for writing\n";
      }
    }
    return wrong;
  });
  for (const HANDLE instance : instances) CloseHandle(instance);
}
#endif

// Sets (or, for nullptr, removes) an environment variable for the life of the object.
class EnvironmentVariable {
 public:
  EnvironmentVariable(const char* name, const char* value) : name_(name) {
    if (const char* old = std::getenv(name)) old_ = old;
    Set(value);
  }
  ~EnvironmentVariable() { Set(old_ ? old_->c_str() : nullptr); }

 private:
  void Set(const char* value) {
#ifdef _WIN32
    _putenv_s(name_, value ? value : "");  // an empty value removes it
#else
    if (value) setenv(name_, value, 1);
    else unsetenv(name_);
#endif
  }
  const char* name_;
  std::optional<std::string> old_;
};

// The port settings must not scatter into whatever folder a program runs in because it was
// started with another environment (by a service, a scheduler, `env -i`).
TEST(Files, TheUsersSettingsFolderIsAnAbsolutePathWhateverTheEnvironment) {
  using Variables = std::vector<std::pair<const char*, const char*>>;
  const std::pair<const char*, Variables> cases[] = {
      {"as started", {}},
#ifdef _WIN32
      {"without APPDATA", {{"APPDATA", nullptr}}},
      {"with a relative APPDATA", {{"APPDATA", "Roaming"}}},
#else
      {"with a relative XDG_CONFIG_HOME", {{"XDG_CONFIG_HOME", "config"}}},
#ifdef KFW_TEST_POSIX_SYSTEM  // the home from the user database, which a web page has not
      {"without HOME and XDG_CONFIG_HOME", {{"HOME", nullptr}, {"XDG_CONFIG_HOME", nullptr}}},
#endif
#endif
  };
  for (const auto& [name, variables] : cases) {
    std::vector<std::unique_ptr<EnvironmentVariable>> set;
    for (const auto& [variable, value] : variables) {
      set.push_back(std::make_unique<EnvironmentVariable>(variable, value));
    }
    const std::string folder = UserConfigDirectory();
    EXPECT_TRUE(fs::path(folder).is_absolute()) << name << ": " << folder;
  }
}

TEST(Files, ReplacingLeavesTheNewContentsAndNoTemporary) {
  const fs::path dir = test::ScratchDirectory() / "replace";
  fs::remove_all(dir);
  fs::create_directories(dir);
  const auto names = [&] {
    std::vector<std::string> found;
    for (const auto& entry : fs::directory_iterator(dir)) {
      found.push_back(entry.path().filename().string());
    }
    std::sort(found.begin(), found.end());
    return found;
  };
  const std::string file = (dir / "settings").string();
  // A temporary left by a save killed mid-write is reused, not left beside the new one.
  std::ofstream(TemporaryNameFor(file)) << "half a sa";
  ASSERT_TRUE(ReplaceFileContents(file, "first\n"));
  ASSERT_TRUE(ReplaceFileContents(file, "second\n"));
  EXPECT_EQ(test::ReadFileText(file), "second\n");
  std::vector<std::string> left = {"settings"};
#ifndef _WIN32
  // A link is replaced by the file, its target left as it was.
  std::ofstream(dir / "target") << "target\n";
  fs::create_symlink(dir / "target", dir / "link");
  ASSERT_TRUE(ReplaceFileContents((dir / "link").string(), "link\n"));
  EXPECT_FALSE(fs::is_symlink(dir / "link"));
  EXPECT_EQ(test::ReadFileText(dir / "target"), "target\n");
  left = {"link", "settings", "target"};
#endif
  EXPECT_EQ(names(), left);
  // Failures leave nothing either: a folder in the file's place, a folder that is not there.
  fs::create_directory(dir / "folder");
  EXPECT_FALSE(ReplaceFileContents((dir / "folder").string(), "x"));
  EXPECT_FALSE(ReplaceFileContents((dir / "none" / "file").string(), "x"));
  left.insert(left.begin(), "folder");
  EXPECT_EQ(names(), left);
}

}  // namespace
}  // namespace kfw
