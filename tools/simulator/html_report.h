// The report as one HTML page that needs nothing beside it: inline CSS and SVG, no
// script, no font, image or link to fetch, so that it opens offline in any browser.
#pragma once

#include <string>

#include "simulation/machine_file.h"
#include "tools/simulator/report.h"

namespace sim {

// `origin` says where the machine came from: its file, the built-in typical machine,
// an efivars directory.
std::string HtmlReport(const Report& report, const MachineDescription& machine, const std::string& origin);

}  // namespace sim
