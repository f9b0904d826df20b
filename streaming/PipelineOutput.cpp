#include "streaming/PipelineOutput.h"

void TPipelineOutput::Stop()
{
    FStop.store(true);
    FQueue.Close();
}
