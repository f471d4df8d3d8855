#pragma once
// Stand-in for the Microsoft C runtime's <direct.h> in the native build.
#include "WideRuntime.h"
