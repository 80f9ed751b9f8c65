#include "rx/fine/acquisition.h"

#include "rx/fine/common.h"

namespace talvo::fine {

void Acquisition::make(const AcquisitionParams& p) {
  p_ = p;
  acquire_ = undb(p.acquire_db);
  stay_ = undb(p.stay_db);
  slow_ratio_ = undb(p.slow_db);
}

void Acquisition::reset() {
  ready_ = 0;
  slow_ = 0;
}

}  // namespace talvo::fine
