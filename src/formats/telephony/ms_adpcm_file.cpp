#include "formats/telephony/ms_adpcm_file.h"
