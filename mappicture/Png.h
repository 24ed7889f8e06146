#pragma once

#include "MapPicture.h"

#include <string>

namespace cryo {

// Whether a picture of this size can be one PNG file here: at most 2 GB of
// pixel bytes.
bool FitsInPng(int width, int height);

// The bytes of a PNG file of the picture: 8-bit RGB, compressed with zlib.
// A picture that does not fit is refused.
std::string EncodePng(const PictureView& picture);

} // namespace cryo
