// Processes, the single-instance mutex, end requests, machine facts and the
// RunOnce entry on Windows. The test program doubles as the child: started
// with a "--child-..." argument it does that job before any test runs.
#include "platform/win32/Win32.h"
// After windows.h, which they need.
#include <cpuid.h>
#include <shellapi.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <thread>
#include <vector>

#include "platform/endrequest.h"
#include "platform/instance.h"
#include "platform/process.h"
#include "platform/session.h"
#include "platform/system.h"
#include "platform/unicode.h"

namespace {

namespace process = stubframework::platform::process;
namespace system = stubframework::platform::system;
namespace session = stubframework::platform::session;
using process::ChildProcess;
using stubframework::platform::Utf16ToUtf8;
using stubframework::platform::Utf8ToUtf16;

constexpr DWORD kPatienceMs = 30000;

std::wstring W(const std::string& text) {
    const std::u16string wide = Utf8ToUtf16(text);
    return std::wstring(wide.begin(), wide.end());
}

std::string U(const wchar_t* text) {
    return Utf16ToUtf8(reinterpret_cast<const char16_t*>(text));
}

std::filesystem::path PathOf(const std::string& text) {
    return std::filesystem::path(Utf8ToUtf16(text));
}

// Written beside and renamed into place: a reader never sees half of it.
void WriteText(const std::string& path, const std::string& text) {
    const std::wstring staging = W(path + ".part");
    HANDLE file = CreateFileW(staging.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                              FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) {
        return;
    }
    DWORD written = 0;
    WriteFile(file, text.data(), static_cast<DWORD>(text.size()), &written, nullptr);
    CloseHandle(file);
    MoveFileExW(staging.c_str(), W(path).c_str(), MOVEFILE_REPLACE_EXISTING);
}

std::string ReadText(const std::string& path) {
    HANDLE file = CreateFileW(W(path).c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_DELETE,
                              nullptr, OPEN_EXISTING, 0, nullptr);
    if (file == INVALID_HANDLE_VALUE) {
        return {};
    }
    std::string text(1 << 16, '\0');
    DWORD got = 0;
    ReadFile(file, text.data(), static_cast<DWORD>(text.size()), &got, nullptr);
    CloseHandle(file);
    text.resize(got);
    return text;
}

// The file's text once a child has written it; empty after the patience.
std::string AwaitText(const std::string& path) {
    for (DWORD waited = 0; waited < kPatienceMs; waited += 20) {
        std::string text = ReadText(path);
        if (!text.empty()) {
            return text;
        }
        Sleep(20);
    }
    return {};
}

std::vector<std::string> Lines(const std::string& text) {
    std::vector<std::string> lines;
    std::size_t start = 0;
    while (start < text.size()) {
        const std::size_t end = text.find('\n', start);
        lines.push_back(text.substr(start, end - start));
        start = end == std::string::npos ? text.size() : end + 1;
    }
    return lines;
}

std::string CurrentFolder() {
    wchar_t folder[MAX_PATH * 4] = {};
    GetCurrentDirectoryW(static_cast<DWORD>(std::size(folder)), folder);
    return U(folder);
}

// What a child tells of itself: command line, folder, image path, one
// variable, then the arguments as SetArguments takes them.
[[noreturn]] void Report(const std::string& path) {
    process::SetArguments(__argc, __argv);
    std::string text = U(GetCommandLineW()) + "\n" + CurrentFolder() + "\n" +
                       process::ExecutablePath() + "\n" +
                       process::EnvironmentVariable("STUB_TEST_VALUE") + "\n";
    for (const std::string& argument : process::Arguments()) {
        text += argument + "\n";
    }
    WriteText(path, text);
    process::ExitProcess(0);
}

LRESULT CALLBACK ChildWindowProcedure(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    if (message == WM_DESTROY) {
        PostQuitMessage(42);
        return 0;
    }
    return DefWindowProcW(window, message, wParam, lParam);
}

HWND MakeWindow(const wchar_t* className, WNDPROC procedure) {
    WNDCLASSW windowClass{};
    windowClass.lpfnWndProc = procedure;
    windowClass.hInstance = GetModuleHandleW(nullptr);
    windowClass.lpszClassName = className;
    RegisterClassW(&windowClass);
    return CreateWindowExW(0, className, L"test", WS_OVERLAPPEDWINDOW, 0, 0, 200, 100, nullptr,
                           nullptr, GetModuleHandleW(nullptr), nullptr);
}

// A window that ends the child with 42 when it is closed.
[[noreturn]] void ServeWindow(const std::string& readyEvent) {
    if (MakeWindow(L"StubTestChildWindow", ChildWindowProcedure) == nullptr) {
        process::ExitProcess(4);
    }
    SetEvent(OpenEventW(EVENT_MODIFY_STATE, FALSE, W(readyEvent).c_str()));
    MSG message;
    while (GetMessageW(&message, nullptr, 0, 0) > 0) {
        DispatchMessageW(&message);
    }
    process::ExitProcess(static_cast<std::uint32_t>(message.wParam));
}

[[noreturn]] void AwaitEndRequest(const std::string& readyEvent) {
    stubframework::platform::HandleEndRequests(
        [](int request, stubframework::platform::EndRequestSource source) {
            const bool terminal = source == stubframework::platform::EndRequestSource::kTerminal;
            process::ExitProcess(100u + static_cast<std::uint32_t>(request) + (terminal ? 10 : 0));
        });
    SetEvent(OpenEventW(EVENT_MODIFY_STATE, FALSE, W(readyEvent).c_str()));
    Sleep(kPatienceMs);
    process::ExitProcess(3);
}

void RunChildMode() {
    int count = 0;
    wchar_t** wide = CommandLineToArgvW(GetCommandLineW(), &count);
    std::vector<std::string> arguments;
    for (int i = 0; i < count; ++i) {
        arguments.push_back(U(wide[i]));
    }
    LocalFree(wide);
    if (arguments.size() < 3 || arguments[1].rfind("--child-", 0) != 0) {
        return;
    }
    const std::string& mode = arguments[1];
    if (mode == "--child-exit") {
        process::ExitProcess(static_cast<std::uint32_t>(std::stoul(arguments[2])));
    }
    if (mode == "--child-report") {
        Report(arguments[2]);
    }
    if (mode == "--child-sleep" && arguments.size() == 5) {
        Sleep(static_cast<DWORD>(std::stoul(arguments[2])));
        WriteText(arguments[3], "done");
        process::ExitProcess(static_cast<std::uint32_t>(std::stoul(arguments[4])));
    }
    if (mode == "--child-wait" && arguments.size() == 4) {
        WriteText(arguments[3] + ".pid", std::to_string(GetCurrentProcessId()));
        HANDLE event = OpenEventW(SYNCHRONIZE, FALSE, W(arguments[2]).c_str());
        const bool signalled = WaitForSingleObject(event, kPatienceMs) == WAIT_OBJECT_0;
        WriteText(arguments[3], signalled ? "signalled" : "timeout");
        process::ExitProcess(0);
    }
    if (mode == "--child-mutex") {
        const auto mutex = stubframework::platform::CreateInstanceMutex(arguments[2]);
        process::ExitProcess(!mutex ? 2 : mutex->AlreadyExisted() ? 1 : 0);
    }
    if (mode == "--child-window") {
        ServeWindow(arguments[2]);
    }
    if (mode == "--child-endrequest") {
        AwaitEndRequest(arguments[2]);
    }
    process::ExitProcess(99);
}

[[maybe_unused]] const bool childModeDone = (RunChildMode(), true);

std::string Quoted(const std::string& text) {
    return "\"" + text + "\"";
}

std::string Self() {
    return process::ExecutablePath();
}

std::uint32_t RunToEnd(const std::string& commandLine) {
    ChildProcess child;
    EXPECT_TRUE(child.Start(commandLine)) << commandLine;
    std::uint32_t code = 0;
    EXPECT_TRUE(child.Wait(ChildProcess::kInfiniteWait, code));
    return code;
}

// A fresh folder whose name needs more than the ANSI code page.
class ProcessWin32Test : public ::testing::Test {
protected:
    void SetUp() override {
        wchar_t temp[MAX_PATH + 1] = {};
        GetTempPathW(MAX_PATH + 1, temp);
        folder_ =
            U(temp) + "stub proc \xC3\xBC\xE4\xB8\xAD " + std::to_string(GetCurrentProcessId());
        std::filesystem::create_directories(PathOf(folder_));
    }
    void TearDown() override {
        std::error_code ignored;
        std::filesystem::remove_all(PathOf(folder_), ignored);
    }
    std::string In(const std::string& name) const { return folder_ + "\\" + name; }

