// Thread procedures of the per-interface workers. Each takes a pointer to its
// InterfaceEntry and ends when the entry's abort event is set.
#pragma once

unsigned __stdcall TransmitWorker(void* entry);
unsigned __stdcall ReceiveWorker(void* entry);
unsigned __stdcall MdnsWorker(void* entry);
