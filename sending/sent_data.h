// The sent-data file: the body of every run appended, Shift-JIS lines with CR LF, nothing else.
#pragma once

#include <string>
#include <vector>

namespace tessaly {

// Appends each line followed by CR LF to the file at `pathSjis`. The file must exist (it is
// created when the settings are loaded, never here): a missing one, or one that cannot be
// written, raises tessaly::FileError naming it.
void SendData_Append(const std::string& pathSjis, const std::vector<std::string>& linesSjis);

} // namespace tessaly
