#include "app/main_controller.h"
