// The banner; the job record itself has no behaviour.
#include "app/job.h"

#include <cstdio>

#include "version.h"

void printBanner() {
  std::fputs("Tonbrix " TONBRIX_VERSION " - PMD 85 and Mato tape image to WAV converter\n\n",
             stdout);
}
