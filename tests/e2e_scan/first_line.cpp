// A Windows reader of the console program's output, as a pipeline's
// "Select-Object -First 1" is: runs COMMAND with its standard output to a
// pipe, copies what it prints to its own standard output up to and with the
// first line that holds TEXT, then closes the pipe and waits up to
// WAIT_SECONDS for COMMAND to end. Prints "ended STATUS after MS ms" or
// "still running after MS ms" (then ends COMMAND) on its standard error.
// Usage: first_line.exe TEXT WAIT_SECONDS COMMAND-LINE
#include <windows.h>
#include <stdio.h>
#include <string.h>

#include <string>

namespace {

// Reads the pipe up to the first line holding text; false at its end.
bool CopyUntilLine(HANDLE pipe, const char* text)
{
    std::string line;
    char c = 0;
    DWORD got = 0;
    while (ReadFile(pipe, &c, 1, &got, nullptr) && got == 1) {
        line += c;
        if (c != '\n') {
            continue;
        }
        fwrite(line.data(), 1, line.size(), stdout);
        fflush(stdout);
        if (line.find(text) != std::string::npos) {
            return true;
        }
        line.clear();
    }
    return false;
}

}  // namespace

int wmain(int argc, wchar_t** argv)
{
    if (argc != 4) {
        fprintf(stderr, "usage: first_line TEXT WAIT_SECONDS COMMAND-LINE\n");
        return 2;
    }
    char text[256];
    WideCharToMultiByte(CP_UTF8, 0, argv[1], -1, text, sizeof(text), nullptr, nullptr);
    DWORD waitMs = static_cast<DWORD>(_wtoi(argv[2])) * 1000;
    SECURITY_ATTRIBUTES inherit = {sizeof(inherit), nullptr, TRUE};
    HANDLE readEnd = nullptr;
    HANDLE writeEnd = nullptr;
    if (!CreatePipe(&readEnd, &writeEnd, &inherit, 0) || !SetHandleInformation(readEnd, HANDLE_FLAG_INHERIT, 0)) {
        fprintf(stderr, "first_line: no pipe (%lu)\n", GetLastError());
        return 2;
    }
    STARTUPINFOW startup = {};
    startup.cb = sizeof(startup);
    startup.dwFlags = STARTF_USESTDHANDLES;
    startup.hStdInput = GetStdHandle(STD_INPUT_HANDLE);
    startup.hStdOutput = writeEnd;
    startup.hStdError = GetStdHandle(STD_ERROR_HANDLE);
    PROCESS_INFORMATION process = {};
    if (!CreateProcessW(nullptr, argv[3], nullptr, nullptr, TRUE, 0, nullptr, nullptr, &startup, &process)) {
        fprintf(stderr, "first_line: cannot start the command (%lu)\n", GetLastError());
        return 2;
    }
    CloseHandle(writeEnd);
    bool found = CopyUntilLine(readEnd, text);
    CloseHandle(readEnd);
    DWORD closed = GetTickCount();
    DWORD wait = WaitForSingleObject(process.hProcess, waitMs);
    DWORD took = GetTickCount() - closed;
    DWORD status = 0;
    if (wait == WAIT_OBJECT_0 && GetExitCodeProcess(process.hProcess, &status)) {
        fprintf(stderr, "first_line: %s; ended %lu after %lu ms\n", found ? "line found" : "no such line", status, took);
    } else {
        fprintf(stderr, "first_line: %s; still running after %lu ms\n", found ? "line found" : "no such line", took);
        TerminateProcess(process.hProcess, 99);
        WaitForSingleObject(process.hProcess, 5000);
    }
    CloseHandle(process.hThread);
    CloseHandle(process.hProcess);
    return found && wait == WAIT_OBJECT_0 ? 0 : 1;
}
