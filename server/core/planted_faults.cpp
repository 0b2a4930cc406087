#include "server/core/planted_faults.h"

#ifdef TELLARIUM_FAULT_HOOKS
#include <cstdlib>
#include <new>
#include <stdexcept>

namespace tellarium {

void RaisePlantedFault(FaultPoint point, std::string_view input) {
  const bool command = point == FaultPoint::kCommand;
  const char* planted = std::getenv(command ? "TELLARIUM_FAULT_COMMAND" : "TELLARIUM_FAULT_RECEIVE");
  if (planted == nullptr || *planted == '\0') return;
  if (command && input == planted) throw std::out_of_range("planted fault");
  if (!command && input.find(planted) != std::string_view::npos) throw std::bad_alloc();
}

}  // namespace tellarium
#endif
