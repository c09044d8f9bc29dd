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

// Offsets as wide as the file's length needs, and at least as wide as their heading.
int OffsetWidth(uint32_t fileLength) {
  return std::max(6, static_cast<int>(Format("%u", fileLength).size()));
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
  // The record at fault is the one after the last record walked; for kNothingAfterEnd it is the
  // end record itself, the last one walked.
  const uint32_t number =
      fault == ImageFault::kNothingAfterEnd ? inspection.recordCount : inspection.recordCount + 1;
  const auto record = [&](const char* type) {
    return Format("record %u (%s) at offset %u", number, type, inspection.faultRecordOffset);
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
          "record %u at offset %u: type 0x%02X is no record type (00 image, 01 noop, "
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
      return Format("the file ends at offset %u, after record %u, without an end record",
                    header.length, inspection.recordCount);
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

std::string InspectionHead(const std::string& fileName, const ImageInspection& inspection) {
  const ImageHeader& header = inspection.header;
  std::string head = "File: " + VisibleText(fileName) + Format(", %u bytes\n", header.length);
  if (header.length >= 4) head += Format("Format version: %u\n", header.formatVersion);
  if (HeaderReadable(inspection.headerFault)) {
    const char* any = header.formatVersion == 0 ? " (a version-0 file is for any module)" : "";
    head += "Company: " + Identifier(header.companyId, 4) + any + "\n";
    head += "Product: " + Identifier(header.productId, 2) + any + "\n";
    head +=
        Format("CRC-16: stored 0x%04X, computed 0x%04X\n", header.storedCrc, header.computedCrc);
    head += "Records, in the order an update plays them:\n";
    head += Format("  %4s  %*s  %-5s  %-22s  %s\n", "#", OffsetWidth(header.length), "offset",
                   "type", "arguments", "data");
  }
  return head;
}

std::string RecordLine(uint32_t number, uint32_t fileLength, const ImageRecord& record) {
  std::string line =
      Format("  %4u  %*u  %-5s  %-22s", number, OffsetWidth(fileLength), record.offset,
             RecordName(record.type), RecordArguments(record).c_str());
  if (record.type == kRecordImage) {
    line += Format("  %u bytes at offset %u", record.dataLength, record.dataOffset);
  }
  while (!line.empty() && line.back() == ' ') line.pop_back();
  return line + "\n";
}

std::string InspectionTail(const ImageInspection& inspection, ResultCode result) {
  std::string tail;
  if (inspection.endReached) {
    tail += Format("After the end record: %u bytes\n", inspection.bytesAfterEnd);
  }
  for (const ImageFault fault :
       {inspection.headerFault, inspection.recordFault, inspection.identityFault}) {
    if (fault != ImageFault::kNone) tail += "Fault: " + FaultText(inspection, fault) + "\n";
  }
  tail += Format("Result: %s (%d)\n", ResultText(result), result);
  return tail;
}

}  // namespace kfw::cli