    std::string folder_;
};

TEST_F(ProcessWin32Test, ExitCodesArriveWhole) {
    std::uint32_t code = 0;
    ASSERT_TRUE(process::RunProcess("", Quoted(Self()) + " --child-exit 197800", "", true, code));
    EXPECT_EQ(code, 197800u);
    EXPECT_EQ(RunToEnd(Quoted(Self()) + " --child-exit 3010"), 3010u);
    EXPECT_EQ(RunToEnd(Quoted(Self()) + " --child-exit 4294967294"), 4294967294u);
    ChildProcess missing;
    EXPECT_FALSE(missing.Start(Quoted(In("no such program.exe"))));
    EXPECT_FALSE(process::RunProcess("", Quoted(In("no such program.exe")), "", true, code));
    EXPECT_FALSE(process::RunProcess("", "", "", true, code));
}

TEST_F(ProcessWin32Test, CommandLineArrivesAsWritten) {
    const std::string report = In("report.txt");
    // Quotes, blanks, a trailing backslash and characters no ANSI code page holds.
    const std::string line =
        Quoted(Self()) + " --child-report " + Quoted(report) +
        " \"two words\" \"say \\\"hi\\\"\" \"C:\\dir\\\\\" \xE4\xB8\xAD\xE6\x96\x87";
    std::uint32_t code = 1;
    ASSERT_TRUE(process::RunProcess("", line, "", true, code));
    EXPECT_EQ(code, 0u);
    const std::vector<std::string> lines = Lines(ReadText(report));
    ASSERT_EQ(lines.size(), 11u);
    EXPECT_EQ(lines[0], line);
    const std::vector<std::string> expected{
        Self(),      "--child-report",          report, "two words", "say \"hi\"",
        "C:\\dir\\", "\xE4\xB8\xAD\xE6\x96\x87"};
    EXPECT_EQ(std::vector<std::string>(lines.begin() + 4, lines.end()), expected);
}

TEST_F(ProcessWin32Test, ApplicationAndFolderAreTakenAsGiven) {
    const std::string report = In("report.txt");
    // The working copy runs under the launcher's command line: the
    // application decides what runs, the command line only what it reads.
    const std::string line = "launcher.exe --child-report " + Quoted(report);
    std::uint32_t code = 1;
    ASSERT_TRUE(process::RunProcess(Self(), line, folder_, true, code));
    EXPECT_EQ(code, 0u);
    const std::vector<std::string> lines = Lines(ReadText(report));
    ASSERT_GE(lines.size(), 3u);
    EXPECT_EQ(lines[0], line);
    EXPECT_EQ(lines[1], folder_);
    EXPECT_EQ(lines[2], Self());
    EXPECT_FALSE(process::RunProcess(Self(), line, In("missing"), true, code));
}

TEST_F(ProcessWin32Test, WaitsOnlyWhenAsked) {
    const std::string done = In("done.txt");
    std::uint32_t code = 0;
    ASSERT_TRUE(process::RunProcess(
        "", Quoted(Self()) + " --child-sleep 300 " + Quoted(done) + " 7", "", true, code));
    EXPECT_EQ(code, 7u);
    EXPECT_EQ(ReadText(done), "done") << "returned before the child ended";

    // Not waiting: the child hears from us only after RunProcess returned.
    const std::string eventName = "StubTestGo-" + std::to_string(GetCurrentProcessId());
    HANDLE go = CreateEventW(nullptr, TRUE, FALSE, W(eventName).c_str());
    const std::string heard = In("heard.txt");
    code = 5;
    ASSERT_TRUE(process::RunProcess(
        "", Quoted(Self()) + " --child-wait " + eventName + " " + Quoted(heard), "", false, code));
    EXPECT_EQ(code, 0u);
    SetEvent(go);
    EXPECT_EQ(AwaitText(heard), "signalled");
    CloseHandle(go);
}

TEST_F(ProcessWin32Test, ChildProcessWaitsInSlices) {
    ChildProcess slow;
    ASSERT_TRUE(slow.Start(Quoted(Self()) + " --child-sleep 1500 " + Quoted(In("x")) + " 9"));
    std::uint32_t code = 0;
    EXPECT_FALSE(slow.Wait(50, code));
    EXPECT_TRUE(slow.Wait(ChildProcess::kInfiniteWait, code));
    EXPECT_EQ(code, 9u);
    EXPECT_FALSE(slow.Wait(0, code)) << "a child is waited for once";
}

TEST_F(ProcessWin32Test, MarksAndWaitsForOtherProcesses) {
    const std::string eventName = "StubTestMark-" + std::to_string(GetCurrentProcessId());
    HANDLE go = CreateEventW(nullptr, TRUE, FALSE, W(eventName).c_str());
    const std::string heard = In("heard.txt");
    ChildProcess child;
    ASSERT_TRUE(child.Start(Quoted(Self()) + " --child-wait " + eventName + " " + Quoted(heard)));
    const std::string pidText = AwaitText(heard + ".pid");
    ASSERT_FALSE(pidText.empty());
    const auto pid = static_cast<std::uint32_t>(std::stoul(pidText));

    const std::string mark = process::ProcessMark(pid);
    EXPECT_EQ(mark.rfind(pidText + ":", 0), 0u) << mark;
    EXPECT_EQ(process::ProcessMark(pid), mark);
    EXPECT_NE(process::ProcessMark(process::CurrentProcessId()), mark);

    SetEvent(go);
    EXPECT_TRUE(process::WaitForProcessExit(pid));
    // Our handle keeps the ended process's object alive; it runs no more.
    EXPECT_EQ(process::ProcessMark(pid), "");
    std::uint32_t code = 1;
    EXPECT_TRUE(child.Wait(ChildProcess::kInfiniteWait, code));
    EXPECT_EQ(code, 0u);
    EXPECT_FALSE(process::WaitForProcessExit(0xFFFFFFF0u));
    EXPECT_EQ(process::ProcessMark(0xFFFFFFF0u), "");
    CloseHandle(go);
}

TEST_F(ProcessWin32Test, ImagePathAndProgramList) {
    // A copy in a folder whose name the ANSI code page cannot hold.
    const std::string copy = In("copy.exe");
    ASSERT_TRUE(CopyFileW(W(Self()).c_str(), W(copy).c_str(), FALSE));
    const std::string report = In("report.txt");
    EXPECT_EQ(RunToEnd(Quoted(copy) + " --child-report " + Quoted(report)), 0u);
    const std::vector<std::string> lines = Lines(ReadText(report));
    ASSERT_GE(lines.size(), 3u);
    EXPECT_EQ(lines[2], copy);

    std::string name = Self().substr(Self().find_last_of('\\') + 1);
    for (char& c : name) {
        c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    }
    EXPECT_TRUE(process::IsProgramRunning(name));
    EXPECT_FALSE(process::IsProgramRunning("no-such-program-here.exe"));
    EXPECT_FALSE(process::IsProgramRunning(""));
}

TEST_F(ProcessWin32Test, EnvironmentReachesLaterChildren) {
    const std::string value = "v\xC3\xA4lue \xE4\xB8\xAD " + std::string(600, 'x');
    process::SetEnvironmentVariable("STUB_TEST_VALUE", value);
    EXPECT_EQ(process::EnvironmentVariable("STUB_TEST_VALUE"), value);
    const std::string report = In("report.txt");
    EXPECT_EQ(RunToEnd(Quoted(Self()) + " --child-report " + Quoted(report)), 0u);
    std::vector<std::string> lines = Lines(ReadText(report));
    ASSERT_GE(lines.size(), 4u);
    EXPECT_EQ(lines[3], value);

    process::SetEnvironmentVariable("STUB_TEST_VALUE", "");
    EXPECT_EQ(process::EnvironmentVariable("STUB_TEST_VALUE"), "");
    EXPECT_EQ(GetEnvironmentVariableW(L"STUB_TEST_VALUE", nullptr, 0), 0u) << "removed, not empty";
    EXPECT_EQ(RunToEnd(Quoted(Self()) + " --child-report " + Quoted(report)), 0u);
    lines = Lines(ReadText(report));
    ASSERT_GE(lines.size(), 4u);
    EXPECT_EQ(lines[3], "");
}

TEST_F(ProcessWin32Test, HiddenLaunchRunsShellCommandsAndPrograms) {
    const std::string echoed = In("echoed.txt");
    ASSERT_TRUE(process::RunShellCommand("echo hidden> " + Quoted(echoed)));
    EXPECT_EQ(AwaitText(echoed).rfind("hidden", 0), 0u);

    const std::string report = In("report.txt");
    const std::vector<std::string> arguments{"--child-report", report, "two words",
                                             "INSTALLDIR=C:\\Program Files\\x"};
    ASSERT_TRUE(process::LaunchHidden(Self(), arguments));
    const std::vector<std::string> lines = Lines(AwaitText(report));
    ASSERT_EQ(lines.size(), 9u);
    EXPECT_EQ(std::vector<std::string>(lines.begin() + 5, lines.end()), arguments);
    EXPECT_FALSE(process::LaunchHidden(In("no such program.exe"), {}));
}

TEST_F(ProcessWin32Test, ShellLaunchesPassArgumentsWhole) {
    const std::vector<std::string> arguments{"--child-report", In("desktop.txt"), "two words"};
    if (!process::LaunchAsDesktopUser(Self(), arguments)) {
        GTEST_SKIP() << "no desktop shell to launch through, and this process is elevated";
    }
    std::vector<std::string> lines = Lines(AwaitText(In("desktop.txt")));
    ASSERT_EQ(lines.size(), 8u);
    EXPECT_EQ(std::vector<std::string>(lines.begin() + 5, lines.end()), arguments);

    const std::vector<std::string> elevated{"--child-report", In("elevated.txt"), "two words"};
    ASSERT_TRUE(process::LaunchElevated(Self(), elevated));
    lines = Lines(AwaitText(In("elevated.txt")));
    ASSERT_EQ(lines.size(), 8u);
    EXPECT_EQ(lines[7], "two words");
}

TEST_F(ProcessWin32Test, PreloadTakesTheSystemCopy) {
    if (GetModuleHandleW(L"msimg32.dll") != nullptr) {
        GTEST_SKIP() << "already loaded";
    }
    process::PreloadSystemLibrary("msimg32.dll");
    const HMODULE loaded = GetModuleHandleW(L"msimg32.dll");
    ASSERT_NE(loaded, nullptr);
    wchar_t path[MAX_PATH] = {};
    GetModuleFileNameW(loaded, path, MAX_PATH);
    EXPECT_EQ(lstrcmpiW(W(system::SystemFolder() + "\\msimg32.dll").c_str(), path), 0);
}

bool CanMakeWindows() {
    HWND window = CreateWindowExW(0, L"STATIC", L"probe", WS_OVERLAPPEDWINDOW, 0, 0, 10, 10,
                                  nullptr, nullptr, nullptr, nullptr);
    if (window == nullptr) {
        return false;
    }
    DestroyWindow(window);
    return true;
}

TEST_F(ProcessWin32Test, EndRequestsReachAWaitedChildAsAClose) {
    if (!CanMakeWindows()) {
        GTEST_SKIP() << "no display for windows";
    }
    const std::string eventName = "StubTestWindow-" + std::to_string(GetCurrentProcessId());
    HANDLE ready = CreateEventW(nullptr, TRUE, FALSE, W(eventName).c_str());
    std::uint32_t code = 0;
    std::thread waiter([&] {
        process::RunProcess("", Quoted(Self()) + " --child-window " + eventName, "", true, code);
    });
    const bool started = WaitForSingleObject(ready, kPatienceMs) == WAIT_OBJECT_0;
    process::ForwardToWaitedChildren(15);
    waiter.join();
    EXPECT_TRUE(started);
    EXPECT_EQ(code, 42u);
    CloseHandle(ready);
}

TEST_F(ProcessWin32Test, ConsoleBreakBecomesAnEndRequest) {
    const std::string eventName = "StubTestBreak-" + std::to_string(GetCurrentProcessId());
    HANDLE ready = CreateEventW(nullptr, TRUE, FALSE, W(eventName).c_str());
    std::wstring line = W(Quoted(Self()) + " --child-endrequest " + eventName);
    STARTUPINFOW startup{};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION child{};
    // A group of its own, so the break reaches the child alone.
    ASSERT_TRUE(CreateProcessW(nullptr, line.data(), nullptr, nullptr, FALSE,
                               CREATE_NEW_PROCESS_GROUP, nullptr, nullptr, &startup, &child));
    EXPECT_EQ(WaitForSingleObject(ready, kPatienceMs), WAIT_OBJECT_0);
    CloseHandle(ready);
    const bool sent = GenerateConsoleCtrlEvent(CTRL_BREAK_EVENT, child.dwProcessId);
    const DWORD error = GetLastError();
    if (!sent) {
        TerminateProcess(child.hProcess, 1);
    }
    WaitForSingleObject(child.hProcess, kPatienceMs);
    DWORD code = 0;
    GetExitCodeProcess(child.hProcess, &code);
    CloseHandle(child.hProcess);
    CloseHandle(child.hThread);
    if (!sent) {
        GTEST_SKIP() << "this console delivers no control events (error " << error << ")";
    }
    EXPECT_EQ(code, 100u + CTRL_BREAK_EVENT + 10u);
}

TEST(InstanceWin32Test, MutexRefusesASecondHolder) {
    const std::string name = "StubTestInstance-" + std::to_string(GetCurrentProcessId());
    const std::string other = Quoted(Self()) + " --child-mutex " + name;
    auto first = stubframework::platform::CreateInstanceMutex(name);
    ASSERT_TRUE(first);
    EXPECT_FALSE(first->AlreadyExisted());
    EXPECT_EQ(RunToEnd(other), 1u);
    auto second = stubframework::platform::CreateInstanceMutex(name);
    ASSERT_TRUE(second);
    EXPECT_TRUE(second->AlreadyExisted());
    // Gone with the last handle: the next one is first again.
    first.reset();
    second.reset();
    EXPECT_EQ(RunToEnd(other), 0u);

    // Events and mutexes share one namespace: a name taken by another kind
    // of object gives no mutex at all.
    const std::string taken = name + "-event";
    HANDLE event = CreateEventW(nullptr, TRUE, FALSE, W(taken).c_str());
    EXPECT_FALSE(stubframework::platform::CreateInstanceMutex(taken));
    CloseHandle(event);
}

LRESULT CALLBACK PlainWindowProcedure(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    return DefWindowProcW(window, message, wParam, lParam);
}

TEST(InstanceWin32Test, ActivationRestoresTheHoldersWindow) {
    const std::wstring className = L"StubTestActivate" + std::to_wstring(GetCurrentProcessId());
    HWND window = MakeWindow(className.c_str(), PlainWindowProcedure);
    if (window == nullptr) {
        GTEST_SKIP() << "no display for windows";
    }
    ShowWindow(window, SW_MINIMIZE);
    ASSERT_TRUE(IsIconic(window));
    EXPECT_TRUE(stubframework::platform::ActivateExistingWindow("any", U(className.c_str())));
    EXPECT_FALSE(IsIconic(window));
    EXPECT_FALSE(stubframework::platform::ActivateExistingWindow("any", "StubTestNoSuchClass"));
    DestroyWindow(window);
}

TEST(SystemWin32Test, MachineFactsComeFromWindows) {
    EXPECT_EQ(system::NativeProcessorArchitecture(), system::kProcessorArchitectureAmd64);
    const system::MachineFacts facts = system::ReadMachineFacts();
    EXPECT_EQ(facts.operatingSystem, "Windows");
    EXPECT_TRUE(facts.is64Bit);
    EXPECT_EQ(facts.processorCount, std::thread::hardware_concurrency());
    EXPECT_GT(facts.memoryBytes, 0u);
    // "build.revision"
    EXPECT_EQ(facts.osVersion.find_first_not_of("0123456789."), std::string::npos)
        << facts.osVersion;
    EXPECT_EQ(std::count(facts.osVersion.begin(), facts.osVersion.end(), '.'), 1);
    unsigned eax = 0;
    unsigned vendor[3] = {};
    __get_cpuid(0, &eax, &vendor[0], &vendor[2], &vendor[1]);
    const std::string maker(reinterpret_cast<const char*>(vendor), sizeof vendor);
    EXPECT_EQ(facts.processorVendor, maker == "GenuineIntel"   ? "Intel"
                                     : maker == "AuthenticAMD" ? "AMD"
                                                               : "Unknown");
}

TEST(SystemWin32Test, VersionsAreWindowsOnes) {
    const auto version = system::OsVersion();
    ASSERT_TRUE(version.has_value());
    EXPECT_GE(version->major, 5u);
    EXPECT_EQ(version->productType, 1u);
    EXPECT_EQ(system::VersionText(),
              std::to_string(version->major) + "." + std::to_string(version->minor));
    // RtlGetVersion is not held to the manifest: never below what GetVersionEx says.
    const std::string full = system::FullVersionText();
    ASSERT_EQ(std::count(full.begin(), full.end(), '.'), 2) << full;
    EXPECT_GE(std::stoul(full), version->major);
}

TEST(SystemWin32Test, FoldersAreWholeWindowsPaths) {
    for (const std::string& folder :
         {system::DesktopFolder(), system::CommonAppDataFolder(), system::SystemFolder()}) {
        ASSERT_GE(folder.size(), 3u);
        EXPECT_EQ(folder.substr(1, 2), ":\\") << folder;
        EXPECT_NE(folder.back(), '\\') << folder;
    }
    const DWORD attributes =
        GetFileAttributesW(W(system::SystemFolder() + "\\kernel32.dll").c_str());
    EXPECT_NE(attributes, INVALID_FILE_ATTRIBUTES);
}

TEST(SystemWin32Test, BrowserOfTheUserComesFirst) {
    HKEY key = nullptr;
    ASSERT_EQ(RegCreateKeyExW(HKEY_CURRENT_USER, L"Software\\Clients\\StartMenuInternet", 0,
                              nullptr, 0, KEY_SET_VALUE | KEY_QUERY_VALUE, nullptr, &key, nullptr),
              ERROR_SUCCESS);
    const std::wstring name = L"StubTestBrowser";
    RegSetValueExW(key, nullptr, 0, REG_SZ, reinterpret_cast<const BYTE*>(name.c_str()),
                   static_cast<DWORD>((name.size() + 1) * sizeof(wchar_t)));
    EXPECT_EQ(system::DefaultBrowserName(), "StubTestBrowser");
    RegDeleteValueW(key, nullptr);
    RegCloseKey(key);
    EXPECT_NE(system::DefaultBrowserName(), "StubTestBrowser");
}

TEST(SessionWin32Test, RunOnceEntryIsTheMachinesValue) {
    const std::string name = "StubTest_" + std::to_string(GetCurrentProcessId());
    const std::string command =
        "\"C:\\Pr\xC3\xBC"
        "fung\\stub.exe\" RESUME=INSTALLING";
    ASSERT_TRUE(session::SetRunOnce(name, command));
    wchar_t stored[512] = {};
    DWORD size = sizeof stored;
    ASSERT_EQ(
        RegGetValueW(HKEY_LOCAL_MACHINE, L"SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\RunOnce",
                     W(name).c_str(), RRF_RT_REG_SZ, nullptr, stored, &size),
        ERROR_SUCCESS);
    EXPECT_EQ(U(stored), command);
    const std::string path = session::RunOnceEntryPath(name);
    EXPECT_EQ(path,
              "HKEY_LOCAL_MACHINE\\SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\RunOnce\\" + name);
    session::RemoveRunOnce(name);
    size = sizeof stored;
    EXPECT_EQ(
        RegGetValueW(HKEY_LOCAL_MACHINE, L"SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\RunOnce",
                     W(name).c_str(), RRF_RT_REG_SZ, nullptr, stored, &size),
        ERROR_FILE_NOT_FOUND);
    session::RemoveRunOnce(name);
}

TEST_F(ProcessWin32Test, RebootCommandRunsThroughTheShell) {
    const std::string marker = In("rebooted.txt");
    process::SetEnvironmentVariable("STUB_REBOOT_COMMAND", "echo rebooted> " + Quoted(marker));
    EXPECT_TRUE(session::Reboot());
    EXPECT_EQ(ReadText(marker).rfind("rebooted", 0), 0u);
    process::SetEnvironmentVariable("STUB_REBOOT_COMMAND", "exit 3");
    EXPECT_FALSE(session::Reboot());
    process::SetEnvironmentVariable("STUB_REBOOT_COMMAND", "");
}

}  // namespace
