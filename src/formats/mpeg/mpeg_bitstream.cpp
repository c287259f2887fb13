#include "formats/mpeg/mpeg_bitstream.h"
