#include "formats/mpeg/drop_mp3_file.h"
