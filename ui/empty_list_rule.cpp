// The rule of ui/empty_list_rule.h.
#include "ui/empty_list_rule.h"

bool EmptyListExplanationWanted(int rows, DWORD msSinceRefresh)
{
    return rows == 0 && msSinceRefresh >= kEmptyListExplanationDelayMs;
}
