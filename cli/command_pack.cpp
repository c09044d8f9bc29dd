#include <cstdio>

#include "base/files.h"
#include "cli/commands.h"
#include "cli/common.h"
#include "cli/exit_status.h"
#include "cli/terminal.h"
#include "image/image_file.h"
#include "image/image_file_io.h"
#include "image/image_writer.h"

namespace kfw::cli {

const char* const kPackHelp = R"(Usage: kfwupdate pack OUTPUT [--company ID --product ID] RECORD...

Builds an image file. With --company and --product the file is of version 1, for that module
family; without them, of version 0, for any module. Records, played in order:
  image:MAJOR.MINOR:FILE   the firmware in FILE (at most 65535 bytes, each 00 to 7F)
  delay:TICKS              a pause of TICKS tenths of a second (0 to 255)
  reset:ARG                a reset command with argument ARG (0 to 3), then a 1 s pause
  noop                     nothing
  end                      the end record (added when missing); only raw: may follow it
  raw:HEX                  bytes as they are, for example after the end record
A file without an image record gets a byte 00 after its end record unless raw: puts one
there. pack writes only files that `kfwupdate check` accepts with the same --company and
--product, and refuses records (raw: bytes before the end record) that would not make one.

Example:
  kfwupdate pack firmware.kfw --company 0x0021 --product 0x0A delay:20 image:1.3:firmware.bin end
)";

namespace {

bool ParseHexBytes(const std::string& text, std::vector<uint8_t>& bytes) {
  if (text.size() % 2) return false;
  for (size_t i = 0; i < text.size(); i += 2) {
    unsigned long value;
    if (!ParseNumber("0x" + text.substr(i, 2), 0xFF, value)) return false;
    bytes.push_back(static_cast<uint8_t>(value));
  }
  return true;
}

}  // namespace

