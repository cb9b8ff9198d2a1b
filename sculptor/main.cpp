// sculptor: samples oriented points on the visual hull of every frame of a multi-camera sequence
// and writes one PLY point file per frame. See usage_line() for the arguments.
#include <exception>
#include <iostream>
#include <string>
#include <vector>

#include "sculptor/options.h"
#include "sculptor/sequence.h"

int main(int argc, char** argv) {
  if (argc != tervik::kArgumentCount + 1) {
    std::cout << tervik::usage_line(argc > 0 ? argv[0] : "sculptor") << std::endl;
    return 1;
  }
  try {
    const std::vector<std::string> args(argv + 1, argv + argc);
    tervik::run_sequence(tervik::parse_options(args));
  } catch (const std::exception& e) {
    // Library messages that already name their reporter ("ERROR(...)") are printed as they are.
    const std::string message = e.what();
    std::cout.flush();
    std::cerr << (message.rfind("ERROR", 0) == 0 ? "" : "ERROR: ") << message << std::endl;
    return 1;
  }
  return 0;
}
