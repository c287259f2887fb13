#include "app/conversion_list_model.h"
