#include "formats/telephony/dialogic_file.h"
