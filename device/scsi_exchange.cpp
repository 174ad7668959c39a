#include "device/scsi_exchange.h"

std::array<uint8_t, kFixedSenseLength> FixedSense(uint8_t key, uint8_t asc, uint8_t ascq) {
  std::array<uint8_t, kFixedSenseLength> sense{};
  sense[0] = 0x70;
  sense[2] = key & 0x0F;
  sense[7] = 10;
  sense[12] = asc;
  sense[13] = ascq;
  return sense;
}

void ScsiExchange::Answer(uint8_t status, uint8_t key, uint8_t asc, uint8_t ascq) {
  scsiStatus = status;
  if (status == kScsiStatusCheckCondition) {
    outcome = ExchangeOutcome::kCheckCondition;
    const auto fixed = FixedSense(key, asc, ascq);
    SetSense(fixed.data(), fixed.size());
  } else {
    outcome = ExchangeOutcome::kDone;
  }
}
