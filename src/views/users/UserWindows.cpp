#include "UserWindows.h"

UserWindows g_userWindows;
