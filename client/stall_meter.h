// A 50 ms heartbeat on the main loop that records the longest gap between its beats, for the
// benchmark that asks how long the window ever stops answering. Off unless asked for.
#pragma once

#include <string>

namespace rodedudir {

// Starts the heartbeat when VELMO_STALL_LOG names a file; the longest gap so far (in
// milliseconds) is written there every second and at stop_stall_meter.
void start_stall_meter();
void stop_stall_meter();

}  // namespace rodedudir
