// Reading an image file's header and walking its records: the one place that knows what makes a
// .kfw file well-formed. ValidateImage turns what it finds into a result code; the update run plays
// the records it yields; `kfwupdate inspect` shows it to people, with the place where a bad file
// goes wrong. None of them keeps a rule of its own.
#pragma once

#include <cstdint>

#include "base/result.h"

namespace kfw {

// Why a file is refused, in the order the check meets the faults. Each maps to one result code
// (FaultResult); several structural faults share kImageCorrupt, whose text does not tell them
// apart.
enum class ImageFault : uint8_t {
  kNone,
  kTooShort,              // fewer than 4 bytes
  kUnknownVersion,        // a format version above 1
  kNoRoomForIdentifiers,  // a version-1 file of 4 or 5 bytes
  kCrcMismatch,           // the stored CRC is not the one computed
  kUnknownRecordType,     // a type byte from 0x04 to 0xFE before the end record
  kRecordCut,             // a record's arguments or data run past the end of the file
  kResetArgument,         // a reset argument of 4 or more
  kDataNotSysEx,          // an image data byte above 0x7F, which SysEx cannot carry
  kNoEndRecord,           // the file ends before an end record
  kNothingAfterEnd,       // no image record, and the end record is the file's last byte
  kProductMismatch,       // the file's product is not the one last received
  kCompanyMismatch,       // likewise the company
};

// The result code `check` and the Update command report for a fault (kOk for kNone).
ResultCode FaultResult(ImageFault fault);

struct ImageHeader {
  uint32_t length = 0;  // of the whole file
  uint8_t formatVersion = 0;
  uint16_t storedCrc = 0;
  uint16_t computedCrc = 0;     // over bytes 3 to the end
  uint16_t companyId = 0x7F7F;  // a version-0 file stands for any module
  uint8_t productId = 0x7F;
  uint32_t recordStreamOffset = 0;
};

// Reads the header and computes the CRC. Returns the first of kTooShort, kUnknownVersion,
// kNoRoomForIdentifiers and kCrcMismatch that applies, else kNone. The header holds what could be
// read before the fault: after kCrcMismatch all of it, so the records can still be walked.
ImageFault ReadImageHeader(const uint8_t* bytes, uint32_t length, ImageHeader& header);

// The file's identifiers against the last ones received from a module: the product first.
ImageFault CheckReceivedIdentity(const ImageHeader& header);

// One record as the update plays it.
struct ImageRecord {
  uint32_t offset = 0;   // of its type byte
  uint8_t type = 0;      // a RecordType
  uint8_t argument = 0;  // delay: ticks; reset: its argument
  // Image records only.
  uint16_t dataLength = 0;
  uint8_t versionMajor = 0;
  uint8_t versionMinor = 0;
  uint32_t dataOffset = 0;
};

// Walks the record stream in play order, checking each record as it goes. Reads nothing outside
// bytes[0, length).
class RecordWalker {
 public:
  RecordWalker(const uint8_t* bytes, uint32_t length, uint32_t streamOffset)
      : bytes_(bytes), length_(length), pos_(streamOffset) {}

  // The next well-formed record, the end record last. False once the walk is over: after the end
  // record (with Fault() kNone, or kNothingAfterEnd), or at a fault.
  bool Next(ImageRecord& record);

  ImageFault Fault() const { return fault_; }
  // Where the walk stopped on a fault: the offset of the record at fault (of the file's end for
  // kNoEndRecord), and of the byte that breaks it (the first data byte above 0x7F, the reset
  // argument, the type byte; the file's end when bytes are missing).
  uint32_t FaultRecordOffset() const { return faultRecordOffset_; }
  uint32_t FaultOffset() const { return faultOffset_; }
  // Records returned so far, the end record included.
  uint32_t RecordCount() const { return records_; }
  uint32_t ImageRecordCount() const { return imageRecords_; }
  // True once the end record has been returned, whatever came after.
  bool EndReached() const { return ended_; }
  // Once the end record has been returned: the bytes that follow it.
  uint32_t BytesAfterEnd() const { return ended_ ? length_ - pos_ : 0; }

 private:
  bool Fail(ImageFault fault, uint32_t recordOffset, uint32_t offset);

  const uint8_t* bytes_;
  uint32_t length_;
  uint32_t pos_;
  bool ended_ = false;
  bool over_ = false;
  ImageFault fault_ = ImageFault::kNone;
  uint32_t faultRecordOffset_ = 0;
  uint32_t faultOffset_ = 0;
  uint32_t records_ = 0;
  uint32_t imageRecords_ = 0;
};

}  // namespace kfw
