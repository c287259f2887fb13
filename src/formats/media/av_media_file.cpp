#include "formats/media/av_media_file.h"
