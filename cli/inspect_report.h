// The report of `kfwupdate inspect`, for people, and the words it is made of. What it shows is
// gathered by InspectImage (image/image_inspect.h); the JSON front end prints the same gathering
// its own way, with the same names of records and texts of faults.
#pragma once

#include <cstdint>
#include <string>

#include "image/image_inspect.h"

namespace kfw::cli {

// The whole report, line by line: the header, the records in play order, every fault found with
// its place, and the result as `check` gives it. fileName is shown as given, made safe to print.
std::string InspectionReport(const std::string& fileName, const ImageInspection& inspection);

// A record type's name as `kfwupdate pack` takes it ("image", "noop", "delay", "reset", "end").
const char* RecordName(uint8_t type);

// Where and why, in words, for one of the inspection's faults.
std::string FaultText(const ImageInspection& inspection, ImageFault fault);

}  // namespace kfw::cli
