#include "cli/json_front_end.h"

#include <cstdio>
#include <cstring>
#include <nlohmann/json.hpp>

#include "base/result.h"
#include "cli/inspect_report.h"
#include "image/image_file.h"

namespace kfw::cli {

// Fields in the order they are put in, "event" first, as the README lists them.
using json = nlohmann::ordered_json;

namespace {

// A text of fixed capacity from the status record, up to its terminating zero.
std::string FieldText(const char* field, size_t capacity) {
  return BytesAsCharacters(std::string_view(field, strnlen(field, capacity)));
}

// Some of the system's texts end with a line feed, as their boxes show them ("midiInOpen returned
// 00000001. Is the MIDI port currently in use?\n"); a program reading the event wants the text.
std::string WithoutLineEnd(std::string text) {
  if (!text.empty() && text.back() == '\n') text.pop_back();
  return text;
}

json Box(const char* kind, const char* caption, const std::string& text) {
  return {{"event", "box"}, {"kind", kind}, {"caption", caption}, {"text", WithoutLineEnd(text)}};
}

json Module(const DeviceInfo& module) {
  return {{"event", "module"},
          {"serial", FieldText(module.serialText, sizeof module.serialText)},
          {"version", FieldText(module.versionText, sizeof module.versionText)},
          {"productName", FieldText(module.productName, sizeof module.productName)},
          {"state", module.state},
          {"versionMajor", module.versionMajor},
          {"versionMinor", module.versionMinor},
          {"blockSize", module.blockSize},
          {"companyId", module.companyId},
          {"productId", module.productId}};
}

json PortList(const std::vector<std::string>& names) {
  json list = json::array();
  for (size_t i = 0; i < names.size(); ++i)
    list.push_back({{"position", i + 1}, {"name", names[i]}});
  return list;
}

const char* FaultName(ImageFault fault) {
  switch (fault) {
    case ImageFault::kNone:
      break;
    case ImageFault::kTooShort:
      return "tooShort";
    case ImageFault::kUnknownVersion:
      return "unknownVersion";
    case ImageFault::kNoRoomForIdentifiers:
      return "noRoomForIdentifiers";
    case ImageFault::kCrcMismatch:
      return "crcMismatch";
    case ImageFault::kUnknownRecordType:
      return "unknownRecordType";
    case ImageFault::kRecordCut:
      return "recordCut";
    case ImageFault::kResetArgument:
      return "resetArgument";
    case ImageFault::kDataNotSysEx:
      return "dataNotSysEx";
    case ImageFault::kNoEndRecord:
      return "noEndRecord";
    case ImageFault::kNothingAfterEnd:
      return "nothingAfterEnd";
    case ImageFault::kProductMismatch:
      return "productMismatch";
    case ImageFault::kCompanyMismatch:
      return "companyMismatch";
  }
  return "none";
}

json Record(size_t number, const ImageRecord& record) {
  json entry = {{"number", number}, {"offset", record.offset}, {"type", RecordName(record.type)}};
  switch (record.type) {
    case kRecordImage:
      entry["versionMajor"] = record.versionMajor;
      entry["versionMinor"] = record.versionMinor;
      entry["versionCompared"] = record.versionMajor != kExemptVersionMajor;
      entry["dataOffset"] = record.dataOffset;
      entry["dataLength"] = record.dataLength;
      break;
    case kRecordDelay:
      entry["ticks"] = record.argument;
      break;
    case kRecordReset:
      entry["argument"] = record.argument;
      break;
  }
  return entry;
}

json Fault(const ImageInspection& inspection, ImageFault fault) {
  json entry = {{"fault", FaultName(fault)}, {"text", FaultText(inspection, fault)}};
  if (fault == inspection.recordFault) {
    entry["recordOffset"] = inspection.faultRecordOffset;
    entry["offset"] = inspection.faultOffset;
  }
  return entry;
}

}  // namespace

std::string BytesAsCharacters(std::string_view bytes) {
  std::string text;
  text.reserve(bytes.size() * 2);
  for (const char c : bytes) {
    const auto byte = static_cast<unsigned char>(c);
    if (byte < 0x80) {
      text += c;
    } else {
      text += static_cast<char>(0xC0 | (byte >> 6));
      text += static_cast<char>(0x80 | (byte & 0x3F));
    }
  }
  return text;
}

JsonFrontEnd::JsonFrontEnd(std::optional<bool> answer) : answer_(answer) {}

std::string JsonFrontEnd::Dump(const json& value) {
  // ASCII only, every other character escaped: the line reads the same in any code page, and a
  // Windows console shows it as it is. Texts that are not the module's (port and file names) are
  // the system's UTF-8; a byte that is not part of it is replaced rather than stopping the report.
  return value.dump(-1, ' ', true, json::error_handler_t::replace);
}

void JsonFrontEnd::Write(const json& event, bool last) {
  WritePart(Dump(event) + "\n", true, last);
}

void JsonFrontEnd::WritePart(const std::string& text, bool endsLine, bool last) {
  std::lock_guard lock(mutex_);
  if (ended_) return;
  std::fputs(text.c_str(), stdout);
  // Each event as it happens, for a program that follows the update while it runs.
  if (endsLine) std::fflush(stdout);
  if (last) ended_ = true;
}

// The inspection as one JSON object on one line, its fields in the README's order. What comes
// before the records is known once the header is read, what comes after once the walk is over, so
// the line is written as it goes: a file can hold hundreds of millions of records, which would
// take gigabytes to hold as one object.
class JsonFrontEnd::JsonInspection final : public InspectionOutput {
 public:
  JsonInspection(JsonFrontEnd& frontEnd, std::string fileName)
      : frontEnd_(frontEnd), fileName_(std::move(fileName)) {}

