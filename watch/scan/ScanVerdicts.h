#pragma once
#include <string>
#include <vector>

// What clamdscan printed about the targets of one call, read where no file
// name can steer the reading. It prints a line for each file it scans:
// "<path>: OK", "<path>: <signature> FOUND" or "<path>: <reason> ERROR"
// (and "<path>: moved to ..." after a detection). Whoever makes a file
// chooses its path, so only the paths the call was given are looked for,
// each as the whole text before ": " at the start of a line, and a target
// whose line is missing or comes twice was not reported. A target that
// holds a line break, another control character or ": " could pass for the
// start of another target's line: such a target never shares a call (see
// MustGoAlone), and a call of one target is judged by its exit status alone.

enum class TargetVerdict { Unreported, Clean, Found, Failed };

// One verdict for each target, in the targets' order. The targets and the
// printed text are in the ANSI code page, as the scanner saw and wrote them.
std::vector<TargetVerdict> ReadVerdicts(const std::string& printed, const std::vector<std::string>& targets);

// The target's line could not be told from another target's.
bool MustGoAlone(const std::wstring& target);

// The files below `folder` (a folder target, given alone) that the call
// reported found, by the paths it printed; those that hold a control
// character are passed over, as a name could forge them.
std::vector<std::string> FoundBelow(const std::string& printed, const std::string& folder);
