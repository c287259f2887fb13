#include "app/define_conversion_dialog.h"
