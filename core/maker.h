// The maker whose devices this tool lists, in the one place its word is
// written: the vendor its devices announce by multicast DNS, and the start
// of the description in their broadcast answers.
#pragma once

constexpr wchar_t kMakerWord[] = L"Orvel";
constexpr wchar_t kMakerDescriptionPrefix[] = L"Orvel ";
