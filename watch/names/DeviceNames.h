#pragma once
#include <string>
#include <string_view>

// Whether the system's path rules would open a device for this one path
// component instead of a file of that name: CON, PRN, AUX, NUL, CONIN$,
// CONOUT$, COM0 to COM9 and LPT0 to LPT9 (also with the superscript digits
// one, two and three), in any case, whatever follows a dot or a colon, with
// blanks before it or at the end. "CONSOLE.exe", "COM10.exe" and
// "con2.exe" are files.
bool IsDeviceName(std::wstring_view component);

// Whether any component of `path` is a device name. The system applies
// its rules to the last component; a folder of such a name counts here
// too, as a scanner handed the path may open it a component at a time.
bool HasDeviceComponent(const std::wstring& path);
