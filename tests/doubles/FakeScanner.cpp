#include <fcntl.h>
#include <poll.h>
#include <unistd.h>

#include <algorithm>
#include <deque>
#include <set>

#include "platform/CodePage.h"
#include "tests/doubles/FakeState.h"

namespace {

// A scanner "process": its pipe becomes readable when it ends.
struct FakeProcess {
    int exit[2] = {-1, -1};
    uint32_t exitCode = 0;
    std::string output;
    bool outputKept = true;
};

std::deque<FakeProcess*>& HeldScans()
{
    static std::deque<FakeProcess*> held;
    return held;
}

// Every process not yet closed; a watcher killed during a scan never closes
// its own. Never destroyed, so they stay reachable until the process ends.
std::set<FakeProcess*>& Running()
{
    static auto* running = new std::set<FakeProcess*>;
    return *running;
}

// A scanner's handle is the address of its fake process.
FakeProcess* ProcessOf(platform::ProcessHandle handle)
{
    return reinterpret_cast<FakeProcess*>(handle);
}

void End(FakeProcess& process)
{
    const char token = 1;
    [[maybe_unused]] const ssize_t put = ::write(process.exit[1], &token, 1);
}

} // namespace

namespace fake {
std::vector<std::wstring> SplitCommandLineWide(const std::wstring& line);

// What clamdscan prints for the targets of a command line.
std::string PrintedBy(const std::wstring& commandLine, const PlatformData& p)
{
    std::string printed;
    const auto holds = [](const std::wstring& path, const std::vector<std::wstring>& names) {
        for (const std::wstring& name : names) {
            if (path.find(name) != std::wstring::npos)
                return true;
        }
        return false;
    };
    const std::vector<std::wstring> arguments = SplitCommandLineWide(commandLine);
    for (std::size_t i = 1; i < arguments.size(); ++i) {
        const std::wstring& argument = arguments[i];
        std::string path;
        if (argument.rfind(L"--", 0) == 0 || !platform::WideToAnsiExact(argument, path))
            continue;
        if (holds(argument, p.unreadableNames))
            printed += path + ": Can't open file or directory ERROR\n";
        else if (holds(argument, p.infectedNames))
            printed += path + ": Eicar-Test-Signature FOUND\n" + path + ": moved to 'C:\\ProgramData\\Pelorin\\Vault'\n";
        else
            printed += path + ": OK\n";
    }
    return printed + p.extraOutput;
}
} // namespace fake

namespace platform {

ProcessHandle StartScanner(const std::wstring&, const std::wstring& commandLine)
{
    fake::Platform& p = fake::State();
    std::lock_guard<std::mutex> lock(p.mutex);
    if (!p.scannerFound)
        return nullptr;
    auto* process = new FakeProcess;
    if (::pipe2(process->exit, O_NONBLOCK) != 0) {
        delete process;
        return nullptr;
    }
    const bool ping = commandLine.find(L" --ping") != std::wstring::npos;
    std::vector<uint32_t>& codes = ping ? p.pingExitCodes : p.scanExitCodes;
    process->exitCode = codes.front();
    if (codes.size() > 1)
        codes.erase(codes.begin());
    // As clamdscan, a detection outweighs an error in its exit status.
    for (const std::wstring& name : p.unreadableNames) {
        if (!ping && commandLine.find(name) != std::wstring::npos && process->exitCode != 1)
            process->exitCode = 2;
    }
    if (ping) {
        ++p.pings;
    } else {
        p.scanCommandLines.push_back(commandLine);
        process->output = fake::PrintedBy(commandLine, p);
        process->outputKept = p.outputKept;
    }
    ++p.runningScans;
    Running().insert(process);
    if (p.holdScans && !ping)
        HeldScans().push_back(process);
    else
        End(*process);
    p.changed.notify_all();
    return reinterpret_cast<ProcessHandle>(process);
}

bool ScannerOutput(ProcessHandle process, std::size_t limit, std::string& output)
{
    output = ProcessOf(process)->output.substr(0, limit);
    return ProcessOf(process)->outputKept;
}

bool ProcessExited(ProcessHandle process)
{
    pollfd fd{fake::ProcessExitDescriptor(process), POLLIN, 0};
    return ::poll(&fd, 1, 0) > 0;
}

bool ProcessExitCode(ProcessHandle process, uint32_t& code)
{
    code = ProcessOf(process)->exitCode;
    return true;
}

void EndProcess(ProcessHandle handle)
{
    FakeProcess* process = ProcessOf(handle);
    fake::Platform& p = fake::State();
    std::lock_guard<std::mutex> lock(p.mutex);
    auto& held = HeldScans();
    const auto found = std::find(held.begin(), held.end(), process);
    if (found == held.end())
        return; // it had ended on its own meanwhile
    held.erase(found);
    process->exitCode = 0xDEAD;
    End(*process);
    ++p.endedScans;
    p.changed.notify_all();
}

void CloseProcess(ProcessHandle handle)
{
    FakeProcess* process = ProcessOf(handle);
    fake::Platform& p = fake::State();
    // Under the lock that ReleaseScans writes under: the close comes after.
    std::lock_guard<std::mutex> lock(p.mutex);
    ::close(process->exit[0]);
    ::close(process->exit[1]);
    Running().erase(process);
    delete process;
    --p.runningScans;
    p.changed.notify_all();
}

} // namespace platform

