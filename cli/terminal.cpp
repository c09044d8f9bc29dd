#include "cli/terminal.h"

#include <cstdio>
#include <iostream>

#include "cli/common.h"
#include "cli/inspect_report.h"
#include "cli/visible_text.h"
#include "midi/ports.h"

namespace kfw::cli {

namespace {

constexpr int kBarWidth = 30;
// The caption (30 wide, longer ones are not cut), " [", the bar, "] ", "100%".
constexpr int kBarLineWidth = 30 + 2 + kBarWidth + 2 + 4;

}  // namespace

bool StandardOutputWritten() {
  const bool flushed = std::fflush(stdout) == 0;
  return flushed && !std::ferror(stdout);
}

void PrintError(const std::string& text) {
  std::fputs(text.c_str(), stderr);
  if (text.empty() || text.back() != '\n') std::fputc('\n', stderr);
  std::fflush(stderr);
}

TerminalFrontEnd::TerminalFrontEnd(std::optional<bool> answer, BarStyle barStyle)
    : answer_(answer), barStyle_(barStyle) {}

void TerminalFrontEnd::ClearBar() {
  if (!barDrawn_) return;
  if (barStyle_ == BarStyle::kEscapes) {
    std::fputs("\r\033[2K", stderr);
  } else {
    std::fprintf(stderr, "\r%*s\r", kBarLineWidth, "");
  }
  std::fflush(stderr);
  barDrawn_ = false;
}

void TerminalFrontEnd::ShowError(const std::string& text) {
  ClearBar();
  PrintError(text);
}

bool TerminalFrontEnd::AskYesNo(const std::string& text) {
  ClearBar();
  if (answer_) {
    std::fprintf(stderr, "%s %s\n", text.c_str(), *answer_ ? "Yes" : "No");
    return *answer_;
  }
  if (!StandardInputIsTerminal()) {
    std::fprintf(stderr, "%s No (no terminal to ask; --yes answers Yes)\n", text.c_str());
    return false;
  }
  std::fprintf(stderr, "%s [y/N] ", text.c_str());
  std::fflush(stderr);
  std::string line;
  if (!std::getline(std::cin, line)) return false;
  return line == "y" || line == "Y" || line == "yes" || line == "Yes" || line == "YES";
}

void TerminalFrontEnd::ShowFatal(const std::string& text) {
  ClearBar();
  PrintError(text);
}

void TerminalFrontEnd::Show() {
  caption_.clear();
  lastPercent_ = -1;
}

void TerminalFrontEnd::Update(const char* caption, uint32_t percent) {
  const bool newCaption = caption_ != caption;
  if (!newCaption && static_cast<int>(percent) == lastPercent_) return;
  caption_ = caption;
  lastPercent_ = static_cast<int>(percent);
  if (barStyle_ == BarStyle::kNone) {
    // Logs and pipes get one plain line per step, no control characters.
    if (newCaption) {
      std::fprintf(stderr, "%s\n", caption);
      std::fflush(stderr);
    }
    return;
  }
  const uint32_t shown = percent > 100 ? 100 : percent;
  const int filled = static_cast<int>(shown * kBarWidth / 100);
  std::string bar(static_cast<size_t>(filled), '#');
  bar.append(static_cast<size_t>(kBarWidth - filled), '-');
  // Every line is as wide as the last (the caption padded), so a carriage return alone draws over
  // it where escape sequences are not understood.
  std::fprintf(stderr, "%s%-30s [%s] %3u%%", barStyle_ == BarStyle::kEscapes ? "\r\033[2K" : "\r",
               caption, bar.c_str(), shown);
  std::fflush(stderr);
  barDrawn_ = true;
}

void TerminalFrontEnd::Hide() {
  ClearBar();
}

void TerminalFrontEnd::ShowSuccess(const std::string& text, const DeviceInfo& module,
                                   bool withProduct) {
  std::printf("%s\n", text.c_str());
  PrintModule(module, withProduct);
}

void TerminalFrontEnd::ShowPortLists(const std::vector<std::string>& inputs,
                                     const std::vector<std::string>& outputs) {
  const auto list = [](const char* title, const std::vector<std::string>& names) {
    std::printf("%s:\n  0  %s\n", title, kChooseAPort);
    // A port's name is any other program's choice: a JACK or ALSA client can put escape sequences
    // in it that would retitle the window or repaint the screen.
    for (size_t i = 0; i < names.size(); ++i) {
      std::printf("  %zu  %s\n", i + 1, VisibleText(names[i]).c_str());
    }
  };
  list("Receive from", inputs);
  list("Transmit to", outputs);
}

namespace {

// The report for people on standard output, a line a record.
class TextInspection final : public InspectionOutput {
 public:
  explicit TextInspection(std::string fileName) : fileName_(std::move(fileName)) {}

  void HeaderRead(const ImageInspection& inspection) override {
    fileLength_ = inspection.header.length;
    std::fputs(InspectionHead(fileName_, inspection).c_str(), stdout);
  }
  bool RecordWalked(uint32_t number, const ImageRecord& record) override {
    std::fputs(RecordLine(number, fileLength_, record).c_str(), stdout);
    return true;
  }
  void Finish(const ImageInspection& inspection, ResultCode result) override {
    std::fputs(InspectionTail(inspection, result).c_str(), stdout);
  }

 private:
  std::string fileName_;
  uint32_t fileLength_ = 0;
};

}  // namespace

std::unique_ptr<InspectionOutput> TerminalFrontEnd::StartInspection(const std::string& fileName) {
  return std::make_unique<TextInspection>(fileName);
}

void TerminalFrontEnd::ShowNote(const std::string& text) {
  std::printf("%s\n", text.c_str());
}

void TerminalFrontEnd::ShowAdvice(const std::string& text) {
  ClearBar();
  PrintError(text);
}

int TerminalFrontEnd::Finish(int exitStatus) {
  return exitStatus;
}

}  // namespace kfw::cli
