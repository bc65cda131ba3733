#include "host_checks.h"

#include "kernel32_min.h"

namespace {

constexpr unsigned long kStdOutput = static_cast<unsigned long>(-11);
constexpr short kRuntimeVersion = -32477;  // 0x8123 as a signed 16-bit number

char memoPad[] = "MemoPad";
char missing[] = "Missing";
char installPath[] = "C:\\apps\\DemoApp.prc";
// Paths in the folder given after "online".
char folderInstall[300], folderExport[300], folderMissing[300], folderScreen[300];

unsigned long Length(const char* text) {
  unsigned long length = 0;
  while (text[length] != '\0')
    ++length;
  return length;
}

void Print(const char* text) {
  unsigned long written = 0;
  WriteFile(GetStdHandle(kStdOutput), text, Length(text), &written, nullptr);
}

void PrintNumber(int value) {
  char digits[16];
  int at = 15;
  digits[at] = '\0';
  unsigned int magnitude = value < 0 ? 0u - static_cast<unsigned int>(value) : value;
  do {
    digits[--at] = static_cast<char>('0' + magnitude % 10);
    magnitude /= 10;
  } while (magnitude != 0);
  if (value < 0) digits[--at] = '-';
  Print(digits + at);
}

// Where word starts in text, or null.
const char* FindWord(const char* text, const char* word) {
  unsigned long wordLength = Length(word);
  for (; *text != '\0'; ++text) {
    unsigned long i = 0;
    while (i < wordLength && text[i] == word[i])
      ++i;
    if (i == wordLength) return text;
  }
  return nullptr;
}

// Sets path to the folder (up to a blank or the end of the text) and name,
// cut to fit.
void InFolder(char* path, unsigned long size, const char* folder, const char* name) {
  unsigned long at = 0;
  auto put = [&](char c) {
    if (at + 1 < size) path[at++] = c;
  };
  for (; *folder != '\0' && *folder != ' '; ++folder)
    put(*folder);
  put('\\');
  for (; *name != '\0'; ++name)
    put(*name);
  path[at] = '\0';
}

int Expect(const char* what, int got, int expected) {
  Print(got == expected ? "ok      " : "FAILED  ");
  Print(what);
  Print(": ");
  PrintNumber(got);
  if (got != expected) {
    Print(", expected ");
    PrintNumber(expected);
  }
  Print("\n");
  return got == expected ? 0 : 1;
}

// Calls fn from a frame moved down by Words 4-byte words. Microsoft's 32-bit
// compiler keeps the stack only 4-byte aligned, so over Words 0 to 3 the
// library is entered at every 4-byte offset modulo 16.
template <int Words, typename Fn>
__attribute__((noinline)) int Shifted(Fn fn) {
  volatile int pad[Words + 1];
  volatile int last = Words;  // a run-time index keeps the whole array
  pad[last] = 0;
  return fn() + pad[last];
}

template <typename Fn>
int AtEveryAlignment(const char* what, int expected, Fn fn) {
  return Expect(what, Shifted<0>(fn), expected) + Expect(what, Shifted<1>(fn), expected) +
         Expect(what, Shifted<2>(fn), expected) + Expect(what, Shifted<3>(fn), expected);
}

int Online(const GantryCalls& c) {
  int failed =
      AtEveryAlignment("IsEmulatorRunning()", 1, [&] { return int(c.isEmulatorRunning()); });
  failed += Expect("HasDatabase(MemoPad)", c.hasDatabase(memoPad), 1);
  failed += Expect("HasDatabase(Missing)", c.hasDatabase(missing), 0);
  failed +=
      AtEveryAlignment("QuorvaneRt_ver()", kRuntimeVersion, [&] { return int(c.quorvaneRtVer()); });
  failed += Expect("InstallFile(FOLDER\\DemoApp.prc)", c.installFile(folderInstall), 1);
  failed += Expect("ExportDatabase(MemoPad, FOLDER\\memo.pdb)",
                   c.exportDatabase(memoPad, folderExport), 1);
  failed += Expect("ExportDatabase(Missing, FOLDER\\missing.pdb)",
                   c.exportDatabase(missing, folderMissing), 0);
  failed += AtEveryAlignment("SaveScreen(FOLDER\\shot.bmp)", 1,
                             [&] { return int(c.saveScreen(folderScreen)); });
  c.launchApp(memoPad);
  c.launchApp(missing);
  c.emulatorReset();
  c.emulatorStartAppLauncher();
  PrintLine(
      "called  LaunchApp(MemoPad), LaunchApp(Missing), EmulatorReset(), "
      "EmulatorStartAppLauncher()");
  return failed;
}

int Offline(const GantryCalls& c) {
  int failed = Expect("IsEmulatorRunning()", c.isEmulatorRunning(), 0);
  failed += Expect("HasDatabase(MemoPad)", c.hasDatabase(memoPad), 0);
  failed += Expect("QuorvaneRt_ver()", c.quorvaneRtVer(), 0);
  failed += Expect("InstallFile(C:\\apps\\DemoApp.prc)", c.installFile(installPath), 0);
  char exportPath[] = "C:\\apps\\memo.pdb", screenPath[] = "C:\\apps\\shot.bmp";
  failed += Expect("ExportDatabase(MemoPad, C:\\apps\\memo.pdb)",
                   c.exportDatabase(memoPad, exportPath), 0);
  failed += Expect("SaveScreen(C:\\apps\\shot.bmp)", c.saveScreen(screenPath), 0);
  c.launchApp(memoPad);
  c.emulatorReset();
  c.emulatorStartAppLauncher();
  PrintLine("called  LaunchApp(MemoPad), EmulatorReset(), EmulatorStartAppLauncher()");
  return failed;
}

}  // namespace

void PrintLine(const char* text) {
  Print(text);
  Print("\n");
}

int RunChecks(const GantryCalls& calls) {
  const char* online = FindWord(GetCommandLineA(), "online ");
  if (online == nullptr) return Offline(calls);
  const char* folder = online + Length("online ");
  InFolder(folderInstall, sizeof folderInstall, folder, "DemoApp.prc");
  InFolder(folderExport, sizeof folderExport, folder, "memo.pdb");
  InFolder(folderMissing, sizeof folderMissing, folder, "missing.pdb");
  InFolder(folderScreen, sizeof folderScreen, folder, "shot.bmp");
  return Online(calls);
}
