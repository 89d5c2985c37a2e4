// What the multicast DNS browse tells the counters of core/diagnostics.h,
// and a listener's one line per event: the service question asked on an
// interface, each instance its answers name, each device of the maker
// posted and each lookup that ran out of time.
#pragma once

#include <stdint.h>

#include "browse/client_choice.h"

// The browse question was started on client for the interface at
// interfaceAddress. The system's client counts here, one question per
// start; our own client counts the questions it puts on the wire itself.
void NoteBrowseQuestion(uint32_t interfaceAddress, const wchar_t* question, DnsClientKind client);

// A service answer on interfaceAddress named instance (hostAddress: the
// address the answer gave with it, or 0).
void NoteServiceAnswer(uint32_t interfaceAddress, const wchar_t* instance, uint32_t hostAddress);

// A device of the maker was posted; its lookups of instance ran out of time.
void NoteMakerInstance(uint32_t interfaceAddress, const wchar_t* instance, uint32_t hostAddress);
void NoteLookupTimedOut(uint32_t interfaceAddress, const wchar_t* instance);
