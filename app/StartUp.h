#pragma once

// Restricts the library search to the system folder where the system can (SetDefaultDllDirectories).
void RestrictDllSearchPath();

// Visual styles for the non-client area and the controls; the first call loads UxTheme.dll from the
// system folder, later calls repeat only SetThemeAppProperties.
void InitThemeSupport();
