#include "download/atomic_file.h"

#include "download/pending_file.h"
#include "download/save_path.h"

namespace vornel::download {

void writeFileReplacing(const std::string& path, const std::string& bytes)
{
    PendingFile file(folderOf(path));
    file.write(bytes.data(), bytes.size());
    file.saveAs(path);
}

} // namespace vornel::download
