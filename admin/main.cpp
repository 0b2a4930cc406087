// tellarium-admin DIR COMMAND ...: see --help.
#include <unistd.h>

#include <iostream>
#include <string>
#include <vector>

#include "admin/tool.h"

int main(int argc, char** argv) {
  const std::vector<std::string> args(argv + 1, argv + argc);
  tellarium::admin::Console console{std::cin, std::cout, std::cerr, ::isatty(STDIN_FILENO) == 1};
  return tellarium::admin::RunAdmin(args, console);
}
