// The report of `kfwupdate inspect`, for people. What it shows is gathered by InspectImage
// (image/image_inspect.h); other forms of the same facts print that gathering their own way.
#pragma once

#include <string>

#include "image/image_inspect.h"

namespace kfw::cli {

// The whole report, line by line: the header, the records in play order, every fault found with
// its place, and the result as `check` gives it. fileName is shown as given, made safe to print.
std::string InspectionReport(const std::string& fileName, const ImageInspection& inspection);

}  // namespace kfw::cli
