#include "formats/telephony/g729_file.h"
