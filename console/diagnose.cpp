// The console's report: the report room gathers, diagnoses and formats; this
// file only picks the format and writes it through the console's writer.
#include "console/diagnose.h"

#include <stdio.h>

#include "console/write.h"
#include "firewall/program_path.h"
#include "rows/export_text.h"

void GatherScanFacts(int rowsListed, diagnosis::Facts* facts)
{
    // The firewall rule looked for is this program's; without its path the
    // rule reads as unknown rather than as missing.
    ProgramPath self;
    if (!GetOwnProgramPath(&self)) {
        self.text[0] = L'\0';
    }
    diagnosis::Gather(self.text, rowsListed, facts);
}

DWORD PrintScanDiagnosis(const diagnosis::Facts& facts, ScanFormat format, HANDLE output)
{
    diagnosis::Report report;
    diagnosis::Diagnose(facts, &report);
    TextBuffer text;
    InitTextBuffer(&text);
    bool formatted = format == kScanJson ? diagnosis::FormatJson(facts, report, &text)
                                         : diagnosis::FormatText(facts, report, &text);
    DWORD status = formatted && !text.failed ? WriteScanText(output, text.text, text.length)
                                             : static_cast<DWORD>(ERROR_NOT_ENOUGH_MEMORY);
    FreeTextBuffer(&text);
    if (status != NO_ERROR) {
        wchar_t line[128];
        _snwprintf(line, 128, L"the report could not be written to standard output (error %lu)",
                   static_cast<unsigned long>(status));
        line[127] = L'\0';
        ScanError(line);
    }
    return status;
}
