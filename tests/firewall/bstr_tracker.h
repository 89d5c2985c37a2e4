// Counts the OLE Automation strings this test executable allocates and frees.
// While a BstrTracker exists, the executable's import slots for SysAllocString
// and SysFreeString point at counting wrappers, so code linked into the
// executable (the product library included) is observed without any change
// to it. One tracker at a time.
#pragma once

#include <windows.h>
#include <oleauto.h>

#include <string>
#include <vector>

class BstrTracker {
public:
    BstrTracker();
    ~BstrTracker();
    BstrTracker(const BstrTracker&) = delete;
    BstrTracker& operator=(const BstrTracker&) = delete;

    // False when the import slots could not be found; nothing is counted then.
    bool Installed() const { return installed_; }

    // Strings allocated since the tracker was created and not freed yet.
    size_t LiveCount() const;
    bool IsLive(BSTR value) const;
    // Frees of strings that were not live (double frees, foreign strings).
    int UnknownFrees() const;
    // The text of every allocation, in order.
    std::vector<std::wstring> AllocatedTexts() const;

private:
    bool installed_;
};
