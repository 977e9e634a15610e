#include "kqCrashHandler.h"

CCrashHandler g_CrashHandler;
