// What broadcast discovery tells the counters of core/diagnostics.h, and a
// listener's one line per event: a request sent, an answer and its fate.
// Counting is one atomic add; the line is formatted only for a listener.
#pragma once

#include <windows.h>
#include <stdint.h>

#include "core/diagnostics.h"

// fate: one of kAnswersListed .. kAnswersOutsideFilter. Addresses in
// network byte order; interfaceAddress is the interface that heard it.
void NoteAnswerFate(uint32_t interfaceAddress, uint32_t sender, diag::Counter fate);

// A request from interfaceAddress to destination: sent, or failed with error.
void NoteRequestSent(uint32_t interfaceAddress, uint32_t destination, bool sent, DWORD error);
