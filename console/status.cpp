// The exit status of a console run.
#include "console/status.h"

#include "console/write.h"

int ScanExitStatus(const ScanOutcome& outcome)
{
    bool readerLeft = outcome.watch && IsReaderGone(outcome.writeStatus);
    if (outcome.writeStatus != NO_ERROR && !readerLeft) {
        return kScanWriteFailed;
    }
    if (!outcome.watch && outcome.interrupted && !outcome.timeUp) {
        return kScanInterrupted;
    }
    return outcome.listed ? kScanListed : kScanNoneListed;
}
