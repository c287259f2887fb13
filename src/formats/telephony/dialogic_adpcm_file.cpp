#include "formats/telephony/dialogic_adpcm_file.h"
