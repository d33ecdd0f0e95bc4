#include "app/image_command.h"

#include <nlohmann/json.hpp>

#include "app/printable_text.h"
#include "image/image_file.h"
#include "image/image_summary.h"
#include "rf/frames.h"

namespace tvx::app {
namespace {

std::string Hex(unsigned value, int digits) {
  char text[16];
  std::snprintf(text, sizeof text, "%0*X", digits, value);
  return text;
}

std::string RecordRange(const image::ImageRun& run) {
  if (run.first_record == run.last_record) return std::to_string(run.first_record);
  return std::to_string(run.first_record) + ".." + std::to_string(run.last_record);
}

// The RF header frame the image gives: 0xE2, even checksum, 0x36, record count, odd checksum,
// CRC.
std::string HeaderFrameHex(const image::ImageSummary& summary) {
  rf::RfFrameBuffer frame{};
  const std::size_t size = rf::RfHeaderFrame(frame, summary.walk_records, summary.checksum);
  std::string text;
  for (std::size_t i = 0; i < size; ++i) text += (i > 0 ? " " : "") + Hex(frame[i], 2);
  return text;
}

std::string Line(const char* format, auto... values) {
  char text[160];
  std::snprintf(text, sizeof text, format, values...);
  return text;
}

}  // namespace

std::string ImageReportText(const ChosenImage& image) {
  const image::ImageSummary s = image::SummarizeImage(image.Bytes());
  std::string text =
      "Image: " + (image.path.empty() ? "built in" : PrintableText(image.path)) + "\n";
  text += Line("Records: %d (%d bytes)\n", static_cast<int>(s.stored_records),
               static_cast<int>(image.Bytes().size()));
  text += Line("Runs: %d, each of records that follow one another in memory under one type\n",
               static_cast<int>(s.runs.size()));
  text += "  Records        Type  First   Last    Records  Data bytes\n";
  for (const image::ImageRun& run : s.runs) {
    text +=
        Line("  %-13s %5u  0x%s  0x%s  %7d  %10lld\n", RecordRange(run).c_str(), unsigned{run.type},
             Hex(run.first_address, 4).c_str(), Hex(run.last_address, 4).c_str(),
             static_cast<int>(run.Records()), static_cast<long long>(run.data_bytes));
  }
  text += Line("Data bytes: %lld\n", static_cast<long long>(s.data_bytes));
  text += Line("Direct upload: %lld words (%lld bytes) from %d records\n",
               static_cast<long long>(s.words), static_cast<long long>(2 * s.words),
               static_cast<int>(s.walk_records));
  text += "Pair checksum: " + Hex(s.checksum[0], 2) + " " + Hex(s.checksum[1], 2) + "\n";
  text += "RF header frame: " + HeaderFrameHex(s) + " (record count " +
          std::to_string(s.walk_records) + ", even checksum " + Hex(s.checksum[0], 2) +
          ", odd checksum " + Hex(s.checksum[1], 2) + ")\n";
  text += "SHA-256: " + s.sha256 + "\n";
  return text;
}

std::string ImageReportJson(const ChosenImage& image) {
  const image::ImageSummary s = image::SummarizeImage(image.Bytes());
  nlohmann::ordered_json report;
  report["source"] = PrintableText(image.Source());  // escaped as every name in our JSON
  report["records"] = s.stored_records;
  report["bytes"] = image.Bytes().size();
  nlohmann::ordered_json runs = nlohmann::ordered_json::array();
  for (const image::ImageRun& run : s.runs) {
    runs.push_back({{"first_record", run.first_record},
                    {"last_record", run.last_record},
                    {"type", run.type},
                    {"first_address", "0x" + Hex(run.first_address, 4)},
                    {"last_address", "0x" + Hex(run.last_address, 4)},
                    {"records", run.Records()},
                    {"data_bytes", run.data_bytes}});
  }
  report["runs"] = runs;
  report["data_bytes"] = s.data_bytes;
  report["words"] = s.words;
  // As the upload log writes it: the two bytes in hexadecimal, first byte first.
  report["checksum"] = Hex(s.checksum[0], 2) + Hex(s.checksum[1], 2);
  report["rf_header"] = {{"record_count", s.walk_records},
                         {"even_checksum", Hex(s.checksum[0], 2)},
                         {"odd_checksum", Hex(s.checksum[1], 2)},
                         {"frame", HeaderFrameHex(s)}};
  report["sha256"] = s.sha256;
  return report.dump(-1, ' ', false, nlohmann::ordered_json::error_handler_t::replace) + "\n";
}

int RunImageCommand(const CommandLine& command, std::FILE* out, std::FILE* err) {
  std::string text;
  if (!command.export_path.empty()) {
    const std::span<const std::uint8_t> bytes = BuiltInImage().Bytes();
    if (const std::string why = image::WriteImageFile(command.export_path, bytes); !why.empty()) {
      std::fprintf(err, "torvandrix-upload: %s: %s\n", PrintableText(command.export_path).c_str(),
                   why.c_str());
      return 1;
    }
    text = "wrote the built-in image to " + PrintableText(command.export_path) + ": " +
           std::to_string(bytes.size()) + " bytes, SHA-256 " + image::SummarizeImage(bytes).sha256 +
           "\n";
  } else {
    const ChosenImage& chosen = command.image ? *command.image : BuiltInImage();
    text = command.json ? ImageReportJson(chosen) : ImageReportText(chosen);
  }
  if (std::fputs(text.c_str(), out) < 0 || std::fflush(out) != 0) {
    std::fprintf(err, "torvandrix-upload: the report cannot be written\n");
    return 1;
  }
  return 0;
}

}  // namespace tvx::app