int RunPackCommand(const std::vector<std::string>& args) {
  Arguments arguments;
  std::string error;
  if (!arguments.Parse(args, Concat({{"--company", true}, {"--product", true}}, kTraceOptions),
                       error)) {
    return UsageError("pack", error);
  }
  const auto& words = arguments.Positional();
  if (words.empty()) return UsageError("pack", "give the file to write, then the records");
  ApplyTraceOptions(arguments);

  const auto companyText = arguments.Value("--company");
  const auto productText = arguments.Value("--product");
  if (companyText.has_value() != productText.has_value()) {
    return UsageError("pack", "a version-1 file needs both --company and --product");
  }
  unsigned long company = 0, product = 0;
  if (companyText && !ParseNumber(*companyText, 0x7F7F, company)) {
    return UsageError("pack",
                      "--company takes a number up to 0x7F7F, not \"" + *companyText + "\"");
  }
  if (productText && !ParseNumber(*productText, 0x7F, product)) {
    return UsageError("pack", "--product takes a number up to 0x7F, not \"" + *productText + "\"");
  }
  if (companyText && ((company >> 8) > 0x7F || (company & 0xFF) > 0x7F)) {
    return UsageError("pack", "each byte of --company must be at most 0x7F (it travels in SysEx)");
  }
  ImageWriter writer = companyText ? ImageWriter::Version1(static_cast<uint16_t>(company),
                                                           static_cast<uint8_t>(product))
                                   : ImageWriter::Version0();

  bool ended = false;
  size_t bytesAfterEnd = 0;
  int imageRecords = 0;
  size_t imageBytes = 0;
  for (size_t i = 1; i < words.size(); ++i) {
    const std::string& word = words[i];
    const size_t colon = word.find(':');
    const std::string kind = word.substr(0, colon);
    const std::string rest = colon == std::string::npos ? "" : word.substr(colon + 1);
    // The walk stops at the end record: a record after it would be written and never played.
    if (ended && kind != "raw") {
      return UsageError("pack", "\"" + word +
                                    "\" comes after the end record, where it would never "
                                    "be played; only raw: bytes may follow it");
    }
    unsigned long value;
    if (kind == "image") {
      const size_t second = rest.find(':');
      unsigned major, minor;
      if (second == std::string::npos || !ParseVersion(rest.substr(0, second), major, minor)) {
        return UsageError("pack",
                          "write an image record as image:MAJOR.MINOR:FILE, not \"" + word + "\"");
      }
      const std::string file = rest.substr(second + 1);
      std::vector<uint8_t> data;
      std::string message;
      if (!ReadImageFile(file, data, message)) {
        PrintError(message);
        return kExitNoInput;
      }
      if (data.size() > 0xFFFF) {
        PrintError("kfwupdate pack: " + file + " holds " + std::to_string(data.size()) +
                   " bytes; an image record holds at most 65535: split it into several records");
        return kExitBadData;
      }
      for (size_t offset = 0; offset < data.size(); ++offset) {
        if (data[offset] > 0x7F) {
          char text[256];
          std::snprintf(text, sizeof text,
                        "kfwupdate pack: %s: byte 0x%02x at offset %zu cannot travel in SysEx, "
                        "which carries only 00 to 7F; give the image in its 7-bit form",
                        file.c_str(), data[offset], offset);
          PrintError(text);
          return kExitBadData;
        }
      }
      writer.Image(static_cast<uint8_t>(major), static_cast<uint8_t>(minor), data);
      ++imageRecords;
      imageBytes += data.size();
    } else if (kind == "delay" && ParseNumber(rest, 255, value)) {
      writer.Delay(static_cast<uint8_t>(value));
    } else if (kind == "reset" && ParseNumber(rest, 3, value)) {
      writer.Reset(static_cast<uint8_t>(value));
    } else if (word == "noop") {
      writer.NoOp();
    } else if (word == "end") {
      writer.End();
      ended = true;
    } else if (kind == "raw") {
      std::vector<uint8_t> bytes;
      if (!ParseHexBytes(rest, bytes))
        return UsageError("pack", "raw: takes hex bytes, as raw:00ff");
      writer.Raw(bytes);
      if (ended) bytesAfterEnd += bytes.size();
    } else {
      return UsageError("pack", "cannot read the record \"" + word + "\"");
    }
  }
  if (!ended) writer.End();
  // A file without an image record must carry a byte after its end record to be valid, whether
  // the end record was written out or added here.
  if (imageRecords == 0 && bytesAfterEnd == 0) writer.Raw(std::vector<uint8_t>{0x00});

  const std::vector<uint8_t> file = writer.Bytes();
  // raw: bytes before the end record are read as records by the check, and can break them. pack
  // writes only a file that `check` with the same identifiers accepts, and refuses the rest.
  receivedCompanyId.store(companyText ? static_cast<uint16_t>(company) : kAnyCompanyId);
  receivedProductId.store(companyText ? static_cast<uint8_t>(product) : kAnyProductId);
  if (const ResultCode result = ValidateImage(file.data(), static_cast<uint32_t>(file.size()));
      result != kOk) {
    PrintError(std::string("kfwupdate pack: these records do not make a valid file (\"") +
               ResultText(result) +
               "\"): raw: bytes before the end record must form whole "
               "records; nothing was written");
    return kExitBadData;
  }
  const std::string& output = words[0];
  // Only a regular file is written, a symbolic link followed to one as a shell's ">" would: a
  // FIFO would wait for a reader, and a device or a directory holds no image.
  RegularFile out = OpenForWriting(output, WriteMode::kTruncate, Links::kFollow);
  const bool written = out.WriteAll(file.data(), file.size());
  if (!out.Close() || !written) {
    PrintError("kfwupdate pack: cannot write " + output +
               "; check the folder exists and is writable");
    return kExitCannotCreate;
  }
  std::printf("Wrote %s: version %d", output.c_str(), companyText ? 1 : 0);
  if (companyText) std::printf(" for company 0x%04lx, product 0x%02lx", company, product);
  std::printf(", %d image record%s (%zu bytes), %zu bytes in all, CRC 0x%02x%02x\n", imageRecords,
              imageRecords == 1 ? "" : "s", imageBytes, file.size(), file[2], file[1]);
  return kExitOk;
}

}  // namespace kfw::cli
