// The command-line program's pieces, in the test's own process: the reading of numbers and port
// words, the printing of the module's texts, and the steps of `update` against the simulated module
// in virtual time, with a Ctrl-C raised at the moments a user could press it.
#include <gtest/gtest.h>
#include <signal.h>

#include <climits>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "base/waiting.h"
#include "cli/arguments.h"
#include "cli/commands.h"
#include "cli/port_choice.h"
#include "cli/terminal.h"
#include "cli/visible_text.h"
#include "engine/process_state.h"
#include "image/image_writer.h"
#include "tests/engine/engine_helpers.h"
#include "tests/support/doubles.h"

namespace kfw {
namespace {

struct NumberCase {
  const char* text;
  unsigned long maximum;
  std::optional<unsigned long> value;  // none: refused
};

TEST(CliNumbers, OnlyDecimalDigitsOrHexDigitsAfter0xAreNumbers) {
  const std::vector<NumberCase> cases = {
      {"0", 255, 0},
      {"33", 255, 33},
      {"033", 255, 33},  // decimal, not octal
      {"0x21", 255, 0x21},
      {"0X0a", 255, 0x0A},
      {"0xFF", 255, 0xFF},
      {"0x00ff", 255, 0xFF},
      {"255", 255, 255},
      {"256", 255, std::nullopt},
      {"0x100", 255, std::nullopt},
      {"18446744073709551615", ULONG_MAX, ULONG_MAX},
      {"0xffffffffffffffff", ULONG_MAX, ULONG_MAX},
      {"18446744073709551616", ULONG_MAX, std::nullopt},
      {"0x10000000000000000", ULONG_MAX, std::nullopt},
      {"99999999999999999999", 255, std::nullopt},
      {"", 255, std::nullopt},
      {"0x", 255, std::nullopt},
      {"0X", 255, std::nullopt},
      {" 33", 255, std::nullopt},
      {"\t33", 255, std::nullopt},
      {"33 ", 255, std::nullopt},
      {"+33", 255, std::nullopt},
      {"-0", 255, std::nullopt},
      {"0x 21", 255, std::nullopt},
      {"0x+21", 255, std::nullopt},
      {"0x-0", 255, std::nullopt},
      {"0x-1", ULONG_MAX, std::nullopt},
      {"x21", 255, std::nullopt},
      {"21h", 255, std::nullopt},
      {"0xg", 255, std::nullopt},
      {"1e2", 255, std::nullopt},
      {"0b1", 255, std::nullopt},
  };
  for (const NumberCase& c : cases) {
    SCOPED_TRACE(std::string("\"") + c.text + "\"");
    unsigned long value = 12345;
    EXPECT_EQ(cli::ParseNumber(c.text, c.maximum, value), c.value.has_value());
    EXPECT_EQ(value, c.value.value_or(12345));  // untouched when refused
  }
}

TEST(CliPortWords, ThoseThatCouldNameNoPortAreRefusedBeforeAnyPortIsLookedAt) {
  const std::pair<const char*, bool> words[] = {
      {"1", true},
      {"2147483647", true},
      {"2147483648", false},
      {"99999999999999999999", false},
      {"", false},
      {"sim", true},
      {"QX-412 MIDI 1", true},
      {" ", true},  // a part of a name, as names hold spaces
      {"/dev/snd/midiC1D0", true},
  };
  for (const auto& [word, readable] : words) {
    std::string error;
    EXPECT_EQ(cli::PortWordReadable(word, error), readable) << '"' << word << '"';
    EXPECT_EQ(error.empty(), readable) << error;
  }
}

TEST(CliVisibleText, EveryByteATerminalWouldActOnIsWrittenOut) {
  using namespace std::string_literals;
  const std::pair<std::string, std::string> texts[] = {
      {"QX-412", "QX-412"},
      {"", ""},
      {" !~", " !~"},                              // the printable edges stay
      {"\x1b]0;owned\x07", "\\x1b]0;owned\\x07"},  // retitles the terminal
      {"\x1b[2J\x1b[H", "\\x1b[2J\\x1b[H"},        // clears the screen
      {"a\rb\nc\td\x08", "a\\x0db\\x0ac\\x09d\\x08"},
      {"\x01\x1f\x7f", "\\x01\\x1f\\x7f"},
      {"\x80\x9b\xc3\xa9\xff", "\\x80\\x9b\\xc3\\xa9\\xff"},  // C1 CSI, UTF-8 bytes
      {"x\0y"s, "x\\x00y"},
      {"\\x1b", "\\\\x1b"},  // a name that only looks like an escape is told apart
  };
  for (const auto& [text, visible] : texts) EXPECT_EQ(cli::VisibleText(text), visible) << visible;
}

// The simulated module holds 1.2, so an image of 1.3 is written without a question.
std::vector<uint8_t> NewerImage() {
  ModuleIdentity identity;
  return ImageWriter::Version1(identity.companyId, identity.productId)
      .Image(1, 3, test::ImageData(300))
      .End()
      .Bytes();
}

// Puts the default action of SIGINT back after a test that installed the program's handler.
struct InterruptHandlerInstalled {
  InterruptHandlerInstalled() { cli::InstallInterruptHandler(); }
  ~InterruptHandlerInstalled() { signal(SIGINT, SIG_DFL); }
};

struct CtrlCCase {
  const char* when;
  bool beforeConnecting;  // else right after the first Connect, while the module is reported
};

TEST(CliUpdateSteps, ACtrlCCancelsTheUpdateWhereverItComesAndNothingIsErasedAfterIt) {
  const std::vector<CtrlCCase> cases = {
      {"before the first Connect clears the flag", true},
      {"between the first Connect and the update's own", false},
  };
  for (const CtrlCCase& c : cases) {
    SCOPED_TRACE(c.when);
    ResetProcessState();
    test::SimRig rig;
    ASSERT_TRUE(rig.opened());
    test::ModuleWatch watch(rig);
    InterruptHandlerInstalled handler;
    if (c.beforeConnecting) raise(SIGINT);
    bool reported = false;
    const ResultCode result = cli::ConnectCheckAndUpdate(NewerImage(), deviceInfo, [&] {
      reported = true;
      if (!c.beforeConnecting) raise(SIGINT);
    });
    EXPECT_EQ(result, kCanceled);
    EXPECT_EQ(reported, !c.beforeConnecting);
    // No prepare area (the erase: P), no block (B, F), no final reset (R0).
    EXPECT_EQ(watch.Names().find_first_of("PBF"), std::string::npos) << watch.Names();
    EXPECT_EQ(watch.Names().find("R0"), std::string::npos) << watch.Names();
    EXPECT_TRUE(rig.module.ProgrammedImages().empty());
  }
}

}  // namespace
}  // namespace kfw
