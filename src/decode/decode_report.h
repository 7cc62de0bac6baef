// The report of a decode as JSON text: for every block of the tape and every take's copy
// of it, where it lies in the recording, how it was read, what was lost and how the
// merge decided. Text only; the front end writes it where it is asked to.
#pragma once

#include <cstdint>
#include <string>

#include "decode/cassette.h"
#include "decode/json_writer.h"

// How far a block's tape ran from its nominal speed, in %: the PMD 85 cell rate against
// 1200 or 2400 cells a second, the Mato space rate against 1050 Hz.
double speedDeviationPercent(const DecodedBlock& block);

// Writes the fields of a block that the report and the page share: "kind" ("header" or
// "headerless"), for a header block (`header`) "fileNumber", "fileType", "name" and
// "begin", then "length" and "marks" (the fault marks it carries, as the listing names
// them).
void writeBlockFields(JsonWriter& json, const TapeBlock& info, bool header);

// Appends to `text` the report of the merged takes of `cassette` (mergeCassette has run);
// `image` names the tape image written, or is nullptr. Returns kOk or kErrOutOfMemory,
// reported.
[[nodiscard]] int32_t buildDecodeReport(const Cassette& cassette, const char* image,
                                        std::string& text);
