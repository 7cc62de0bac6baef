// Messages of the decoder's own status codes, and its banner.
#include "decode/decode_job.h"

#include <cstdio>

#include "version.h"

namespace {

int textLength(std::string_view text) { return static_cast<int>(text.size()); }

// An empty view may hold no pointer at all, which printf must never see.
const char* textData(std::string_view text) { return text.empty() ? "" : text.data(); }

}  // namespace

int32_t reportDecodeFailure(int32_t code, std::string_view first, std::string_view second) {
  const int n1 = textLength(first);
  const int n2 = textLength(second);
  const char* t1 = textData(first);
  const char* t2 = textData(second);
  switch (code) {
    case kErrBadWav:
      std::fprintf(stderr, "Bad WAV file '%.*s': %.*s!\n\n", n1, t1, n2, t2);
      return code;
    case kErrUnsupportedWav:
      std::fprintf(stderr, "Unsupported WAV file '%.*s': %.*s!\n\n", n1, t1, n2, t2);
      return code;
    case kErrNoBlocks:
      std::fprintf(stderr, "No tape blocks found in '%.*s'!\n\n", n1, t1);
      return code;
    default:
      return reportFailure(code, first, second);
  }
}

void printDecodeBanner() {
  std::fputs("Tonbrix-decode " TONBRIX_VERSION " - WAV to PMD 85 and Mato tape image converter\n\n",
             stdout);
}
