#include "cli/inspect_report.h"

#include <algorithm>
#include <cstdarg>
#include <cstdio>

#include "base/report.h"
#include "cli/visible_text.h"
#include "image/image_file.h"

namespace kfw::cli {

namespace {

std::string Format(const char* format, ...) KFW_PRINTF_LIKE(1, 2);
std::string Format(const char* format, ...) {
  char text[256];
  va_list args;
  va_start(args, format);
  std::vsnprintf(text, sizeof text, format, args);
  va_end(args);
  return text;
}

std::string RecordArguments(const ImageRecord& record) {
  switch (record.type) {
    case kRecordImage:
      return Format("version %u.%u%s", record.versionMajor, record.versionMinor,
                    record.versionMajor == kExemptVersionMajor ? " (not compared)" : "");
    case kRecordDelay:
      return Format("%u ticks (%u.%u s)", record.argument, record.argument / 10u,
                    record.argument % 10u);
    case kRecordReset:
      return Format("argument %u", record.argument);
  }
  return "";
}

// The number of the record at an offset (1 for the first), or of the record that would come next.
size_t RecordNumberAt(const ImageInspection& inspection, uint32_t offset) {
  size_t number = 1;
  for (const ImageRecord& record : inspection.records) {
    if (record.offset == offset) return number;
    ++number;
  }
  return number;
}

std::string Identifier(unsigned value, int digits) {
  return Format("0x%0*X", digits, value);
}

}  // namespace

const char* RecordName(uint8_t type) {
  switch (type) {
    case kRecordImage:
      return "image";
    case kRecordNoOp:
      return "noop";
    case kRecordDelay:
      return "delay";
    case kRecordReset:
      return "reset";
    case kRecordEnd:
      return "end";
  }
  return "?";
}

std::string FaultText(const ImageInspection& inspection, ImageFault fault) {
  const ImageHeader& header = inspection.header;
  const size_t number = RecordNumberAt(inspection, inspection.faultRecordOffset);
  const auto record = [&](const char* type) {
    return Format("record %zu (%s) at offset %u", number, type, inspection.faultRecordOffset);
  };
  switch (fault) {
    case ImageFault::kNone:
      break;
    case ImageFault::kTooShort:
      return Format("the file holds %u bytes; an image file has at least 4", header.length);
    case ImageFault::kUnknownVersion:
      return Format("format version %u at offset 0; this program knows versions 0 and 1",
                    header.formatVersion);
    case ImageFault::kNoRoomForIdentifiers:
      return Format("a version-1 file of %u bytes cannot hold its identifiers (offsets 3 to 5)",
                    header.length);
    case ImageFault::kCrcMismatch:
      return Format(
          "the CRC-16 stored at offsets 1 and 2 is 0x%04X; computed over offsets 3 to "
          "%u it is 0x%04X",
          header.storedCrc, header.length - 1, header.computedCrc);
    case ImageFault::kUnknownRecordType:
      return Format(
          "record %zu at offset %u: type 0x%02X is no record type (00 image, 01 noop, "
          "02 delay, 03 reset, FF end)",
          number, inspection.faultRecordOffset, inspection.faultType);
    case ImageFault::kRecordCut:
      return record(RecordName(inspection.faultType)) +
             Format(" runs past the end of the file at offset %u", header.length);
    case ImageFault::kResetArgument:
      return record("reset") + Format(": argument %u at offset %u; a reset takes 0 to 3",
                                      inspection.faultByte, inspection.faultOffset);
    case ImageFault::kDataNotSysEx:
      return record("image") + Format(
                                   ": data byte 0x%02X at offset %u is above 0x7F, which "
                                   "SysEx cannot carry",
                                   inspection.faultByte, inspection.faultOffset);
    case ImageFault::kNoEndRecord:
      return Format("the file ends at offset %u, after record %zu, without an end record",
                    header.length, inspection.records.size());
    case ImageFault::kNothingAfterEnd:
      return record("end") +
             " is the file's last byte; a file without an image record must "
             "carry at least one byte after its end record";
    case ImageFault::kProductMismatch:
    case ImageFault::kCompanyMismatch: {
      const bool product = fault == ImageFault::kProductMismatch;
      const char* what = product ? "product" : "company";
      const std::string file =
          product ? Identifier(header.productId, 2) : Identifier(header.companyId, 4);
      const std::string module = product ? Identifier(receivedProductId.load(), 2)
                                         : Identifier(receivedCompanyId.load(), 4);
      if (receivedProductId.load() == kAnyProductId && receivedCompanyId.load() == kAnyCompanyId) {
        return Format(
            "the file is for %s %s, and no module has answered (%s); give the "
            "module's --company and --product",
            what, file.c_str(), module.c_str());
      }
      return Format("the file is for %s %s; the module's is %s", what, file.c_str(),
                    module.c_str());
    }
  }
  return "";
}

std::string InspectionReport(const std::string& fileName, const ImageInspection& inspection) {
  const ImageHeader& header = inspection.header;
  std::string report = "File: " + VisibleText(fileName) + Format(", %u bytes\n", header.length);
  const bool headerRead = inspection.headerFault == ImageFault::kNone ||
                          inspection.headerFault == ImageFault::kCrcMismatch;
  if (header.length >= 4) report += Format("Format version: %u\n", header.formatVersion);
  if (headerRead) {
    const char* any = header.formatVersion == 0 ? " (a version-0 file is for any module)" : "";
    report += "Company: " + Identifier(header.companyId, 4) + any + "\n";
    report += "Product: " + Identifier(header.productId, 2) + any + "\n";
    report +=
        Format("CRC-16: stored 0x%04X, computed 0x%04X\n", header.storedCrc, header.computedCrc);
    report += "Records, in the order an update plays them:\n";
    // Offsets as wide as the file's length needs.
    const int width = std::max(6, static_cast<int>(Format("%u", header.length).size()));
    report +=
        Format("  %4s  %*s  %-5s  %-22s  %s\n", "#", width, "offset", "type", "arguments", "data");
    size_t number = 1;
    for (const ImageRecord& record : inspection.records) {
      std::string line = Format("  %4zu  %*u  %-5s  %-22s", number++, width, record.offset,
                                RecordName(record.type), RecordArguments(record).c_str());
      if (record.type == kRecordImage) {
        line += Format("  %u bytes at offset %u", record.dataLength, record.dataOffset);
      }
      while (!line.empty() && line.back() == ' ') line.pop_back();
      report += line + "\n";
    }
    if (inspection.recordFault == ImageFault::kNone) {
      report += Format("After the end record: %u bytes\n", inspection.bytesAfterEnd);
    }
  }
  for (const ImageFault fault :
       {inspection.headerFault, inspection.recordFault, inspection.identityFault}) {
    if (fault != ImageFault::kNone) report += "Fault: " + FaultText(inspection, fault) + "\n";
  }
  report += Format("Result: %s (%d)\n", ResultText(inspection.result), inspection.result);
  return report;
}

}  // namespace kfw::cli
