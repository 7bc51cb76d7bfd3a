// The voicebank check as one self-contained HTML page: a summary by
// severity, the table of findings and the inspection picture of every
// sample with findings, readable without network and without scripts.
#pragma once

#include <string>
#include <utility>
#include <vector>

#include "tools/voicebank_report.h"

namespace qern {

// The page for `report`. `pictures` holds, for each sample with findings
// (by its name in the report), its SVG document as render_finding_picture
// gives it; a sample without one is listed without a picture. The table
// comes sorted by severity, then sample and place; a small inline script
// lets a reader sort it by sample or severity with a click on the header.
std::string render_report_html(const VoicebankReport& report,
                               const std::vector<std::pair<std::string, std::string>>& pictures);

}  // namespace qern
