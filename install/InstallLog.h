#pragma once

// Appends one entry to "Glimmerly_Install.log" in the current directory: the user's short date,
// " - ", the time as HH:MM:SS, ": ", the message, a line end and a line of 48 hyphens. Line ends are
// CR LF. Characters up to U+00FF are written as that byte; any other character as "[U+XXXX]" (four to
// six upper-case hex digits, surrogate pairs joined), so a log stays readable and unambiguous.
void AppendInstallLog(const wchar_t* message);

// The bytes one message becomes in the log (without date, time and hyphen line). Capacity in bytes.
// Returns the count written; the text is cut at a whole character when it does not fit.
unsigned EncodeLogText(const wchar_t* message, char* out, unsigned capacity);