  void HeaderRead(const ImageInspection& inspection) override {
    const ImageHeader& header = inspection.header;
    json head = {{"event", "inspection"}, {"file", fileName_}, {"length", header.length}};
    // As the report for people: what could be read before the header's fault, no more.
    if (header.length >= 4) head["formatVersion"] = header.formatVersion;
    walked_ = HeaderReadable(inspection.headerFault);
    if (walked_) {
      head["companyId"] = header.companyId;
      head["productId"] = header.productId;
      head["crc"] = {{"stored", header.storedCrc}, {"computed", header.computedCrc}};
    }
    std::string text = Dump(head);
    text.pop_back();  // the object's closing brace: the rest follows
    if (walked_) text += ",\"records\":[";
    frontEnd_.WritePart(text, false);
  }

  bool RecordWalked(uint32_t number, const ImageRecord& record) override {
    frontEnd_.WritePart((number > 1 ? "," : "") + Dump(Record(number, record)), false);
    return true;
  }

  void Finish(const ImageInspection& inspection, ResultCode) override {
    std::string text = walked_ ? "]" : "";
    if (inspection.endReached)
      text += ",\"bytesAfterEnd\":" + std::to_string(inspection.bytesAfterEnd);
    json faults = json::array();
    for (const ImageFault fault :
         {inspection.headerFault, inspection.recordFault, inspection.identityFault}) {
      if (fault != ImageFault::kNone) faults.push_back(Fault(inspection, fault));
    }
    text += ",\"faults\":" + Dump(faults) + "}\n";
    frontEnd_.WritePart(text, true);
  }

 private:
  JsonFrontEnd& frontEnd_;
  std::string fileName_;
  bool walked_ = false;
};

void JsonFrontEnd::ShowError(const std::string& text) {
  {
    std::lock_guard lock(mutex_);
    lastError_ = text;
  }
  Write(Box("error", kErrorCaption, text));
}

bool JsonFrontEnd::AskYesNo(const std::string& text) {
  const bool answer = answer_.value_or(false);
  json box = Box("question", kQuestionCaption, text);
  box["answer"] = answer;
  Write(box);
  return answer;
}

void JsonFrontEnd::ShowFatal(const std::string& text) {
  // Shown as the question box is, whose answer is not looked at.
  Write(Box("fatal", kQuestionCaption, text));
  Write({{"event", "result"}, {"code", nullptr}, {"text", WithoutLineEnd(text)}, {"exitStatus", 1}},
        true);
}

void JsonFrontEnd::Show() {
  caption_.clear();
  lastPercent_ = -1;
}

void JsonFrontEnd::Update(const char* caption, uint32_t percent) {
  if (caption_ == caption && lastPercent_ == percent) return;
  caption_ = caption;
  lastPercent_ = percent;
  Write({{"event", "progress"}, {"caption", caption}, {"percent", percent}});
}

void JsonFrontEnd::Hide() {}

void JsonFrontEnd::ShowSuccess(const std::string& text, const DeviceInfo& module, bool) {
  // The whole record, the product name too: it was all read afresh. The window's order: its
  // fields first, then the box.
  Write(Module(module));
  Write(Box("success", kSuccessCaption, text));
}

void JsonFrontEnd::ShowPortLists(const std::vector<std::string>& inputs,
                                 const std::vector<std::string>& outputs) {
  Write({{"event", "ports"}, {"receiveFrom", PortList(inputs)}, {"transmitTo", PortList(outputs)}});
}

std::unique_ptr<InspectionOutput> JsonFrontEnd::StartInspection(const std::string& fileName) {
  return std::make_unique<JsonInspection>(*this, fileName);
}

void JsonFrontEnd::ShowNote(const std::string&) {}

void JsonFrontEnd::ShowAdvice(const std::string&) {}

int JsonFrontEnd::Finish(int exitStatus) {
  json result = {{"event", "result"}};
  const bool isResultCode =
      exitStatus == kOk || (exitStatus > kCannotOpenFile && exitStatus <= kCompanyMismatch);
  if (isResultCode) {
    result["code"] = exitStatus;
    result["text"] = ResultText(static_cast<ResultCode>(exitStatus));
  } else {
    std::lock_guard lock(mutex_);
    result["code"] = nullptr;
    result["text"] = WithoutLineEnd(lastError_);
  }
  result["exitStatus"] = exitStatus;
  Write(result, true);
  return exitStatus;
}

}  // namespace kfw::cli
