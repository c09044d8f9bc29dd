// Child processes on Windows: CreateProcessW, a job that ends them with the test program, and
// console control events through kfw_console_event.
#include "tests/cli/child_process.h"

#include <windows.h>

#include <gtest/gtest.h>

#include <cwctype>
#include <thread>

#include "base/files.h"
#include "tests/support/doubles.h"

namespace kfw::test {

namespace {

HANDLE Handle(void* handle) { return static_cast<HANDLE>(handle); }

// One argument as the C runtime's parser of the command line gives it back: in quotes when it
// holds a space, a tab or a quote (or nothing), a quote and the backslashes before it escaped.
std::wstring Quoted(const std::wstring& argument) {
  if (!argument.empty() && argument.find_first_of(L" \t\n\v\"") == std::wstring::npos) {
    return argument;
  }
  std::wstring quoted = L"\"";
  size_t backslashes = 0;
  for (const wchar_t c : argument) {
    if (c == L'\\') {
      ++backslashes;
      continue;
    }
    quoted.append(c == L'"' ? 2 * backslashes + 1 : backslashes, L'\\');
    backslashes = 0;
    quoted.push_back(c);
  }
  quoted.append(2 * backslashes, L'\\');
  quoted.push_back(L'"');
  return quoted;
}

std::wstring CommandLine(const std::vector<std::string>& argv) {
  std::wstring line;
  for (const std::string& argument : argv) {
    if (!line.empty()) line.push_back(L' ');
    line += Quoted(WideFromUtf8(argument));
  }
  return line;
}

// Names compare without case on Windows ("Path" and "PATH" are one variable).
struct NoCase {
  bool operator()(const std::wstring& a, const std::wstring& b) const {
    return std::lexicographical_compare(a.begin(), a.end(), b.begin(), b.end(),
                                        [](wchar_t x, wchar_t y) {
                                          return std::towupper(x) < std::towupper(y);
                                        });
  }
};

// The test's own environment with the entries added or replaced, as a block of "name=value\0"
// texts ended by an empty one, sorted by name as Windows expects.
std::wstring EnvironmentBlock(const std::map<std::string, std::string>& environment) {
  std::map<std::wstring, std::wstring, NoCase> merged;
  wchar_t* own = GetEnvironmentStringsW();
  for (const wchar_t* entry = own; entry && *entry; entry += wcslen(entry) + 1) {
    const std::wstring text = entry;
    // Names may start with '=' (the current folder of each drive: "=C:=C:\x").
    const size_t equals = text.find(L'=', 1);
    if (equals != std::wstring::npos) merged[text.substr(0, equals)] = text.substr(equals + 1);
  }
  if (own) FreeEnvironmentStringsW(own);
  for (const auto& [name, value] : environment) merged[WideFromUtf8(name)] = WideFromUtf8(value);
  std::wstring block;
  for (const auto& [name, value] : merged) {
    block += name + L"=" + value;
    block.push_back(L'\0');
  }
  block.push_back(L'\0');
  return block;
}

HANDLE OpenInherited(const std::wstring& name, DWORD access, DWORD disposition) {
  SECURITY_ATTRIBUTES inherited{sizeof inherited, nullptr, TRUE};
  return CreateFileW(name.c_str(), access, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                     &inherited, disposition, FILE_ATTRIBUTE_NORMAL, nullptr);
}

}  // namespace

ChildProcess::ChildProcess(std::vector<std::string> argv,
                           std::map<std::string, std::string> environment, ChildOutput output) {
  NameOutputFiles();
  const HANDLE input = OpenInherited(L"NUL", GENERIC_READ, OPEN_EXISTING);
  HANDLE out = INVALID_HANDLE_VALUE;
  if (output == ChildOutput::kClosedPipe) {
    // The reading end is closed before the child starts, so that no write of the child, however
    // early, finds a reader.
    SECURITY_ATTRIBUTES inherited{sizeof inherited, nullptr, TRUE};
    HANDLE reading = nullptr;
    if (!CreatePipe(&reading, &out, &inherited, 0)) {
      ADD_FAILURE() << "CreatePipe: " << GetLastError();
    }
    if (reading) CloseHandle(reading);
  } else {
    out = OpenInherited(outFile_.wstring(), GENERIC_WRITE, CREATE_ALWAYS);
  }
  const HANDLE error = OpenInherited(errFile_.wstring(), GENERIC_WRITE, CREATE_ALWAYS);

  STARTUPINFOW startup{};
  startup.cb = sizeof startup;
  startup.dwFlags = STARTF_USESTDHANDLES | STARTF_USESHOWWINDOW;
  startup.hStdInput = input;
  startup.hStdOutput = out;
  startup.hStdError = error;
  startup.wShowWindow = SW_HIDE;
  const std::wstring line = CommandLine(argv);
  std::wstring block = EnvironmentBlock(environment);
  const std::wstring folder = ScratchDirectory().wstring();
  PROCESS_INFORMATION started{};
  // A console of its own, so that console events reach the child alone (and the test program's
  // console, if it has one, stays as it is); suspended until it is in the job.
  // Under Wine on a loaded machine a start once failed with ERROR_INTERNAL_ERROR (1359) and the
  // same start passed when tried again: that error alone is tried again, a few times, before it
  // fails the test. Each try gets the command line afresh, as CreateProcessW may write into it.
  const DWORD failure = StartRetryingTransient(
      [&]() -> unsigned long {
        std::wstring attemptLine = line;
        return CreateProcessW(nullptr, attemptLine.data(), nullptr, nullptr, TRUE,
                              CREATE_NEW_CONSOLE | CREATE_UNICODE_ENVIRONMENT | CREATE_SUSPENDED,
                              block.data(), folder.c_str(), &startup, &started)
                   ? 0
                   : GetLastError();
      },
      ERROR_INTERNAL_ERROR, 5, std::chrono::milliseconds(200));
  const bool created = failure == 0;
  for (const HANDLE handle : {input, out, error}) {
    if (handle != INVALID_HANDLE_VALUE) CloseHandle(handle);
  }
  if (!created) {
    ADD_FAILURE() << "cannot start " << argv[0] << ": error " << failure;
    return;
  }
  // The job ends the child when the test program ends, however it ends.
  job_ = CreateJobObjectW(nullptr, nullptr);
  JOBOBJECT_EXTENDED_LIMIT_INFORMATION limits{};
  limits.BasicLimitInformation.LimitFlags = JOB_OBJECT_LIMIT_KILL_ON_JOB_CLOSE;
  if (job_) {
    SetInformationJobObject(Handle(job_), JobObjectExtendedLimitInformation, &limits,
                            sizeof limits);
    AssignProcessToJobObject(Handle(job_), started.hProcess);
  }
  ResumeThread(started.hThread);
  CloseHandle(started.hThread);
  process_ = started.hProcess;
  id_ = started.dwProcessId;
}

ChildProcess::~ChildProcess() {
  if (process_ && !reaped_) {
    TerminateProcess(Handle(process_), 137);
    WaitForSingleObject(Handle(process_), INFINITE);
  }
  if (process_) CloseHandle(Handle(process_));
  if (job_) CloseHandle(Handle(job_));
}

void ChildProcess::Signal(int signal) {
  if (!process_ || reaped_) return;
  // Sending a console event means attaching to the child's console, which a test program must
  // not do to itself (it would lose its own): a small program of its own does it.
  const ProcessResult sent = Run({KFW_CONSOLE_EVENT_PATH, std::to_string(id_),
                                  std::to_string(signal)},
                                 {}, std::chrono::seconds(20));
  EXPECT_EQ(sent.exitStatus, 0) << "console event " << signal << " not sent: " << sent.err;
}

ProcessResult ChildProcess::Wait(std::chrono::milliseconds timeout) {
  ProcessResult result;
  if (!process_) return result;
  if (WaitForSingleObject(Handle(process_), static_cast<DWORD>(timeout.count())) != WAIT_OBJECT_0) {
    ADD_FAILURE() << "process " << id_ << " still running after " << timeout.count()
                  << " ms; killed";
    TerminateProcess(Handle(process_), 137);
    WaitForSingleObject(Handle(process_), INFINITE);
  }
  reaped_ = true;
  DWORD status = 0;
  if (GetExitCodeProcess(Handle(process_), &status)) result.exitStatus = static_cast<int>(status);
  result.out = TextOf(outFile_);
  result.err = TextOf(errFile_);
  return result;
}

}  // namespace kfw::test
