#include "formats/telephony/ccitt_file.h"
