// The report of `kfwupdate inspect`, for people, and the words it is made of. What it shows is
// found by InspectImage (image/image_inspect.h) and written as the walk finds it, a line a record;
// the JSON front end writes the same findings its own way, with the same names of records and
// texts of faults.
#pragma once

#include <cstdint>
#include <string>

#include "image/image_inspect.h"

namespace kfw::cli {

// The report's parts, line by line. The head: the file, the header and, when the records can be
// walked, the heading of their table. fileName is shown as given, made safe to print.
std::string InspectionHead(const std::string& fileName, const ImageInspection& inspection);
// One record's line of the table; the offsets as wide as the file's length needs.
std::string RecordLine(uint32_t number, uint32_t fileLength, const ImageRecord& record);
// After the records: what follows the end record, every fault found with its place, and the
// result as `check` gives it (or as the command ends, when the walk was stopped).
std::string InspectionTail(const ImageInspection& inspection, ResultCode result);

// A record type's name as `kfwupdate pack` takes it ("image", "noop", "delay", "reset", "end").
const char* RecordName(uint8_t type);

// Where and why, in words, for one of the inspection's faults.
std::string FaultText(const ImageInspection& inspection, ImageFault fault);

}  // namespace kfw::cli
