// The command-line program's pieces, in the test's own process: the reading of numbers and port
// words, the printing of the module's texts, and the steps of `update` against the simulated module
// in virtual time, with a Ctrl-C raised at the moments a user could press it.
#include <gtest/gtest.h>

#ifdef _WIN32
#include <windows.h>
#else
#include <signal.h>
#endif

#include <atomic>
#include <chrono>
#include <climits>
#include <functional>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "base/waiting.h"
#include "cli/arguments.h"
#include "cli/commands.h"
#include "cli/console.h"
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
      // The largest unsigned long, and one more.
#if ULONG_MAX > 0xFFFFFFFFul
      {"18446744073709551615", ULONG_MAX, ULONG_MAX},
      {"0xffffffffffffffff", ULONG_MAX, ULONG_MAX},
#else  // 32 bits, as on Windows
      {"4294967295", ULONG_MAX, ULONG_MAX},
      {"0xffffffff", ULONG_MAX, ULONG_MAX},
      {"4294967296", ULONG_MAX, std::nullopt},
      {"0x100000000", ULONG_MAX, std::nullopt},
#endif
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

// The lines standard error shows for one procedure's progress, and the texts between them.
std::string ProgressShown(cli::BarStyle style) {
  cli::TerminalFrontEnd frontEnd(std::nullopt, style);
  testing::internal::CaptureStderr();
  frontEnd.Show();
  frontEnd.Update("Connecting...", 0);
  frontEnd.Update("Connecting...", 0);  // nothing new: not drawn again
  frontEnd.Update("Preparing firmware area...", 7);
  frontEnd.Update("Updating firmware area...", 100);
  frontEnd.ShowError("MIDI Response timeout");
  frontEnd.Update("Updating firmware area...", 250);
  frontEnd.Hide();
  return testing::internal::GetCapturedStderr();
}

TEST(CliProgress, EachStyleDrawsOverItsOwnLineAndLeavesTheRestClean) {
  // Plain lines for files and pipes: one per caption, nothing a terminal would act on.
  EXPECT_EQ(ProgressShown(cli::BarStyle::kNone),
            "Connecting...\nPreparing firmware area...\nUpdating firmware area...\n"
            "MIDI Response timeout\n");
  const std::string escapes = ProgressShown(cli::BarStyle::kEscapes);
  const std::string returns = ProgressShown(cli::BarStyle::kReturn);
  // Both draw the same bars; the line is cleared before a message and at the end.
  EXPECT_NE(escapes.find("Preparing firmware area...     [##----------------------------]   7%"),
            std::string::npos)
      << escapes;
  EXPECT_NE(escapes.find("\r\033[2KMIDI Response timeout\n"), std::string::npos) << escapes;
  EXPECT_EQ(escapes.substr(escapes.size() - 5), "\r\033[2K");
  // A console without escape sequences: every line as wide as the one it draws over, and
  // cleared with spaces.
  EXPECT_EQ(returns.find('\033'), std::string::npos) << returns;
  const size_t message = returns.find("MIDI Response timeout\n");
  ASSERT_NE(message, std::string::npos) << returns;
  std::vector<size_t> widths;
  for (const std::string& part : {returns.substr(0, message), returns.substr(message + 22)}) {
    for (size_t start = 0; start < part.size();) {
      ASSERT_EQ(part[start], '\r') << returns;
      const size_t next = part.find('\r', start + 1);
      const size_t end = next == std::string::npos ? part.size() : next;
      if (end > start + 1) widths.push_back(end - start - 1);
      start = end;
    }
  }
  ASSERT_EQ(widths.size(), 6u) << returns;  // 4 bars, each followed by its clearing
  for (size_t width : widths) EXPECT_EQ(width, widths[0]) << returns;
  EXPECT_EQ(returns.substr(returns.size() - 2), " \r");
}

// The simulated module holds 1.2, so an image of 1.3 is written without a question.
std::vector<uint8_t> NewerImage() {
  ModuleIdentity identity;
  return ImageWriter::Version1(identity.companyId, identity.productId)
      .Image(1, 3, test::ImageData(300))
      .End()
      .Bytes();
}

// Puts the platform's default back after a test that installed the program's handler.
struct InterruptHandlerInstalled {
  InterruptHandlerInstalled() { cli::InstallInterruptHandler(); }
  ~InterruptHandlerInstalled() { cli::RemoveInterruptHandler(); }
};

// What the user's Ctrl-C does to this process: the signal on POSIX; on Windows the console
// handler, called as the system calls it.
void PressCtrlC() {
#ifdef _WIN32
  cli::HandleConsoleEvent(CTRL_C_EVENT);
#else
  raise(SIGINT);
#endif
}

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
    if (c.beforeConnecting) PressCtrlC();
    bool reported = false;
    const ResultCode result = cli::ConnectCheckAndUpdate(NewerImage(), deviceInfo, [&] {
      reported = true;
      if (!c.beforeConnecting) PressCtrlC();
    });
    EXPECT_EQ(result, kCanceled);
    EXPECT_EQ(reported, !c.beforeConnecting);
    // No prepare area (the erase: P), no block (B, F), no final reset (R0).
    EXPECT_EQ(watch.Names().find_first_of("PBF"), std::string::npos) << watch.Names();
    EXPECT_EQ(watch.Names().find("R0"), std::string::npos) << watch.Names();
    EXPECT_TRUE(rig.module.ProgrammedImages().empty());
  }
}

TEST(CliInterruptDeathTest, ASecondCtrlCQuitsAtOnceWith130) {
  EXPECT_EXIT(
      {
        cli::InstallInterruptHandler();
        PressCtrlC();
        if (!CancelRequested()) std::_Exit(1);
        PressCtrlC();
        std::_Exit(2);
      },
      testing::ExitedWithCode(130), "press Ctrl-C again to quit at once");
}

#ifdef _WIN32
// Set by a handler of a closing console that wrongly returned.
std::atomic<bool> closingHandlerReturned{false};

struct ConsoleEventCase {
  const char* name;
  DWORD event;
  bool cancels;
  bool returns;  // else it waits for the program to end
};

TEST(CliConsole, CtrlBreakAndAClosedWindowCancelAsCtrlCDoesOtherEventsAreNotTaken) {
  const std::vector<ConsoleEventCase> cases = {
      {"Ctrl-C", CTRL_C_EVENT, true, true},
      {"Ctrl-Break", CTRL_BREAK_EVENT, true, true},
      {"the console window closed", CTRL_CLOSE_EVENT, true, false},
      {"the user logging off", CTRL_LOGOFF_EVENT, true, false},
      {"not a console event", 3, false, true},
  };
  for (const ConsoleEventCase& c : cases) {
    SCOPED_TRACE(c.name);
    ResetProcessState();
    InterruptHandlerInstalled handler;
    if (c.returns) {
      EXPECT_EQ(cli::HandleConsoleEvent(c.event), c.cancels);
    } else {
      // The system ends the process as soon as the handler returns: it must not, before the
      // procedure has stopped and the ports are closed. The end of this test program ends it.
      std::thread([event = c.event] {
        cli::HandleConsoleEvent(event);
        closingHandlerReturned = true;
      }).detach();
      const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
      while (!CancelRequested() && std::chrono::steady_clock::now() < deadline) {
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
      }
      EXPECT_FALSE(closingHandlerReturned);
    }
    // Held: the start of the next procedure does not clear it.
    ClearCancel();
    EXPECT_EQ(CancelRequested(), c.cancels);
  }
}
#endif

}  // namespace
}  // namespace kfw
