// Writes the full-size dsPIC30F6014A HEX image the benchmarks load (the same file every run):
// 48K program words with the reset vector's GOTO 0x000100, the 2K EEPROM words and the seven
// configuration words, in 16-byte records.
// Usage: full_image_hex OUT.hex
#include <cstdio>

#include "support/files.h"
#include "support/ihex_records.h"

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: full_image_hex OUT.hex\n");
    return 2;
  }
  fw::test::WriteText(argv[1], fw::test::FullImageHex());
  return 0;
}
