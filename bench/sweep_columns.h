// The protocols, speeds and rates the sweeps play a tape at, as tonbrix's options.
#pragma once

#include <string>
#include <vector>

struct Column {
  const char* name;
  std::vector<std::string> play;  // tonbrix options
};

inline const Column kColumns[] = {
    {"PMD 22k", {"-sr", "M"}},           {"PMD 44k", {"-sr", "H"}},
    {"PMD2x 22k", {"-dbl", "-sr", "M"}}, {"PMD2x 44k", {"-dbl", "-sr", "H"}},
    {"Mato 22k", {"-mato", "-sr", "M"}}, {"Mato 44k", {"-mato", "-sr", "H"}},
};
