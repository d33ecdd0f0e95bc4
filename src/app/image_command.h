// The image sub-command: what a stored-form image holds, in lines for a person or as one JSON
// object, and the built-in image written out in its stored form (--export).
#pragma once

#include <cstdio>
#include <string>

#include "app/command_line.h"
#include "app/image_choice.h"

namespace tvx::app {

/// The report on `image`: its source, records, runs, declared data bytes, the words and pair
/// checksum of a direct upload, the RF header frame and the SHA-256 of the stored form; each
/// line ends in a new line.
std::string ImageReportText(const ChosenImage& image);

/// The same as one JSON object on one line, ending in a new line.
std::string ImageReportJson(const ChosenImage& image);

/// Runs `image [FILE] [--json]` (the report on `out`) or `image --export FILE` (one line on
/// `out` saying what was written). Returns 0, or 1 when the file or `out` cannot be written
/// (said on `err`).
int RunImageCommand(const CommandLine& command, std::FILE* out, std::FILE* err);

}  // namespace tvx::app
