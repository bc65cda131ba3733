// Running a program on Windows: CreateProcess with a command line quoted the
// way the C run-time splits it back into arguments, and a pipe for its
// standard output. Windows has no limit on the size of a process's files.

#define WIN32_LEAN_AND_MEAN
#define NOMINMAX
#include <windows.h>

#include "program_run.h"

namespace programrun {

const int kFailedStatus = -1;
const char* const kTextLineEnd = "\r\n";
const char* const kNullDevice = "NUL";

namespace {

// One argument as the C run-time's command-line parser reads it back: quoted
// when it is empty or holds blanks or quotes, with backslashes doubled where
// they come before a quote.
std::string QuoteArgument(const std::string& arg) {
  if (!arg.empty() && arg.find_first_of(" \t\n\v\"") == std::string::npos) return arg;
  std::string quoted = "\"";
  size_t backslashes = 0;
  for (char c : arg) {
    if (c == '\\') {
      ++backslashes;
      continue;
    }
    if (c == '"') backslashes = backslashes * 2 + 1;
    quoted.append(backslashes, '\\');
    backslashes = 0;
    quoted += c;
  }
  quoted.append(backslashes * 2, '\\');
  quoted += '"';
  return quoted;
}

// An inheritable copy of one of this process's standard handles, or of the
// null device when it has none.
HANDLE InheritableStdHandle(DWORD which) {
  HANDLE process = GetCurrentProcess();
  HANDLE own = GetStdHandle(which);
  HANDLE copy = nullptr;
  if (own != nullptr && own != INVALID_HANDLE_VALUE &&
      DuplicateHandle(process, own, process, &copy, 0, TRUE, DUPLICATE_SAME_ACCESS))
    return copy;
  SECURITY_ATTRIBUTES inherit = {sizeof inherit, nullptr, TRUE};
  return CreateFileA("NUL", GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                     &inherit, OPEN_EXISTING, 0, nullptr);
}

// Output read as text: "\r\n" becomes "\n".
std::string TextLines(const std::string& raw) {
  std::string text;
  for (size_t i = 0; i < raw.size(); ++i) {
    if (!(raw[i] == '\r' && i + 1 < raw.size() && raw[i + 1] == '\n')) text += raw[i];
  }
  return text;
}

}  // namespace

bool CanLimitFileSize() {
  return false;
}

Outcome Run(const std::string& program, const std::filesystem::path& dir,
            const std::vector<std::string>& args, int64_t fileSizeLimit) {
  Outcome outcome;
  if (fileSizeLimit != kNoFileSizeLimit) return outcome;
  std::string commandLine = QuoteArgument(program);
  for (const std::string& a : args)
    commandLine += " " + QuoteArgument(a);

  SECURITY_ATTRIBUTES inherit = {sizeof inherit, nullptr, TRUE};
  HANDLE readEnd = nullptr;
  HANDLE writeEnd = nullptr;
  if (!CreatePipe(&readEnd, &writeEnd, &inherit, 0)) return outcome;
  SetHandleInformation(readEnd, HANDLE_FLAG_INHERIT, 0);

  STARTUPINFOA startup = {};
  startup.cb = sizeof startup;
  startup.dwFlags = STARTF_USESTDHANDLES;
  startup.hStdInput = InheritableStdHandle(STD_INPUT_HANDLE);
  startup.hStdOutput = writeEnd;
  startup.hStdError = InheritableStdHandle(STD_ERROR_HANDLE);
  PROCESS_INFORMATION process = {};
  std::string directory = dir.string();
  // Wine now and then fails to start a process with an internal error under
  // load; nothing has run then, so starting again is safe.
  BOOL started = FALSE;
  DWORD error = 0;
  for (int attempt = 0; attempt < 5; ++attempt) {
    started = CreateProcessA(program.c_str(), &commandLine[0], nullptr, nullptr, TRUE, 0, nullptr,
                             directory.c_str(), &startup, &process);
    error = started ? 0 : GetLastError();
    if (error != ERROR_INTERNAL_ERROR) break;
    Sleep(100);
  }
  CloseHandle(writeEnd);
  CloseHandle(startup.hStdInput);
  CloseHandle(startup.hStdError);
  if (started) {
    char buffer[4096];
    DWORD n = 0;
    while (ReadFile(readEnd, buffer, sizeof buffer, &n, nullptr) && n > 0)
      outcome.out.append(buffer, n);
    DWORD code = 0;
    if (WaitForSingleObject(process.hProcess, INFINITE) == WAIT_OBJECT_0 &&
        GetExitCodeProcess(process.hProcess, &code))
      outcome.status = static_cast<int>(code);
    CloseHandle(process.hThread);
    CloseHandle(process.hProcess);
  } else {
    outcome.out = "CreateProcess failed: error " + std::to_string(error) + "\n";
  }
  CloseHandle(readEnd);
  outcome.out = TextLines(outcome.out);
  return outcome;
}

}  // namespace programrun
