// Multicast DNS discovery on one interface.
#include "net/interface_table.h"
#include "net/workers.h"

unsigned __stdcall MdnsWorker(void* parameter)
{
    InterfaceEntry* entry = static_cast<InterfaceEntry*>(parameter);
    WaitForSingleObject(entry->abortEvent, INFINITE);
    return 0;
}
