#include "formats/mpeg/mp3_tag_readers.h"
