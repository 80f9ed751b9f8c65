// The receive stages that run on tick samples, in the order the sample loop
// calls them: iqabs, absmittel, nlg1, adaptthreshold2. Each looks at newdata
// to find the channels that ticked on this sample and works on those alone.
#pragma once

#include "rx/receiver.h"

namespace talvo {

void iqabs(Receiver& r);
void absmittel(Receiver& r);
void nlg1(Receiver& r);
void adaptthreshold2(Receiver& r);

}  // namespace talvo
