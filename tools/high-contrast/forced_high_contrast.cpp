// Stands in for ui/high_contrast.cpp: a high-contrast theme is always on.
#include "ui/high_contrast.h"

bool SystemHighContrast()
{
    return true;
}
