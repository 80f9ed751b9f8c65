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

// The same work for one tick of one channel (for the cluster stages, one
// cluster centre), which the stages above and the block pipeline share.
void iqabs_channel(Receiver& r, int j);      // IQre/IQim -> valueabs
void absmittel_channel(Receiver& r, int j);  // valueabs -> valueabsmittel1
void absmittel_cluster(Receiver& r, int c);  // members' valueabsmittel1 -> valueabsmittel
void nlg1_channel(Receiver& r, int j);       // valueabsmittel -> valuenlg1
// `count` consecutive ticks of cluster centre j with the envelopes env[]:
// the smoothed value of each in out[], several formed side by side.
void nlg1_run(Receiver& r, int j, const double* env, int count, double* out);
void adaptthreshold2_channel(Receiver& r, int j);  // valuenlg1 -> valuethr

}  // namespace talvo
