// The page's clips are all prepared at the mixer's rate (prepare_clips.py refuses any other),
// so the browser build carries no rate conversion: a clip at another rate is refused.
#include "platform/rate_converter.h"

namespace vesquin {

std::unique_ptr<RateConverter> RateConverter::Make(double, double, unsigned) { return nullptr; }

}  // namespace vesquin
