// The output pipe's state, asked through the platform seam. Never a write
// of zero bytes: on Windows that completes the reader's read with 0 bytes,
// which readers take for the end of the stream.
#include "console/pipe_probe.h"

#include "core/platform.h"

DWORD ProbeScanOutput(HANDLE handle)
{
    if (handle == nullptr || handle == INVALID_HANDLE_VALUE || GetFileType(handle) != FILE_TYPE_PIPE ||
        g_platform.queryPipeState == nullptr) {
        return NO_ERROR;
    }
    ULONG state = 0;
    if (g_platform.queryPipeState(handle, &state) != NO_ERROR) {
        return NO_ERROR;  // cannot tell: a write to a closed pipe fails instead
    }
    // The statuses a write to such a pipe fails with, so both ends read alike.
    switch (state) {
    case kPipeClosingState:
        return ERROR_NO_DATA;
    case kPipeDisconnectedState:
        return ERROR_PIPE_NOT_CONNECTED;
    default:
        return NO_ERROR;
    }
}
