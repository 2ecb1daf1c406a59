#include "settings.h"

char g_fieldDelimiter[2] = "\t";
