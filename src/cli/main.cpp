// fwupdater: the command-line front end.
#include <iostream>

int main() {
  std::cout << "fwupdater\n";
  return 0;
}
