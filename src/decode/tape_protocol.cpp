// The names of the protocols, as the listing and the page show them.
#include "decode/tape_protocol.h"

const char* protocolName(TapeProtocol protocol) {
  switch (protocol) {
    case kProtocolPmdDouble:
      return "PMD 85 (Double Speed)";
    case kProtocolMato:
      return "Mato";
    default:
      return "PMD 85";
  }
}
