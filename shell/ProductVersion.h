#pragma once

// The version this setup installs, shown as "4.62" in link names and the list of installed programs.
enum { kProductMajor = 4, kProductMinor = 62 };
