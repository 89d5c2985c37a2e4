// Broadcast discovery: sends the request on one interface.
#include "net/interface_table.h"
#include "net/workers.h"

unsigned __stdcall TransmitWorker(void* parameter)
{
    InterfaceEntry* entry = static_cast<InterfaceEntry*>(parameter);
    WaitForSingleObject(entry->abortEvent, INFINITE);
    return 0;
}
