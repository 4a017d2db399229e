// Processor time of the calling thread, for the encoder's report of how the
// work was divided: wall time on a busy machine says little about it.
#pragma once

namespace lumo {

// Seconds of processor time the calling thread has used so far.
double thread_processor_seconds();

}  // namespace lumo
