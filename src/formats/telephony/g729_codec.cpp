#include "formats/telephony/g729_codec.h"
