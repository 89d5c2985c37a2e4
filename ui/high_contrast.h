// Whether the user has a high-contrast theme on. In a file of its own so
// that a helper build can link another answer (tools/high-contrast).
#pragma once

bool SystemHighContrast();
