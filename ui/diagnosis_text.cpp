// Gathers the facts, names the causes and words them (diagnosis/), for the
// empty list's explanation and the diagnostics dialog. Window thread.
#include "ui/diagnosis_text.h"

#include <memory>
#include <new>

#include "diagnosis/report.h"
#include "firewall/program_path.h"

bool DescribeDiagnosis(int rowsShown, TextBuffer* report, wchar_t* summary, size_t summaryCapacity)
{
    if (summary != nullptr && summaryCapacity > 0) {
        summary[0] = L'\0';
    }
    // Too large for the window thread's stack (the path alone is 64 KB).
    std::unique_ptr<ProgramPath> path(new (std::nothrow) ProgramPath);
    std::unique_ptr<diagnosis::Facts> facts(new (std::nothrow) diagnosis::Facts);
    std::unique_ptr<diagnosis::Report> causes(new (std::nothrow) diagnosis::Report);
    if (path == nullptr || facts == nullptr || causes == nullptr) {
        return false;
    }
    // Without our own path the firewall's rule reads as unknown, not missing.
    if (!GetOwnProgramPath(path.get())) {
        path->text[0] = L'\0';
    }
    diagnosis::Gather(path->text, rowsShown, facts.get());
    diagnosis::Diagnose(*facts, causes.get());
    if (report != nullptr && !diagnosis::FormatText(*facts, *causes, report)) {
        return false;
    }
    if (summary != nullptr && summaryCapacity > 0) {
        diagnosis::FormatSummary(*facts, *causes, summary, summaryCapacity);
        summary[summaryCapacity - 1] = L'\0';
    }
    return true;
}
