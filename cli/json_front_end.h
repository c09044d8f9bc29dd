// JSON lines as the front end (--json): every event on standard output as one JSON object on a
// line of its own, for programs to read, and nothing else there; standard error is left to what
// cannot be an event. The events and their fields are listed in the README ("Output for
// programs").
#pragma once

#include <cstdint>
#include <mutex>
#include <nlohmann/json_fwd.hpp>
#include <optional>
#include <string>
#include <string_view>

#include "cli/front_end.h"

namespace kfw::cli {

class JsonFrontEnd final : public FrontEnd {
 public:
  // answer: the same-version question's answer given on the command line (--yes / --no); without
  // one the answer is No: a program reading the events cannot answer at the terminal.
  explicit JsonFrontEnd(std::optional<bool> answer = std::nullopt);

  void ShowError(const std::string& text) override;
  bool AskYesNo(const std::string& text) override;
  // The fatal box and, as the process ends with status 1 right after it, the result; nothing is
  // written after them.
  void ShowFatal(const std::string& text) override;

  void Show() override;
  // A line whenever the caption or the percentage changes.
  void Update(const char* caption, uint32_t percent) override;
  void Hide() override;

  // The module's identity, then the success box.
  void ShowSuccess(const std::string& text, const DeviceInfo& module, bool withProduct) override;
  void ShowPortLists(const std::vector<std::string>& inputs,
                     const std::vector<std::string>& outputs) override;
  // One `inspection` line, written as the walk goes: its head, each record, then the rest.
  std::unique_ptr<InspectionOutput> StartInspection(const std::string& fileName) override;
  // For people only: the result says it.
  void ShowNote(const std::string& text) override;
  void ShowAdvice(const std::string& text) override;  // likewise
  // The result: its code (null when the status is no result code), text and exit status.
  int Finish(int exitStatus) override;

 private:
  class JsonInspection;

  // One line on standard output, whole, while no other thread writes; nothing after the end.
  void Write(const nlohmann::ordered_json& event, bool last = false);
  // A piece of a line (of the inspection, whose records are written as they are walked); the
  // line goes out, flushed, with the piece that ends it.
  void WritePart(const std::string& text, bool endsLine, bool last = false);
  // A value as the line holds it: ASCII only.
  static std::string Dump(const nlohmann::ordered_json& value);

  std::mutex mutex_;  // the fatal box may come from the MIDI input thread
  bool ended_ = false;
  std::optional<bool> answer_;
  std::string lastError_;
  std::string caption_;
  int64_t lastPercent_ = -1;
};

// A module's text as JSON can carry any bytes: each byte becomes the character of the same number
// (as Latin-1 reads it), in UTF-8. Nothing is lost: 0xF0 becomes U+00F0, a control byte stays the
// control character it was (JSON escapes it), and the bytes come back as each character's number.
std::string BytesAsCharacters(std::string_view bytes);

}  // namespace kfw::cli
