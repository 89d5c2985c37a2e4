// When the empty list explains itself: a rule over the rows shown and the
// time since the last Refresh (or the start), apart from any control.
#pragma once

#include <windows.h>

// How long an empty list waits for the first answer before it says why it
// is empty: most devices answer the first request within a second or two.
constexpr DWORD kEmptyListExplanationDelayMs = 4000;

// True while the explanation belongs on the list: no row, and the delay since
// the Refresh has passed. A row hides it at once.
bool EmptyListExplanationWanted(int rows, DWORD msSinceRefresh);
