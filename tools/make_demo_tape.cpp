// Writes the bundled demo tape image: two header blocks and one headerless block.
#include <cstdio>

#include "tape_builder.h"

int main(int argc, char** argv) {
  using namespace tape_builder;
  if (argc != 2) {
    std::fprintf(stderr, "usage: %s output.img\n", argv[0]);
    return 2;
  }
  Header loader;
  loader.fileNumber = 0;
  loader.fileType = 'B';
  loader.beginAddress = 0x0000;
  loader.name = "LOADER";
  Header game;
  game.fileNumber = 1;
  game.fileType = 'M';
  game.beginAddress = 0x8000;
  game.name = "DEMOGAME";
  TapeImage image;
  image.headerBlock(loader, patternBytes(300, 7))
      .headerBlock(game, patternBytes(6 * 1024, 42))
      .headerlessBlock(patternBytes(512, 99));
  if (!image.writeTo(argv[1])) {
    std::fprintf(stderr, "can't write %s\n", argv[1]);
    return 1;
  }
  return 0;
}
