// The demo's contact sheet: crops of the source frame and of each choice's
// decoded frame side by side (text, a gradient area, the alpha ramp), over
// a checkerboard so that alpha shows.
#pragma once

#include <string>
#include <vector>

#include "ImageIO.h"
#include "Trial.h"

namespace orxapp {

bool WriteContactSheet(const std::string& path, const ImageARGB& source, const std::vector<RunConfig>& cfgs,
                       const std::vector<RunResult>& results, std::string* error);

}  // namespace orxapp
