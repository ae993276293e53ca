// The demo's contact sheet: crops of the source frame and of each choice's
// decoded frame side by side (text, a gradient area, the alpha ramp), over
// a checkerboard so that alpha shows.
#pragma once

#include <string>
#include <vector>

#include "ImageIO.h"
#include "Trial.h"

namespace orxapp {

// Written under a temporary name and moved onto path; the sheet is
// registered in *written from before the move, for the caller to let go.
bool WriteContactSheet(const std::string& path, const ImageARGB& source, const std::vector<RunConfig>& cfgs,
                       const std::vector<RunResult>& results, PartialOutput* written, std::string* error);

}  // namespace orxapp
