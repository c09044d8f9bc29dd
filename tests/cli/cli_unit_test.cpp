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
#include <fstream>
#include <functional>
#include <nlohmann/json.hpp>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "base/waiting.h"
#include "cli/arguments.h"
#include "cli/commands.h"
#include "cli/console.h"
#include "cli/json_front_end.h"
#include "cli/port_choice.h"
#include "cli/terminal.h"
#include "cli/visible_text.h"
#include "engine/process_state.h"
#include "image/image_writer.h"
#include "midi/ports.h"
#include "protocol/device_status.h"
#include "tests/engine/engine_helpers.h"
#include "tests/support/doubles.h"
#include "tests/support/test_device.h"

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

struct PortWordCase {
  std::string word;
  int32_t position;   // 0: refused
  std::string error;  // what the refusal says, when refused
};

// Port names are any local program's choice: a JACK or ALSA client can name its port with escape
// sequences that retitle the terminal or paint it. Wherever the terminal shows one (the lists of
// `ports`, a PORT matching several) it is written with the visible-text rule, as the module's
// texts are; the name as shown chooses the port too.
TEST(CliPortNames, ReachTheTerminalOnlyAsVisibleTextAndChooseThePortAsShown) {
  test::TestDevice device;
  const std::string hostile = "x \x1b]0;owned\x07\x1b[31mred";
  const std::string shown = "x \\x1b]0;owned\\x07\\x1b[31mred";
  device.inputNames = {hostile, "x caf\xC3\xA9"};
  device.outputNames = {"Out"};
  ASSERT_TRUE(FillPortLists());

  cli::TerminalFrontEnd frontEnd(std::nullopt, cli::BarStyle::kNone);
  testing::internal::CaptureStdout();
  frontEnd.ShowPortLists(InputPortNames(), OutputPortNames());
  const std::string listed = testing::internal::GetCapturedStdout();
  EXPECT_EQ(listed,
            "Receive from:\n  0  (Choose a MIDI port)\n  1  " + shown +
                "\n  2  x caf\\xc3\\xa9\nTransmit to:\n  0  (Choose a MIDI port)\n  1  Out\n");

  const cli::PortChoice choice;
  const std::vector<PortWordCase> cases = {
      {hostile, 1, ""},
      {shown, 1, ""},
      {"x caf\\xc3\\xa9", 2, ""},
      {"CAF\xC3\xA9", 2, ""},
      {"x", 0,
       "\"x\" matches several ports in \"Receive from\": \"" + shown +
           "\" \"x caf\\xc3\\xa9\"; give more of the name or its position"},
      {"\x1b]0;", 1, ""},
      // Both names as shown hold a backslash; the word is shown as the names are.
      {"\\x", 0,
       "\"\\\\x\" matches several ports in \"Receive from\": \"" + shown +
           "\" \"x caf\\xc3\\xa9\"; give more of the name or its position"},
      {"nothing\x07", 0,
       "no port in \"Receive from\" matches \"nothing\\x07\"; run `kfwupdate ports` to list "
       "them (the simulated module is listed with --simulator)"},
  };
  for (const PortWordCase& c : cases) {
    SCOPED_TRACE(cli::VisibleText(c.word));
    int32_t position = 0;
    std::string error;
    EXPECT_EQ(choice.ResolveInput(c.word, position, error), c.position != 0);
    if (c.position != 0) {
      EXPECT_EQ(position, c.position);
    }
    EXPECT_EQ(error, c.error);
    for (const char byte : error) EXPECT_TRUE(byte >= 0x20 && byte < 0x7F) << error;
  }
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

// The lines a JSON front end writes while `write` runs, each parsed.
std::vector<nlohmann::json> JsonWritten(const std::function<void(cli::JsonFrontEnd&)>& write,
                                        std::string* text = nullptr) {
  cli::JsonFrontEnd frontEnd;
  testing::internal::CaptureStdout();
  write(frontEnd);
  std::string out = testing::internal::GetCapturedStdout();
  std::vector<nlohmann::json> events;
  for (size_t start = 0, end; start < out.size(); start = end + 1) {
    end = out.find('\n', start);
    if (end == std::string::npos) end = out.size();
    std::string line = out.substr(start, end - start);
    if (!line.empty() && line.back() == '\r') line.pop_back();  // a Windows text stream
    for (const char c : line) EXPECT_TRUE(c >= 0x20 && c < 0x7F) << line;
    events.push_back(nlohmann::json::parse(line));
  }
  if (text) *text = out;
  return events;
}

// The numbers of the characters of a UTF-8 text (of at most two bytes each, as U+0000 to U+07FF
// are written).
std::vector<unsigned> CodePoints(const std::string& text) {
  std::vector<unsigned> points;
  for (size_t i = 0; i < text.size(); ++i) {
    const auto byte = static_cast<unsigned char>(text[i]);
    if (byte < 0x80) {
      points.push_back(byte);
    } else if ((byte & 0xE0) == 0xC0 && i + 1 < text.size()) {
      points.push_back(((byte & 0x1Fu) << 6) | (static_cast<unsigned char>(text[++i]) & 0x3Fu));
    } else {
      ADD_FAILURE() << "not a character of two bytes at " << i;
      return points;
    }
  }
  return points;
}

struct ModuleNameCase {
  const char* name;
  std::string bytes;     // the name part of the status reply
  std::string fragment;  // what the line holds for it
};

TEST(CliJson, TheModulesTextsComeOutByteForByteWhateverTheyHold) {
  using namespace std::string_literals;
  std::vector<ModuleNameCase> cases = {
      {"plain", "QX-412", R"("productName":"QX-412")"},
      {"a byte SysEx carries only inside its body", "QX\xF0", R"("productName":"QX\u00f0")"},
      {"escape sequences", "\x1b[2J\x07", R"("productName":"\u001b[2J\u0007")"},
      {"a quote and a backslash", "a\"b\\c", R"("productName":"a\"b\\c")"},
      {"bytes that are not UTF-8", "\xC3\x28\xFF\x80", R"("productName":"\u00c3(\u00ff\u0080")"},
  };
  // And every byte a name can hold, 29 at a time.
  for (unsigned first = 1; first < 0x100; first += 29) {
    std::string bytes;
    for (unsigned byte = first; byte < first + 29 && byte < 0x100; ++byte) {
      bytes += static_cast<char>(byte);
    }
    cases.push_back({"every byte", bytes, R"("productName":")"});
  }
  for (const ModuleNameCase& c : cases) {
    SCOPED_TRACE(std::string(c.name) + " " + cli::VisibleText(c.bytes));
    // The status reply as the module sends it (after its header): state 0, version 1.3, blocks of
    // 64, company 0x0021, product 0x0A, serial 01 02 03 04 05 06, then the name.
    std::vector<uint8_t> reply = {0x12, 0x00, 0x01, 0x03, 0x00, 0x40, 0x00, 0x21, 0x0A, 0x00,
                                  0x00, 0x00, 0x00, 0x01, 0x02, 0x03, 0x04, 0x05, 0x06};
    reply.insert(reply.end(), c.bytes.begin(), c.bytes.end());
    DeviceInfo info;
    ParseDeviceStatus(reply.data(), static_cast<uint32_t>(reply.size()), info);
    std::string text;
    const auto events = JsonWritten(
        [&](cli::JsonFrontEnd& frontEnd) { frontEnd.ShowSuccess(kConnectedText, info, true); },
        &text);
    ASSERT_EQ(events.size(), 2u) << text;
    const nlohmann::json& module = events[0];
    EXPECT_NE(text.find(c.fragment), std::string::npos) << text;
    const std::vector<unsigned> name = CodePoints(module.at("productName").get<std::string>());
    EXPECT_EQ(name, std::vector<unsigned>(
                        reinterpret_cast<const unsigned char*>(c.bytes.data()),
                        reinterpret_cast<const unsigned char*>(c.bytes.data()) + c.bytes.size()));
    EXPECT_EQ(module.at("serial"), "010203040506");
    EXPECT_EQ(module.at("version"), "1.3");
    EXPECT_EQ(module.at("blockSize"), 64);
    EXPECT_EQ(module.at("companyId"), 0x21);
    EXPECT_EQ(module.at("productId"), 0x0A);
    EXPECT_EQ(events[1].at("kind"), "success");
  }
}

TEST(CliJson, OtherTextsStayUtf8AndAByteThatIsNotIsReplaced) {
  const std::string utf8 = "\xC3\xA9t\xC3\xA9-\xE6\x97\xA5.kfw";  // "été-日.kfw"
  std::string text;
  const auto events = JsonWritten(
      [&](cli::JsonFrontEnd& frontEnd) {
        frontEnd.ShowPortLists({utf8, "bad\xFF"}, {});
        const ImageInspection nothing;
        const auto inspection = frontEnd.StartInspection("x\xC3.kfw");
        inspection->HeaderRead(nothing);
        inspection->Finish(nothing, kOk);
        frontEnd.ShowError("Can't open file " + utf8 + " for reading");
      },
      &text);
  ASSERT_EQ(events.size(), 3u) << text;
  EXPECT_EQ(events[0].at("receiveFrom").at(0).at("name"), utf8);
  EXPECT_EQ(events[0].at("receiveFrom").at(1).at("name"), "bad\xEF\xBF\xBD");
  EXPECT_EQ(events[0].at("transmitTo"), nlohmann::json::array());
  EXPECT_EQ(events[1].at("file"), "x\xEF\xBF\xBD.kfw");
  EXPECT_EQ(events[2].at("text"), "Can't open file " + utf8 + " for reading");
  EXPECT_NE(text.find(R"(\u00e9t\u00e9-\u65e5.kfw)"), std::string::npos) << text;
}

TEST(CliJson, ProgressIsToldWhenItChangesAndEachNewWindowAfresh) {
  const auto events = JsonWritten([](cli::JsonFrontEnd& frontEnd) {
    frontEnd.Show();
    frontEnd.Update("Connecting...", 0);
    frontEnd.Update("Connecting...", 0);
    frontEnd.Update("Connecting...", 10);
    frontEnd.Hide();
    frontEnd.Show();
    frontEnd.Update("Connecting...", 10);
    frontEnd.Update("Delaying...", 10);
    frontEnd.Update("Delaying...", 10);
  });
  std::vector<std::string> told;
  for (const auto& event : events) {
    EXPECT_EQ(event.at("event"), "progress");
    told.push_back(event.at("caption").get<std::string>() + " " +
                   std::to_string(event.at("percent").get<int>()));
  }
  EXPECT_EQ(told, (std::vector<std::string>{"Connecting... 0", "Connecting... 10",
                                            "Connecting... 10", "Delaying... 10"}));
}

TEST(CliJson, AFatalTextIsTheLastThingWritten) {
  const auto events = JsonWritten([](cli::JsonFrontEnd& frontEnd) {
    frontEnd.Show();
    frontEnd.Update("Updating firmware area...", 20);
    frontEnd.ShowFatal("midiOutLongMsg call failed - code 00000007\n");
    // The procedures' thread may still report before the process ends.
    frontEnd.Update("Updating firmware area...", 40);
    frontEnd.ShowError("MIDI Response timeout");
    EXPECT_EQ(frontEnd.Finish(kResponseTimeout), kResponseTimeout);
  });
  ASSERT_EQ(events.size(), 3u);
  EXPECT_EQ(events[1], (nlohmann::json{{"event", "box"},
                                       {"kind", "fatal"},
                                       {"caption", "Korvex Firmware Update Utility"},
                                       {"text", "midiOutLongMsg call failed - code 00000007"}}));
  EXPECT_EQ(events[2], (nlohmann::json{{"event", "result"},
                                       {"code", nullptr},
                                       {"text", "midiOutLongMsg call failed - code 00000007"},
                                       {"exitStatus", 1}}));
}

// The boxes show the system's texts as they are, line feed and all; a program reading the events
// gets each text without the line end, and nothing else of it is taken away.
TEST(CliJson, TextsComeWithoutTheLineEndTheirBoxesShow) {
  const std::vector<std::pair<std::string, std::string>> cases = {
      {"midiInOpen returned 00000001. Is the MIDI port currently in use?\n",
       "midiInOpen returned 00000001. Is the MIDI port currently in use?"},
      {"midiInPrepareHeader returned 00000007\n", "midiInPrepareHeader returned 00000007"},
      {"two lines\nand no end", "two lines\nand no end"},
      {"MIDI Response timeout", "MIDI Response timeout"},
  };
  for (const auto& [shown, told] : cases) {
    SCOPED_TRACE(shown);
    const auto events = JsonWritten([&shown = shown](cli::JsonFrontEnd& frontEnd) {
      frontEnd.ShowError(shown);
      frontEnd.AskYesNo(shown);
      frontEnd.Finish(69);
    });
    ASSERT_EQ(events.size(), 3u);
    EXPECT_EQ(events[0].at("text"), told);
    EXPECT_EQ(events[1].at("text"), told);
    EXPECT_EQ(events[2].at("text"), told);
  }
}

TEST(CliJson, TheResultCarriesACodeOnlyForTheStatusesThatAreResultCodes) {
  const std::vector<std::pair<int, nlohmann::json>> cases = {
      {0, 0}, {2, 2}, {5, 5}, {17, 17}, {1, nullptr}, {64, nullptr}, {66, nullptr}, {69, nullptr},
  };
  for (const auto& [status, code] : cases) {
    SCOPED_TRACE(status);
    const auto events = JsonWritten([status = status](cli::JsonFrontEnd& frontEnd) {
      frontEnd.ShowError("why it ended");
      frontEnd.Finish(status);
    });
    ASSERT_EQ(events.size(), 2u);
    const nlohmann::json& result = events[1];
    EXPECT_EQ(result.at("code"), code);
    EXPECT_EQ(result.at("exitStatus"), status);
    EXPECT_EQ(result.at("text"), code.is_null()
                                     ? std::string("why it ended")
                                     : std::string(ResultText(static_cast<ResultCode>(status))));
  }
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

struct StoppedCommandCase {
  const char* name;
  int (*run)(const std::vector<std::string>&);
  std::vector<std::string> words;
  bool json;
};

// check, inspect and ports take the stop signals too: one that comes while they run (here, before
// the command looks at its work) ends them as it ends connect and update, with the canceled
// result, and with a `result` line for programs.
TEST(CliInterrupt, CheckInspectAndPortsEndWithTheCanceledResult) {
  const std::string file = (test::ScratchDirectory() / "stopped.kfw").string();
  {
    const std::vector<uint8_t> bytes = NewerImage();
    std::ofstream(file, std::ios::binary)
        .write(reinterpret_cast<const char*>(bytes.data()), static_cast<long>(bytes.size()));
  }
#ifndef _WIN32
  // No JACK server is started for the list, nor one of the machine's asked.
  setenv("JACK_NO_START_SERVER", "1", 1);
  setenv("JACK_DEFAULT_SERVER", "kfw-none", 1);
#endif
  const std::vector<StoppedCommandCase> cases = {
      {"check", cli::RunCheckCommand, {file}, false},
      {"check --json", cli::RunCheckCommand, {file, "--json"}, true},
      {"inspect", cli::RunInspectCommand, {file}, false},
      {"inspect --json", cli::RunInspectCommand, {file, "--json"}, true},
      {"ports --json", cli::RunPortsCommand, {"--json", "--simulator"}, true},
  };
  for (const StoppedCommandCase& c : cases) {
    SCOPED_TRACE(c.name);
    ResetProcessState();
    InterruptHandlerInstalled handler;
    testing::internal::CaptureStdout();
    testing::internal::CaptureStderr();
    PressCtrlC();
    const int status = c.run(c.words);
    const std::string out = testing::internal::GetCapturedStdout();
    const std::string err = testing::internal::GetCapturedStderr();
    EXPECT_EQ(status, kCanceled) << out << err;
    if (c.json) {
      ASSERT_FALSE(out.empty());
      const size_t last = out.find_last_of('\n', out.size() - 2);
      const nlohmann::json result =
          nlohmann::json::parse(out.substr(last == std::string::npos ? 0 : last + 1));
      EXPECT_EQ(result.at("event"), "result");
      EXPECT_EQ(result.at("code"), kCanceled);
      EXPECT_EQ(result.at("exitStatus"), kCanceled);
    } else {
      // Stopped before anything was shown: the canceled result is told as an error.
      EXPECT_NE(err.find("Operation canceled\n"), std::string::npos) << err;
      EXPECT_EQ(out, "");
    }
  }
#ifndef _WIN32
  unsetenv("JACK_NO_START_SERVER");
  unsetenv("JACK_DEFAULT_SERVER");
#endif
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