namespace fake {

int ProcessExitDescriptor(platform::ProcessHandle process)
{
    return ProcessOf(process)->exit[0];
}

void HoldScans()
{
    Set(&Platform::holdScans, true);
}

void ReleaseScans()
{
    Update([](Platform& p) {
        p.holdScans = false;
        for (FakeProcess* process : HeldScans())
            End(*process);
        HeldScans().clear();
    });
}

void ResetScanner()
{
    // Scans held by a watcher that was killed are never closed.
    std::lock_guard<std::mutex> lock(State().mutex);
    HeldScans().clear();
}

// Splitting, as the scanner would.

// Splits a command line as CommandLineToArgvW does, in UTF-16. The program's name
// runs to the first blank, or between quotes, as it is. In the arguments,
// blanks outside quotes separate; 2n backslashes before a quote are n and
// the quote opens or closes a quoted part, 2n+1 are n and a quote; other
// backslashes are themselves, and "" inside a quoted part is one quote.
std::vector<std::wstring> SplitCommandLineWide(const std::wstring& line)
{
    const auto blank = [&](std::size_t i) { return line[i] == L' ' || line[i] == L'\t'; };
    std::size_t i = 0;
    std::wstring program;
    if (!line.empty() && line[0] == L'"') {
        const std::size_t close = line.find(L'"', 1);
        program = line.substr(1, close == std::wstring::npos ? std::wstring::npos : close - 1);
        i = close == std::wstring::npos ? line.size() : close + 1;
    } else {
        for (; i < line.size() && !blank(i); ++i)
            program += line[i];
    }
    std::vector<std::wstring> arguments{program};
    for (;;) {
        while (i < line.size() && blank(i))
            ++i;
        if (i == line.size())
            return arguments;
        std::wstring argument;
        bool quoted = false;
        while (i < line.size() && (quoted || !blank(i))) {
            if (line[i] == L'\\') {
                std::size_t backslashes = 0;
                for (; i < line.size() && line[i] == L'\\'; ++i)
                    ++backslashes;
                const bool beforeQuote = i < line.size() && line[i] == L'"';
                argument.append(beforeQuote ? backslashes / 2 : backslashes, L'\\');
                if (beforeQuote && backslashes % 2 == 1) {
                    argument += L'"';
                    ++i;
                }
            } else if (line[i] == L'"') {
                if (quoted && i + 1 < line.size() && line[i + 1] == L'"') {
                    argument += L'"';
                    ++i;
                } else {
                    quoted = !quoted;
                }
                ++i;
            } else {
                argument += line[i++];
            }
        }
        arguments.push_back(argument);
    }
}

std::vector<std::string> SplitCommandLine(const std::wstring& line)
{
    std::vector<std::string> arguments;
    for (const std::wstring& argument : SplitCommandLineWide(line))
        arguments.push_back(Utf8Of(argument));
    return arguments;
}

std::vector<std::wstring> ScanCommandLines()
{
    return Read(&Platform::scanCommandLines);
}

std::vector<std::vector<std::string>> ScanArguments()
{
    std::vector<std::vector<std::string>> scans;
    for (const std::wstring& line : ScanCommandLines())
        scans.push_back(SplitCommandLine(line));
    return scans;
}

std::vector<std::vector<std::string>> ScannedPaths()
{
    std::vector<std::vector<std::string>> scans = ScanArguments();
    for (std::vector<std::string>& arguments : scans) {
        const bool option = arguments.size() > 1 && arguments[1].rfind("--move=", 0) == 0;
        arguments.erase(arguments.begin(), arguments.begin() + (option ? 2 : 1));
    }
    return scans;
}

} // namespace fake
