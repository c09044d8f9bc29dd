// Reading an image file whole, as the Update command and every file check do.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace kfw {

// Reads the whole file into bytes. False with the message to show when it cannot:
// "Can't open file <name> for reading" when the file cannot be opened or read to its end (a file
// that shrank while being read), or is not a regular file (a directory, a FIFO, a device: refused
// at once, without waiting for a writer); "Can't allocate <size> bytes!" when there is no memory
// for it or it is larger than an image length can express (2 GiB). A symbolic link to an image is
// followed. An empty file is read as zero bytes, not as a failure: the check then reports it.
bool ReadImageFile(const std::string& name, std::vector<uint8_t>& bytes, std::string& message);

}  // namespace kfw
