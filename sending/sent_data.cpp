#include "sending/sent_data.h"

#include "common/cp932.h"
#include "common/text.h"
#include "common/text_file.h"

namespace tessaly {

void SendData_Append(const std::string& pathSjis, const std::vector<std::string>& linesSjis) {
    // Appending never creates the file: it exists from the start, or the setting is wrong.
    TextFile_WriteLines(cp932::pathFromSjis(pathSjis), fromSjis(pathSjis), linesSjis, true);
}

} // namespace tessaly
