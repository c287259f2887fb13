#include "formats/mpeg/mpeg_tables.h"
