#include "formats/media/export_session.h"
