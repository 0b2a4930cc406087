// Faults a test build plants where input arrives, so that tests can show
// what the trap makes of an exception nothing in the station expects. A
// release build has none: the calls compile to nothing.
//
// TELLARIUM_FAULT_COMMAND=<text>: a command whose text (after "/") is <text>
// raises std::out_of_range inside its handler, as a slipped substr would.
// TELLARIUM_FAULT_RECEIVE=<text>: a received piece holding <text> raises
// std::bad_alloc inside the receive event.
#pragma once

#include <string_view>

namespace tellarium {

enum class FaultPoint { kCommand, kReceive };

#ifdef TELLARIUM_FAULT_HOOKS
void RaisePlantedFault(FaultPoint point, std::string_view input);
#else
inline void RaisePlantedFault(FaultPoint, std::string_view) {}
#endif

}  // namespace tellarium
