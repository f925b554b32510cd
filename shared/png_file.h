// Writing an image as a PNG file, and the size of the file a capture left behind.
#pragma once

#include <cstdint>
#include <string>

#include "platform/images.h"

namespace shared {

// Writes the image as a one-image PNG file at `path`, replacing whatever is there. Answers true when the
// file was completed. The PNG goes to a temporary file beside `path` that is renamed into place, so a
// failed write never leaves a partial file and a FIFO or device at `path` is replaced, never written to.
bool saveCGImage(const platform::Bitmap& image, const std::string& path);

// For a process that ends while a task may still be saving: removes the temporary file of a save in
// progress and makes every later save fail, so that no temporary file is left behind and nothing is
// renamed into place afterwards.
void abandonPngSaves() noexcept;

// The size in bytes of the regular file at `path` (symbolic links followed), or 0 when there is none,
// its attributes cannot be read, or it is not a regular file (a folder's size is no capture).
std::int64_t fileBytes(const std::string& path);

}  // namespace shared
