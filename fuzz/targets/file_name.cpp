// A track title made into a file name and the path it is saved under: "folder \n title".
#include "download/file_name.h"
#include "download/save_path.h"
#include "fuzz/fuzz_input.h"
#include "fuzz/fuzz_target.h"

#include <stdexcept>

VORNEL_FUZZ_TARGET(file_name)
{
    vornel::fuzz::FuzzInput input(data, size);
    const std::string folder = input.textUntil('\n');
    const std::string title = input.rest();
    try {
        (void)vornel::download::savePath(folder, vornel::download::SanitizeFileName(title));
    } catch (const std::runtime_error&) {}
    return 0;
}
