#include "server/core/planted_faults.h"

#ifdef TELLARIUM_FAULT_HOOKS
#include <cstdlib>
#include <new>
#include <stdexcept>

namespace tellarium {

namespace {

// Planted when the station starts; read once, since every line passes here.
std::string_view Planted(const char* variable) {
  const char* planted = std::getenv(variable);
  return planted == nullptr ? std::string_view() : planted;
}

}  // namespace

void RaisePlantedFault(FaultPoint point, std::string_view input) {
  static const std::string_view plantedCommand = Planted("TELLARIUM_FAULT_COMMAND");
  static const std::string_view plantedReceive = Planted("TELLARIUM_FAULT_RECEIVE");
  const bool command = point == FaultPoint::kCommand;
  const std::string_view planted = command ? plantedCommand : plantedReceive;
  if (planted.empty()) return;
  if (command && input == planted) throw std::out_of_range("planted fault");
  if (!command && input.find(planted) != std::string_view::npos) throw std::bad_alloc();
}

}  // namespace tellarium
#endif
