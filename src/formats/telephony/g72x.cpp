#include "formats/telephony/g72x.h"
