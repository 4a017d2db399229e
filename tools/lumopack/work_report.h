// `lumopack build --report`: how the work of a build was divided and what
// each piece cost in processor time, and from that the time the build would
// take on any number of processors.
#pragma once

#include <cstdio>

#include "tools/lumopack/packer.h"

namespace lumo {

// Seconds the build would take on `processors`, worked out from the pieces'
// processor times: the first pass's files and the encoder's parts go to
// whichever processor is free first, in order; the plan spreads evenly; the
// encoder's sequential work runs beside the parts; verifying runs alone.
double projected_seconds(const PackSummary& summary, int processors);

void print_work_report(std::FILE* out, const PackSummary& summary);

}  // namespace lumo
