// Running a program on Windows: CreateProcess with a command line quoted the
// way the C run-time splits it back into arguments, and pipes for its output.
// Windows has none of the limits.

#define WIN32_LEAN_AND_MEAN
#define NOMINMAX
#include <windows.h>

#include "testing/process.h"

namespace process_testing {

const int kFailedStatus = -1;
const char* const kTextLineEnd = "\r\n";
const char* const kNullDevice = "NUL";

namespace {

// Room in the error pipe: the child's standard error is read only after its
// standard output has ended, so it must fit in the pipe meanwhile.
constexpr DWORD kErrPipeSize = 1 << 20;

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

// A pipe whose write end the child inherits; false when it cannot be made.
bool ChildPipe(HANDLE* readEnd, HANDLE* writeEnd, DWORD size) {
  SECURITY_ATTRIBUTES inherit = {sizeof inherit, nullptr, TRUE};
  if (!CreatePipe(readEnd, writeEnd, &inherit, size)) return false;
  SetHandleInformation(*readEnd, HANDLE_FLAG_INHERIT, 0);
  return true;
}

// Everything left in the pipe, read as text: "\r\n" becomes "\n".
std::string ReadText(HANDLE readEnd) {
  std::string raw;
  char buffer[4096];
  DWORD n = 0;
  while (ReadFile(readEnd, buffer, sizeof buffer, &n, nullptr) && n > 0)
    raw.append(buffer, n);
  CloseHandle(readEnd);
  std::string text;
  for (size_t i = 0; i < raw.size(); ++i) {
    if (!(raw[i] == '\r' && i + 1 < raw.size() && raw[i + 1] == '\n')) text += raw[i];
  }
  return text;
}

HANDLE AsHandle(intptr_t h) {
  return reinterpret_cast<HANDLE>(h);
}

intptr_t FromHandle(HANDLE h) {
  return reinterpret_cast<intptr_t>(h);
}

}  // namespace

bool CanLimit() {
  return false;
}

bool DropPermissionOverride() {
  return false;
}

Child Start(const std::string& program, const std::filesystem::path& dir,
            const std::vector<std::string>& args, const Options& options) {
  Child child;
  if (options.fileSize != kNoLimit || options.addressSpace != kNoLimit ||
      options.noPermissionOverride)
    return child;
  std::string commandLine = QuoteArgument(program);
  for (const std::string& a : args)
    commandLine += " " + QuoteArgument(a);

  HANDLE outRead = nullptr, outWrite = nullptr, errRead = nullptr, errWrite = nullptr;
  if (!ChildPipe(&outRead, &outWrite, 0)) return child;
  if (options.collectErr && !ChildPipe(&errRead, &errWrite, kErrPipeSize)) {
    CloseHandle(outRead);
    CloseHandle(outWrite);
    return child;
  }
  STARTUPINFOA startup = {};
  startup.cb = sizeof startup;
  startup.dwFlags = STARTF_USESTDHANDLES;
  startup.hStdInput = InheritableStdHandle(STD_INPUT_HANDLE);
  startup.hStdOutput = outWrite;
  startup.hStdError = options.collectErr ? errWrite : InheritableStdHandle(STD_ERROR_HANDLE);
  PROCESS_INFORMATION process = {};
  const std::string directory = dir.string();
  // Wine now and then fails to start a process with an internal error under
  // load; nothing has run then, so starting again is safe.
  BOOL started = FALSE;
  for (int attempt = 0; attempt < 5; ++attempt) {
    started = CreateProcessA(program.c_str(), &commandLine[0], nullptr, nullptr, TRUE, 0, nullptr,
                             directory.empty() ? nullptr : directory.c_str(), &startup, &process);
    if (started || GetLastError() != ERROR_INTERNAL_ERROR) break;
    Sleep(100);
  }
  CloseHandle(outWrite);
  CloseHandle(startup.hStdInput);
  CloseHandle(startup.hStdError);
  if (!started) {
    CloseHandle(outRead);
    if (errRead) CloseHandle(errRead);
    return child;
  }
  CloseHandle(process.hThread);
  child.id = process.dwProcessId;
  child.process = FromHandle(process.hProcess);
  child.out = FromHandle(outRead);
  child.err = errRead ? FromHandle(errRead) : -1;
  return child;
}

Outcome Finish(Child* child) {
  Outcome outcome;
  if (child->process == 0) return outcome;
  outcome.out = ReadText(AsHandle(child->out));
  if (child->err != -1) outcome.err = ReadText(AsHandle(child->err));
  HANDLE process = AsHandle(child->process);
  DWORD code = 0;
  if (WaitForSingleObject(process, INFINITE) == WAIT_OBJECT_0 && GetExitCodeProcess(process, &code))
    outcome.status = static_cast<int>(code);
  CloseHandle(process);
  *child = Child();
  return outcome;
}

}  // namespace process_testing
