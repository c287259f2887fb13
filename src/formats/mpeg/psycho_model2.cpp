#include "formats/mpeg/psycho_model2.h"
