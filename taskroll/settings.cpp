#include "settings.h"

TaskRollSettings g_settings;
