#include "transfer/operation.h"

#include "image/built_in_image.h"
#include "transfer/phases.h"

namespace zq {

void fillJob(TransferJob& job, TransferMode mode, const std::string& portName) {
    job.mode = mode;
    job.portName = portName;
    job.downloadBaud = LineSpeed;
    job.updateBaud = LineSpeed;
    job.capacity = ImageCapacity;
    useBuiltInImage(job);
}

bool runOperation(OwnerWindow& window, TransferJob& job, ProgressTarget* progressBar,
                  PortState& port) {
    if (job.mode == ModeUpdate) {
        return runUpdatePhase(window, job, progressBar, port);
    }
    return runDownloadPhase(window, job, progressBar, port) &&
           runUpdatePhase(window, job, progressBar, port);
}

}  // namespace zq
