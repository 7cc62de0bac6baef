// Writes a large tape image for the export benchmark: header blocks of patterned data.
#include <cstdio>
#include <cstdlib>
#include <string>

#include "tape_builder.h"

int main(int argc, char** argv) {
  using namespace tape_builder;
  if (argc < 2 || argc > 4) {
    std::fprintf(stderr, "usage: %s output.img [blocks [kilobytes per block]]\n", argv[0]);
    return 2;
  }
  const long blocks = argc > 2 ? std::strtol(argv[2], nullptr, 10) : 16;
  const long kilobytes = argc > 3 ? std::strtol(argv[3], nullptr, 10) : 60;
  // A body holds at most 65,536 data bytes (the stored length is one less).
  if (blocks < 1 || blocks > 255 || kilobytes < 1 || kilobytes > 64) {
    std::fprintf(stderr, "blocks must be 1 to 255, kilobytes 1 to 64\n");
    return 2;
  }
  TapeImage image;
  for (long i = 0; i < blocks; ++i) {
    Header header;
    header.fileNumber = static_cast<uint8_t>(i);
    header.name = "BENCH" + std::to_string(i);
    image.headerBlock(
        header, patternBytes(static_cast<size_t>(kilobytes) * 1024, static_cast<uint8_t>(i + 1)));
  }
  if (!image.writeTo(argv[1])) {
    std::fprintf(stderr, "can't write %s\n", argv[1]);
    return 1;
  }
  return 0;
}
