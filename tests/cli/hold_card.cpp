// fw_hold_card FILE: opens the card data file for update as fwupdater does (with the writer lock
// that spans processes), prints "held" and keeps it until its standard input ends. The
// end-to-end tests hold a card with it while they run fwupdater on the same file.
#include <iostream>
#include <string>

#include "platform/file_device.h"

int main(int argc, char** argv) {
  if (argc != 2) {
    std::cerr << "usage: fw_hold_card FILE\n";
    return 2;
  }
  const auto card = fw::platform::OpenForUpdate(argv[1]);
  std::cout << "held" << std::endl;
  for (std::string line; std::getline(std::cin, line);) {
  }
  return 0;
}
