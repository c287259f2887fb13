#include "formats/mpeg/mpeg_padding.h"

std::atomic<bool> gMpegPaddingRequired{true};
