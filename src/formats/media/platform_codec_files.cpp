#include "formats/media/platform_codec_files.h"
