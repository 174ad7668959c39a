// The scan record reader: any bytes as a record file. What it accepts
// writes back to a record that reads as the same, and its statistics hold
// together.
#include <string>

#include "fuzz/fuzz_input.h"
#include "records/scan_record.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string text(reinterpret_cast<const char*>(data), size);
  ScanRecord record;
  std::string error;
  if (!ReadRecordJson(text, &record, &error)) {
    FUZZ_CHECK(!error.empty());
    FUZZ_CHECK(error.find('\n') == std::string::npos);
    return 0;
  }
  const std::string written = WriteRecordJson(record);
  ScanRecord again;
  FUZZ_CHECK(ReadRecordJson(written, &again, &error));
  FUZZ_CHECK(again == record);
  FUZZ_CHECK(WriteRecordJson(again) == written);
  const RecordStatistics stats = StatisticsOf(record);
  for (const ChannelStatistics* c : {&stats.whole.te, &stats.whole.fe}) {
    FUZZ_CHECK(c->p95 <= c->max);
    FUZZ_CHECK(c->overLimit <= stats.whole.samples);
    FUZZ_CHECK(c->mean <= c->max);
  }
  int layered = 0;
  for (const LayerStatistics& layer : stats.layers) layered += layer.samples;
  FUZZ_CHECK(layered == stats.whole.samples);
  return 0;
}
