// The benchmark runner (64-bit). Runs every contender of every measurement in
// rounds, round-robin (each round runs each contender once, the starting one
// moving by one every round), times each run from CreateProcess to the end of
// the child with QueryPerformanceCounter, and prints one table of medians, each
// as a ratio against its floor. Children's standard streams go to files.
//
//     bench_runner.exe --work DIR --taskroll EXE --webroster EXE --floor-browsers EXE
//                      [--runs N] [--files N] [--log-files N] [--procs N] [--browsers N]
//                      [--java-runs N] [--java-dirs N] [--table FILE]
//     bench_runner.exe --cleanup        removes the registered test browsers and the crafted
//                                       Java directories, nothing else
//
// The floors, the empty program and the waiter are found beside the runner.
// Exit code 0, or 2 when a contender failed or a check of the outputs did not
// hold (the table is printed all the same), 1 when the benchmark could not run.
#include "childkit.h"

#include <windows.h>
#include <psapi.h>

#include <algorithm>
#include <cstdint>
#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <cwchar>
#include <functional>
#include <memory>
#include <string>
#include <utility>
#include <vector>

namespace {

const wchar_t* const LIST_KEY = L"SOFTWARE\\Clients\\StartMenuInternet";
const wchar_t* const CLIENTS_KEY = L"SOFTWARE\\Clients";
const wchar_t* const BROWSER_PREFIX = L"TaskToolsBench";

struct Options {
    std::wstring work, taskroll, webroster, floorBrowsers, table;
    int runs = 7;
    int files = 2000;
    int logFiles = 200;
    int procs = 100;
    int browsers = 1000;
    int javaRuns = 3;
    int javaDirs = 256;
    bool cleanup = false;
    // The machine's kernel runs no 32-bit code (its x86 programs run under an
    // emulator, and system calls cost more): the version reader's goals are
    // those of that kind of machine.
    bool emulated = false;
};

// The runner's messages and its checks of the outputs, in UTF-8.
using childkit::NarrowUtf8;

std::string Format(const char* format, ...)
{
    char buffer[1024];
    va_list arguments;
    va_start(arguments, format);
    std::vsnprintf(buffer, sizeof buffer, format, arguments);
    va_end(arguments);
    return buffer;
}

void Progress(const char* format, ...)
{
    va_list arguments;
    va_start(arguments, format);
    std::vfprintf(stdout, format, arguments);
    va_end(arguments);
    std::fflush(stdout);
}

[[noreturn]] void Fail(const std::string& message)
{
    std::fprintf(stderr, "bench_runner: %s (error %lu)\n", message.c_str(), GetLastError());
    std::exit(1);
}

std::wstring Directory(const std::wstring& path)
{
    return path.substr(0, path.find_last_of(L"\\/"));
}

std::wstring FileName(const std::wstring& path)
{
    std::size_t slash = path.find_last_of(L"\\/");
    return slash == std::wstring::npos ? path : path.substr(slash + 1);
}

std::wstring RunnerDirectory()
{
    wchar_t path[MAX_PATH];
    GetModuleFileNameW(nullptr, path, MAX_PATH);
    return Directory(path);
}

// What a program wrote; empty when it wrote nothing, which a check then shows.
using childkit::ReadFileBytes;

std::size_t CountLines(const std::string& bytes, const std::string& end)
{
    std::size_t count = 0;
    for (std::size_t at = bytes.find(end); at != std::string::npos; at = bytes.find(end, at + end.size()))
        ++count;
    return count;
}

// Removes the test browsers (every subkey of the list key of HKCU whose name
// starts with BROWSER_PREFIX), then the list key and SOFTWARE\Clients when they
// are left empty (the bench prefix has no other browser of the user).
void RemoveBrowsers()
{
    childkit::RemoveKeysNamed(HKEY_CURRENT_USER, LIST_KEY, KEY_WOW64_64KEY, BROWSER_PREFIX);
    for (const wchar_t* path : {LIST_KEY, CLIENTS_KEY})
        childkit::RemoveKeyIfEmpty(HKEY_CURRENT_USER, path, KEY_WOW64_64KEY, true);
}

// Registers `count` browsers for the current user, each with a display name and
// an open command; every other command is unquoted, so both forms are read.
struct RegisteredBrowsers {
    explicit RegisteredBrowsers(int count)
    {
        RemoveBrowsers();
        for (int i = 1; i <= count; ++i) {
            wchar_t name[64];
            std::swprintf(name, 64, L"%ls%04d", BROWSER_PREFIX, i);
            std::wstring key = std::wstring(LIST_KEY) + L"\\" + name;
            std::wstring exe = L"C:\\Program Files\\Bench Browser " + std::to_wstring(i) + L"\\browser.exe";
            if (childkit::PutText(HKEY_CURRENT_USER, key, KEY_WOW64_64KEY, L"Bench Browser " + std::to_wstring(i)) !=
                    ERROR_SUCCESS ||
                childkit::PutText(HKEY_CURRENT_USER, key + L"\\shell\\open\\command", KEY_WOW64_64KEY,
                                  i % 2 ? L"\"" + exe + L"\"" : exe) != ERROR_SUCCESS)
                Fail("cannot create a browser key");
        }
    }
    ~RegisteredBrowsers() { RemoveBrowsers(); }
};


// `count` fixture processes (the tests' waiter), alive until the runner closes
// their standard input (or ends). All start first, then the constructor waits
// until each has said it runs.
struct Waiters {
    std::vector<childkit::Fixture> fixtures;

    Waiters(const std::wstring& exe, int count) : fixtures(static_cast<std::size_t>(count))
    {
        for (childkit::Fixture& fixture : fixtures) {
            if (!childkit::StartFixture(exe, L"", &fixture))
                Fail("cannot start the waiter " + NarrowUtf8(exe));
        }
        for (childkit::Fixture& fixture : fixtures) {
            if (!childkit::AwaitFixtureReady(&fixture))
                Fail("a waiter did not get ready");
        }
    }

    ~Waiters()
    {
        for (childkit::Fixture& fixture : fixtures)
            childkit::EndFixture(&fixture);
    }
};


void MakeDirectory(const std::wstring& path)
{
    if (!CreateDirectoryW(path.c_str(), nullptr) && GetLastError() != ERROR_ALREADY_EXISTS)
        Fail("cannot create " + NarrowUtf8(path));
}

// The directories in which TaskRoll looks for the performance-data file of a
// process of this user, as far as Wine keeps them apart: the registered TMP and
// TEMP and the profile's AppData\Local\Temp, each once (TaskRoll's own TEMP,
// which comes first, may be one of them).
std::vector<std::wstring> OwnerPlaces()
{
    std::vector<std::wstring> places;
    auto add = [&places](const std::wstring& directory) {
        DWORD attributes = GetFileAttributesW(directory.c_str());
        if (directory.empty() || attributes == INVALID_FILE_ATTRIBUTES || !(attributes & FILE_ATTRIBUTE_DIRECTORY))
            return;
        for (const std::wstring& known : places) {
            if (_wcsicmp(known.c_str(), directory.c_str()) == 0)
                return;
        }
        places.push_back(directory);
    };
    // A REG_EXPAND_SZ comes expanded with the runner's environment, the user's.
    for (const wchar_t* name : {L"TMP", L"TEMP"}) {
        wchar_t value[MAX_PATH] = {};
        DWORD size = sizeof value;
        if (RegGetValueW(HKEY_CURRENT_USER, L"Environment", name, RRF_RT_REG_SZ, nullptr, value, &size) ==
            ERROR_SUCCESS)
            add(value);
    }
    wchar_t profile[MAX_PATH] = {};
    if (GetEnvironmentVariableW(L"USERPROFILE", profile, MAX_PATH) > 0)
        add(std::wstring(profile) + L"\\AppData\\Local\\Temp");
    return places;
}

const wchar_t* const CRAFTED_PREFIX = L"hsperfdata_taskroll-bench-";

// Removes the crafted directories of every place, with whatever they hold.
void RemoveCraftedJava()
{
    for (const std::wstring& place : OwnerPlaces()) {
        WIN32_FIND_DATAW found;
        HANDLE search = FindFirstFileW((place + L"\\" + CRAFTED_PREFIX + L"*").c_str(), &found);
        if (search == INVALID_HANDLE_VALUE)
            continue;
        do {
            childkit::RemoveTree(place + L"\\" + found.cFileName);
        } while (FindNextFileW(search, &found));
        FindClose(search);
    }
}

// A file of `size` bytes that takes no disk space and holds no key.
void WriteSparseFile(const std::wstring& path, LONGLONG size)
{
    HANDLE file = CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE)
        Fail("cannot create " + NarrowUtf8(path));
    LARGE_INTEGER end;
    end.QuadPart = size;
    if (!SetFilePointerEx(file, end, nullptr, FILE_BEGIN) || !SetEndOfFile(file))
        Fail("cannot size " + NarrowUtf8(path));
    CloseHandle(file);
}

// The worst Java process that one user can make for their own process: the
// waiter running as javaw.exe, `dirs` hsperfdata_* directories in each place
// of its owner, each holding a sparse key-less 4 MiB file (the largest that
// TaskRoll reads) named by its id, and one more in TaskRoll's own TEMP. The
// directories last for the benchmark; the process and its files for one run.
struct CraftedJava {
    std::wstring javaw;
    std::vector<std::wstring> directories;
    std::wstring ownDirectory;  // TaskRoll's TEMP\hsperfdata_<user>
    bool madeOwnDirectory = false;
    std::vector<std::wstring> files;
    std::size_t places = 0;
    std::vector<std::wstring> madeParents;  // the profile's Temp and its parents, made here
    std::unique_ptr<Waiters> process;

    CraftedJava(const std::wstring& exe, int dirs) : javaw(exe)
    {
        RemoveCraftedJava();
        // A new Wine prefix has no AppData\Local\Temp in the profile: made
        // here, it is one more place that TaskRoll searches.
        wchar_t profile[MAX_PATH] = {};
        if (GetEnvironmentVariableW(L"USERPROFILE", profile, MAX_PATH) > 0) {
            std::wstring path = profile;
            for (const wchar_t* part : {L"\\AppData", L"\\Local", L"\\Temp"}) {
                path += part;
                if (CreateDirectoryW(path.c_str(), nullptr))
                    madeParents.insert(madeParents.begin(), path);
            }
        }
        for (const std::wstring& place : OwnerPlaces()) {
            ++places;
            for (int i = 0; i < dirs; ++i) {
                directories.push_back(place + L"\\" + CRAFTED_PREFIX + std::to_wstring(1000 + i));
                MakeDirectory(directories.back());
            }
        }
        wchar_t temp[MAX_PATH] = {}, user[256] = {};
        DWORD userSize = 256;
        if (GetEnvironmentVariableW(L"TEMP", temp, MAX_PATH) == 0 || !GetUserNameW(user, &userSize))
            Fail("no TEMP or no user name");
        ownDirectory = std::wstring(temp) + L"\\hsperfdata_" + user;
        madeOwnDirectory = CreateDirectoryW(ownDirectory.c_str(), nullptr) != 0;
    }
    ~CraftedJava()
    {
        Stop();
        RemoveCraftedJava();
        if (madeOwnDirectory)
            RemoveDirectoryW(ownDirectory.c_str());
        for (const std::wstring& parent : madeParents)
            RemoveDirectoryW(parent.c_str());
    }
    void Start()
    {
        process.reset(new Waiters(javaw, 1));
        std::wstring id = std::to_wstring(process->fixtures[0].id);
        files.push_back(ownDirectory + L"\\" + id);
        for (const std::wstring& directory : directories)
            files.push_back(directory + L"\\" + id);
        for (const std::wstring& file : files)
            WriteSparseFile(file, 4LL << 20);
    }
    void Stop()
    {
        for (const std::wstring& file : files)
            DeleteFileW(file.c_str());
        files.clear();
        process.reset();
    }
};


struct Contender {
    std::string label;
    std::wstring exe;          // in its own directory, which is the working directory
    std::wstring arguments;    // after the program name
    std::function<void()> before = [] {};  // untimed, before every run
    std::function<void()> after = [] {};   // untimed, after every run
    bool sampleMemory = false;             // follow the peak working set while it runs
    std::vector<double> milliseconds;
    std::vector<double> peakMiB;
    std::vector<int> rounds;  // the round of each recorded run
    int failures = 0;

    Contender() = default;
    Contender(std::string label_, std::wstring exe_, std::wstring arguments_)
        : label(std::move(label_)), exe(std::move(exe_)), arguments(std::move(arguments_))
    {
    }

    std::wstring Dir() const { return Directory(exe); }
    std::wstring Stdout() const { return Dir() + L"\\stdout.bin"; }
};

double Median(std::vector<double> values)
{
    if (values.empty())
        return 0;
    std::sort(values.begin(), values.end());
    std::size_t n = values.size();
    return n % 2 ? values[n / 2] : (values[n / 2 - 1] + values[n / 2]) / 2;
}

void RunOnce(Contender& contender, int round)
{
    contender.before();
    std::wstring dir = contender.Dir();
    handles::ProcessHandle process;

    LARGE_INTEGER frequency, start, end;
    QueryPerformanceFrequency(&frequency);
    QueryPerformanceCounter(&start);
    bool started = childkit::StartWithFiles(contender.exe, contender.arguments, dir.c_str(), contender.Stdout(),
                                            dir + L"\\stderr.bin", &process);
    // The peak working set is read after the end (exact on Windows); Wine
    // answers that only while the process lives, so for the contenders whose
    // memory is reported it is also sampled every 5 ms while they run.
    SIZE_T peakBytes = 0;
    PROCESS_MEMORY_COUNTERS memory = {};
    memory.cb = sizeof memory;
    auto sample = [&] {
        if (GetProcessMemoryInfo(process.Get(), &memory, sizeof memory))
            peakBytes = std::max(peakBytes, memory.PeakWorkingSetSize);
    };
    DWORD exitCode = 1;
    bool ended = started && childkit::AwaitChild(process.Get(), 300000, &exitCode,
                                                 contender.sampleMemory ? sample : std::function<void()>());
    QueryPerformanceCounter(&end);
    contender.after();
    if (!started)
        Fail("cannot start " + NarrowUtf8(contender.exe));

    if (GetProcessMemoryInfo(process.Get(), &memory, sizeof memory) && memory.PeakWorkingSetSize > 0)
        peakBytes = memory.PeakWorkingSetSize;
    double peak = static_cast<double>(peakBytes) / (1024.0 * 1024.0);
    process.Reset();

    if (!ended || exitCode != 0) {
        ++contender.failures;
        Progress("\n  %s: %s (exit code %lu)\n", contender.label.c_str(), !ended ? "timed out" : "failed",
                 exitCode);
        return;
    }
    if (round >= 0) {
        contender.rounds.push_back(round);
        contender.milliseconds.push_back(static_cast<double>(end.QuadPart - start.QuadPart) * 1000.0 /
                                         static_cast<double>(frequency.QuadPart));
        contender.peakMiB.push_back(peak);
    }
}


// Copies `exe` into work\<name>\ and returns the copy's path.
std::wstring Place(const std::wstring& work, const std::wstring& name, const std::wstring& exe)
{
    std::wstring dir = work + L"\\" + name;
    MakeDirectory(dir);
    std::wstring copy = dir + L"\\" + FileName(exe);
    if (!CopyFileW(exe.c_str(), copy.c_str(), FALSE))
        Fail("cannot copy " + NarrowUtf8(exe));
    return copy;
}

// Wine's system files (system32 and syswow64 of the prefix) that have a version resource.
std::vector<std::string> VersionedSystemFiles()
{
    std::vector<std::string> files;
    for (const char* dir : {"C:\\windows\\system32\\", "C:\\windows\\syswow64\\"}) {
        for (const char* pattern : {"*.dll", "*.exe"}) {
            WIN32_FIND_DATAA found;
            HANDLE search = FindFirstFileA((std::string(dir) + pattern).c_str(), &found);
            if (search == INVALID_HANDLE_VALUE)
                continue;
            do {
                if (found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)
                    continue;
                std::string file = std::string(dir) + found.cFileName;
                DWORD handle = 0;
                if (GetFileVersionInfoSizeA(file.c_str(), &handle) > 0)
                    files.push_back(file);
            } while (FindNextFileA(search, &found));
            FindClose(search);
        }
    }
    if (files.empty())
        Fail("no system file with a version resource found");
    return files;
}

std::uint32_t Get32(const std::string& b, std::size_t at)
{
    std::uint32_t value = 0;
    for (int i = 3; i >= 0; --i)
        value = value << 8 | static_cast<unsigned char>(b[at + i]);
    return value;
}

void Put32(std::string& b, std::size_t at, std::uint32_t value)
{
    for (int i = 0; i < 4; ++i)
        b[at + i] = static_cast<char>(value >> 8 * i);
}

// A copy of `exe` built to cost the PE/NE check the most: a new last section
// with a resource tree of 63 type entries of version that lead to one name of
// 1024 languages, whose data entries lie 4 KiB apart and each give the
// program's own version resource; and the section before it with a virtual
// size of 0xFFFFF000. (The section table has room for one more header.)
void WriteCraftedModule(const std::wstring& exe, const std::wstring& path)
{
    std::string b = ReadFileBytes(exe);
    const std::size_t pe = Get32(b, 0x3C), optional = pe + 24, sections = Get32(b, pe + 6) & 0xFFFF;
    const std::size_t table = optional + (Get32(b, pe + 20) & 0xFFFF), header = table + 40 * sections;
    const std::size_t directory = optional + ((Get32(b, optional) & 0xFFFF) == 0x10B ? 112 : 128);
    const std::string key("V\0S\0_\0V\0E\0R\0S\0I\0O\0N\0_\0I\0N\0F\0O\0", 30);
    const std::size_t version = b.find(key) - 6;
    if (version > b.size())
        Fail("no version resource in " + NarrowUtf8(exe));
    const std::uint32_t va = Get32(b, optional + 56), names = 16 + 8 * 63, languages = names + 24;
    const std::uint32_t entries = 0x3000, data = entries + 0x1000 * 1024, size = Get32(b, version) & 0xFFFF;
    std::string tree(data, '\0');
    tree += b.substr(version, size);
    Put32(tree, 12, 63 << 16);
    for (std::uint32_t i = 0; i < 63; ++i)
        Put32(tree, 16 + 8 * i, 16), Put32(tree, 20 + 8 * i, 0x80000000u | names);
    Put32(tree, names + 12, 1 << 16), Put32(tree, names + 16, 1), Put32(tree, names + 20, 0x80000000u | languages);
    Put32(tree, languages + 12, 1024u << 16);
    for (std::uint32_t i = 0, at = entries; i < 1024; ++i, at += 0x1000) {
        Put32(tree, languages + 16 + 8 * i, i), Put32(tree, languages + 20 + 8 * i, at);
        Put32(tree, at, va + data), Put32(tree, at + 4, size);
    }
    b.resize((b.size() + 0x1FF) & ~std::size_t{0x1FF}, '\0');
    const std::uint32_t fields[] = {static_cast<std::uint32_t>(tree.size()), va, static_cast<std::uint32_t>(tree.size()),
                                    static_cast<std::uint32_t>(b.size()), 0, 0, 0, 0x40000040};
    for (std::size_t i = 0; i < 8; ++i)
        Put32(b, header + 8 + 4 * i, fields[i]);
    Put32(b, header - 40 + 8, 0xFFFFF000u);
    Put32(b, pe + 4, (Get32(b, pe + 4) & 0xFFFF) | static_cast<std::uint32_t>(sections + 1) << 16);
    Put32(b, directory, va), Put32(b, directory + 4, data);
    Put32(b, optional + 56, (va + static_cast<std::uint32_t>(tree.size()) + 0xFFF) & ~0xFFFu);
    b += tree;
    if (!childkit::WriteFileBytes(path, b))
        Fail("cannot write " + NarrowUtf8(path));
}

// Writes `count` paths, CR LF after each, going round `files` as often as needed.
void WriteList(const std::wstring& path, const std::vector<std::string>& files, int count)
{
    std::string text;
    for (int i = 0; i < count; ++i)
        text += files[i % files.size()] + "\r\n";
    if (!childkit::WriteFileBytes(path, text))
        Fail("cannot write the list file");
}

Options ParseOptions(int argc, wchar_t* argv[])
{
    Options options;
    for (int i = 1; i < argc; ++i) {
        std::wstring name = argv[i];
        if (name == L"--cleanup") {
            options.cleanup = true;
            continue;
        }
        if (i + 1 >= argc)
            Fail("missing value of " + NarrowUtf8(name));
        std::wstring value = argv[++i];
        if (name == L"--work")
            options.work = value;
        else if (name == L"--taskroll")
            options.taskroll = value;
        else if (name == L"--webroster")
            options.webroster = value;
        else if (name == L"--floor-browsers")
            options.floorBrowsers = value;
        else if (name == L"--table")
            options.table = value;
        else if (name == L"--runs")
            options.runs = std::max(1, _wtoi(value.c_str()));
        else if (name == L"--files")
            options.files = std::max(1, _wtoi(value.c_str()));
        else if (name == L"--log-files")
            options.logFiles = std::max(1, _wtoi(value.c_str()));
        else if (name == L"--procs")
            options.procs = std::max(0, _wtoi(value.c_str()));
        else if (name == L"--browsers")
            options.browsers = std::max(0, _wtoi(value.c_str()));
        else if (name == L"--java-runs")
            options.javaRuns = std::max(1, _wtoi(value.c_str()));
        else if (name == L"--java-dirs")
            options.javaDirs = std::max(0, _wtoi(value.c_str()));
        else if (name == L"--machine")
            options.emulated = value == L"emulated";
        else
            Fail("unknown option " + NarrowUtf8(name));
    }
    if (!options.cleanup &&
        (options.work.empty() || options.taskroll.empty() || options.webroster.empty() || options.floorBrowsers.empty()))
        Fail("--work, --taskroll, --webroster and --floor-browsers are required");
    return options;
}


struct Row {
    std::string number, what, contender, floor;
    double contenderValue, floorValue;
    const char* unit;
    double goal;    // 0: none
    double paired;  // median of the ratios of the runs of one round
    double goalExtraMs = 0;  // instead of a ratio: at most this much more than the floor
};

// The median of the ratios contender/floor of the runs made in the same round.
double PairedRatio(const Contender& contender, const Contender& floor, bool memory)
{
    std::vector<double> ratios;
    for (std::size_t i = 0; i < contender.rounds.size(); ++i) {
        for (std::size_t j = 0; j < floor.rounds.size(); ++j) {
            if (floor.rounds[j] != contender.rounds[i])
                continue;
            double a = memory ? contender.peakMiB[i] : contender.milliseconds[i];
            double b = memory ? floor.peakMiB[j] : floor.milliseconds[j];
            if (b > 0)
                ratios.push_back(a / b);
        }
    }
    return Median(ratios);
}

// The row of `contender` against `floor`: their medians and the paired ratio,
// of the times or (`memory`) of the peak working sets. A goal of 0 is none.
Row CompareRow(std::string number, std::string what, std::string contenderName, std::string floorName,
               const Contender& contender, const Contender& floor, double goal, bool memory = false)
{
    return {std::move(number),
            std::move(what),
            std::move(contenderName),
            std::move(floorName),
            Median(memory ? contender.peakMiB : contender.milliseconds),
            Median(memory ? floor.peakMiB : floor.milliseconds),
            memory ? "MiB" : "ms",
            goal,
            PairedRatio(contender, floor, memory)};
}

std::string Table(const std::vector<Row>& rows, const std::vector<std::string>& notes)
{
    std::string text;
    text += Format("%-2s %-26s %-26s %13s  %-21s %13s  %7s  %7s  %5s  %s\n", "#", "measurement", "contender",
                   "median", "floor", "median", "ratio", "paired", "goal", "verdict");
    text += std::string(138, '-') + "\n";
    for (const Row& row : rows) {
        double ratio = row.floorValue > 0 ? row.contenderValue / row.floorValue : 0;
        std::string goal = row.goal > 0 ? Format("%.2fx", row.goal) : "-";
        std::string verdict = row.goal <= 0 ? "(no goal)" : ratio <= row.goal ? "MET" : "MISSED";
        if (row.goalExtraMs > 0) {
            goal = Format("+%.0fs", row.goalExtraMs / 1000);
            verdict = row.contenderValue - row.floorValue <= row.goalExtraMs ? "MET" : "MISSED";
        }
        if (row.floorValue <= 0 || row.contenderValue <= 0)
            verdict = "NO DATA";
        text += Format("%-2s %-26s %-26s %9.1f %-3s  %-21s %9.1f %-3s  %6.3fx  %6.3fx  %5s  %s\n",
                       row.number.c_str(), row.what.c_str(), row.contender.c_str(), row.contenderValue, row.unit,
                       row.floor.c_str(), row.floorValue, row.unit, ratio, row.paired, goal.c_str(), verdict.c_str());
    }
    text += std::string(138, '-') + "\n";
    for (const std::string& note : notes)
        text += note + "\n";
    return text;
}

}  // namespace

int wmain(int argc, wchar_t* argv[])
{
    Options options = ParseOptions(argc, argv);
    if (options.cleanup) {
        RemoveBrowsers();
        RemoveCraftedJava();
        return 0;
    }
    const std::wstring& work = options.work;
    std::wstring here = RunnerDirectory();
    MakeDirectory(work);

    // The list of the list mode, and a shorter one for the /debuglog pair: every
    // log line is written through to disk, which makes a long list take minutes.
    std::vector<std::string> files = VersionedSystemFiles();
    std::wstring list = work + L"\\list.txt";
    std::wstring shortList = work + L"\\list-short.txt";
    WriteList(list, files, options.files);
    WriteList(shortList, files, options.logFiles);
    Progress("List files: %d and %d paths, going round %zu system files with a version resource\n", options.files,
             options.logFiles, files.size());

    // Each system file listed once, and each listed 8 times in a row: a run
    // pays for the distinct files it reads, not for the number of records.
    std::wstring onceList = work + L"\\list-once.txt", eightList = work + L"\\list-eight.txt";
    WriteList(onceList, files, static_cast<int>(files.size()));
    std::vector<std::string> eightTimes;
    for (const std::string& file : files)
        eightTimes.insert(eightTimes.end(), 8, file);
    WriteList(eightList, eightTimes, static_cast<int>(eightTimes.size()));

    // The worst crafted module, and a list of the plain program for its pair.
    std::wstring crafted = work + L"\\crafted.exe", craftedList = work + L"\\list-crafted.txt";
    std::wstring plainList = work + L"\\list-plain.txt";
    WriteCraftedModule(here + L"\\bench_waiter.exe", crafted);
    WriteList(craftedList, {NarrowUtf8(crafted)}, 1);
    WriteList(plainList, {NarrowUtf8(here + L"\\bench_waiter.exe")}, 1);

    std::vector<Contender> all(16);
    Contender& listTaskRoll = all[0];
    Contender& listFloor = all[1];
    Contender& shortTaskRoll = all[2];
    Contender& shortDebugLog = all[3];
    Contender& enumTaskRoll = all[4];
    Contender& enumFloor = all[5];
    Contender& startTaskRoll = all[6];
    Contender& startEmpty = all[7];
    Contender& webroster = all[8];
    Contender& webFloor = all[9];
    Contender& craftedTaskRoll = all[10];
    Contender& plainTaskRoll = all[11];
    Contender& onceTaskRoll = all[12];
    Contender& onceFloor = all[13];
    Contender& eightTaskRoll = all[14];
    Contender& eightFloor = all[15];

    // Every program runs from its own copy in its own directory, which is also
    // its working directory (TaskRoll writes processes.dat there).
    listTaskRoll = Contender{"TaskRoll /file:", Place(work, L"list-taskroll", options.taskroll), L"/file:" + list};
    listTaskRoll.sampleMemory = true;
    listFloor = Contender{"floor_list", Place(work, L"list-floor", here + L"\\floor_list.exe"),
                          L"\"" + list + L"\" processes.dat"};
    listFloor.sampleMemory = true;
    onceTaskRoll = Contender{"TaskRoll /file:(once)", Place(work, L"once-taskroll", options.taskroll),
                             L"/file:" + onceList};
    onceFloor = Contender{"floor_list (once)", Place(work, L"once-floor", here + L"\\floor_list.exe"),
                          L"\"" + onceList + L"\" processes.dat"};
    eightTaskRoll = Contender{"TaskRoll /file:(8 times)", Place(work, L"eight-taskroll", options.taskroll),
                              L"/file:" + eightList};
    eightFloor = Contender{"floor_list (8 times)", Place(work, L"eight-floor", here + L"\\floor_list.exe"),
                           L"\"" + eightList + L"\" processes.dat"};
    shortTaskRoll = Contender{"TaskRoll /file:(short)", Place(work, L"short-taskroll", options.taskroll),
                              L"/file:" + shortList};
    shortDebugLog = Contender{"TaskRoll /debuglog /file:", Place(work, L"short-debuglog", options.taskroll),
                              L"/debuglog /file:" + shortList};
    std::wstring logPath = shortDebugLog.Dir() + L"\\taskroll.log";
    shortDebugLog.before = [logPath] { DeleteFileW(logPath.c_str()); };
    enumTaskRoll = Contender{"TaskRoll", Place(work, L"enum-taskroll", options.taskroll), L""};
    enumFloor = Contender{"floor_procs", Place(work, L"enum-floor", here + L"\\floor_procs.exe"), L"processes.dat"};
    startTaskRoll = Contender{"TaskRoll /?", Place(work, L"start-taskroll", options.taskroll), L"/?"};
    startEmpty = Contender{"empty", Place(work, L"start-empty", here + L"\\empty.exe"), L""};
    webroster = Contender{"Webroster (x86)", Place(work, L"web-webroster", options.webroster), L""};
    webFloor = Contender{"floor_browsers (x86)", Place(work, L"web-floor", options.floorBrowsers), L""};
    craftedTaskRoll = Contender{"TaskRoll /file:(crafted)", Place(work, L"crafted-taskroll", options.taskroll),
                                L"/file:" + craftedList};
    plainTaskRoll = Contender{"TaskRoll /file:(plain)", Place(work, L"plain-taskroll", options.taskroll),
                              L"/file:" + plainList};

    Progress("Registering %d browsers under HKCU\\%ls ...\n", options.browsers, LIST_KEY);
    RegisteredBrowsers browsers(options.browsers);
    Progress("Starting %d waiter processes ...\n", options.procs);
    Waiters waiters(Place(work, L"waiters", here + L"\\bench_waiter.exe"), options.procs);

    LARGE_INTEGER frequency, start, end;
    QueryPerformanceFrequency(&frequency);
    QueryPerformanceCounter(&start);
    Progress("One warm-up round, then %d rounds of the %zu contenders:", options.runs, all.size());
    for (Contender& contender : all)
        RunOnce(contender, -1);
    for (int round = 0; round < options.runs; ++round) {
        Progress(" %d", round + 1);
        for (std::size_t i = 0; i < all.size(); ++i)
            RunOnce(all[(round + i) % all.size()], round);
    }
    QueryPerformanceCounter(&end);
    Progress(" (%.0f s)\n", static_cast<double>(end.QuadPart - start.QuadPart) / static_cast<double>(frequency.QuadPart));

    // The worst crafted Java process against a plain enumeration, in a few
    // rounds of their own: the process and its files are made before each run
    // of the one and removed after it, so that the other meets no Java process.
    Contender javaPlain{"TaskRoll (plain)", Place(work, L"java-plain", options.taskroll), L""};
    Contender javaCrafted{"TaskRoll, crafted javaw", Place(work, L"java-crafted", options.taskroll), L""};
    MakeDirectory(work + L"\\java");
    if (!CopyFileW((here + L"\\bench_waiter.exe").c_str(), (work + L"\\java\\javaw.exe").c_str(), FALSE))
        Fail("cannot copy the waiter as javaw.exe");
    CraftedJava craftedJava(work + L"\\java\\javaw.exe", options.javaDirs);
    javaCrafted.before = [&craftedJava] { craftedJava.Start(); };
    javaCrafted.after = [&craftedJava] { craftedJava.Stop(); };
    Contender* java[] = {&javaPlain, &javaCrafted};
    Progress("Crafted javaw.exe: %d hsperfdata_* directories in each of %zu places, a 4 MiB file in each; one "
             "warm-up round, then %d rounds:", options.javaDirs, craftedJava.places, options.javaRuns);
    for (Contender* contender : java)
        RunOnce(*contender, -1);
    for (int round = 0; round < options.javaRuns; ++round) {
        Progress(" %d", round + 1);
        for (int i = 0; i < 2; ++i)
            RunOnce(*java[(round + i) % 2], round);
    }
    Progress("\n");

    // What the last run of each wrote: contender and floor must have done the same work.
    std::vector<std::string> notes;
    bool allChecked = true;
    auto check = [&notes, &allChecked](bool ok, const std::string& text) {
        notes.push_back((ok ? "check ok:  " : "WARNING:   ") + text);
        allChecked = allChecked && ok;
    };
    const std::string recordEnd = "$\r\n";
    const std::string wideLineEnd("\r\0\n\0", 4);
    std::string taskrollList = ReadFileBytes(listTaskRoll.Dir() + L"\\processes.dat");
    std::string floorList = ReadFileBytes(listFloor.Dir() + L"\\processes.dat");
    check(taskrollList == floorList && CountLines(taskrollList, recordEnd) == static_cast<std::size_t>(options.files),
          Format("1: TaskRoll and floor_list wrote %zu and %zu records for %d paths, %s",
                 CountLines(taskrollList, recordEnd), CountLines(floorList, recordEnd), options.files,
                 taskrollList == floorList ? "byte-identical" : "NOT identical"));
    for (const Contender* pair : {&onceTaskRoll, &eightTaskRoll}) {
        const Contender& floor = pair == &onceTaskRoll ? onceFloor : eightFloor;
        std::string contenderRecords = ReadFileBytes(pair->Dir() + L"\\processes.dat");
        check(!contenderRecords.empty() && contenderRecords == ReadFileBytes(floor.Dir() + L"\\processes.dat"),
              Format("%s: TaskRoll and floor_list wrote %zu records, %s", pair == &onceTaskRoll ? "9" : "10",
                     CountLines(contenderRecords, recordEnd),
                     contenderRecords == ReadFileBytes(floor.Dir() + L"\\processes.dat") ? "byte-identical"
                                                                                          : "NOT identical"));
    }
    std::size_t taskrollProcs = CountLines(ReadFileBytes(enumTaskRoll.Dir() + L"\\processes.dat"), recordEnd);
    std::size_t floorProcs = CountLines(ReadFileBytes(enumFloor.Dir() + L"\\processes.dat"), recordEnd);
    check(taskrollProcs == floorProcs && taskrollProcs >= static_cast<std::size_t>(options.procs),
          Format("2: TaskRoll and floor_procs wrote %zu and %zu records (%d waiters running)", taskrollProcs,
                 floorProcs, options.procs));
    check(ReadFileBytes(startTaskRoll.Stdout()).compare(0, 6, "USAGE:") == 0, "3: TaskRoll /? printed its usage");
    std::string shortRecords = ReadFileBytes(shortTaskRoll.Dir() + L"\\processes.dat");
    std::string log = ReadFileBytes(logPath);
    check(shortRecords == ReadFileBytes(shortDebugLog.Dir() + L"\\processes.dat") &&
              CountLines(shortRecords, recordEnd) == static_cast<std::size_t>(options.logFiles),
          Format("4: same %zu records with and without /debuglog; one run's log: %zu lines, %zu bytes",
                 CountLines(shortRecords, recordEnd), CountLines(log, "\r\n"), log.size()));
    std::string webOut = ReadFileBytes(webroster.Stdout());
    std::string webFloorOut = ReadFileBytes(webFloor.Stdout());
    check(webOut == webFloorOut && CountLines(webOut, wideLineEnd) >= static_cast<std::size_t>(options.browsers),
          Format("5: Webroster and floor_browsers wrote %zu and %zu lines, %s", CountLines(webOut, wideLineEnd),
                 CountLines(webFloorOut, wideLineEnd), webOut == webFloorOut ? "byte-identical" : "NOT identical"));
    const double extra = Median(craftedTaskRoll.milliseconds) - Median(plainTaskRoll.milliseconds);
    check(ReadFileBytes(craftedTaskRoll.Dir() + L"\\processes.dat") == NarrowUtf8(crafted) + "\t\tunknown_description$\r\n",
          "7: the crafted module was described by the default");
    notes.push_back(Format("7: the crafted module costs %+.1f ms against the plain program (goal: at most +1000 ms): %s",
                           extra, extra <= 1000 ? "MET" : "MISSED"));
    // The crafted process's files hold no key: its record keeps the executable's path.
    std::size_t javaRecords = CountLines(ReadFileBytes(javaCrafted.Dir() + L"\\processes.dat"), "\\javaw.exe\t");
    std::size_t plainRecords = CountLines(ReadFileBytes(javaPlain.Dir() + L"\\processes.dat"), "\\javaw.exe\t");
    check(javaRecords == 1 && plainRecords == 0,
          Format("8: the crafted javaw's record kept its path (%zu such records, %zu in the plain run); it added "
                 "%.0f ms to a run (medians)",
                 javaRecords, plainRecords, Median(javaCrafted.milliseconds) - Median(javaPlain.milliseconds)));
    std::vector<const Contender*> every;
    for (const Contender& contender : all)
        every.push_back(&contender);
    every.insert(every.end(), std::begin(java), std::end(java));
    for (const Contender* contender : every) {
        if (contender->failures > 0)
            check(false, Format("%s failed %d times", contender->label.c_str(), contender->failures));
    }

    // The version reader's goals (rows 2, 9 and 10) by the kind of machine:
    // where the kernel runs no 32-bit code, system calls cost more.
    const double enumerationGoal = options.emulated ? 0.50 : 0.40;
    const double onceGoal = options.emulated ? 1.00 : 0.70;
    const double eightGoal = options.emulated ? 0.40 : 0.25;
    std::vector<Row> rows = {
        CompareRow("1", Format("list mode, %d files", options.files), "TaskRoll /file:", "floor_list", listTaskRoll,
                   listFloor, 1.1),
        CompareRow("2", Format("enumeration, %d waiters", options.procs), "TaskRoll", "floor_procs", enumTaskRoll,
                   enumFloor, enumerationGoal),
        CompareRow("3", "start-up", "TaskRoll /?", "empty", startTaskRoll, startEmpty, 1.1),
        CompareRow("4", Format("/debuglog cost, %d files", options.logFiles), "TaskRoll /debuglog /file:",
                   "TaskRoll /file:", shortDebugLog, shortTaskRoll, 0),
        CompareRow("5", Format("Webroster, %d browsers", options.browsers), "Webroster (x86)", "floor_browsers (x86)",
                   webroster, webFloor, 1.2),
        CompareRow("6", "peak working set, row 1", "TaskRoll /file:", "floor_list", listTaskRoll, listFloor, 0, true),
        CompareRow("7", "worst crafted module", "TaskRoll /file:(crafted)", "TaskRoll /file:(plain)", craftedTaskRoll,
                   plainTaskRoll, 0),
        CompareRow("8", Format("javaw, %zux%d crafted dirs", craftedJava.places, options.javaDirs),
                   "TaskRoll, crafted javaw", "TaskRoll (plain)", javaCrafted, javaPlain, 0),
        CompareRow("9", Format("list, %zu files once", files.size()), "TaskRoll /file:(once)", "floor_list (once)",
                   onceTaskRoll, onceFloor, onceGoal),
        CompareRow("10", Format("list, %zu files 8 times", files.size()), "TaskRoll /file:(8 times)",
                   "floor_list (8 times)", eightTaskRoll, eightFloor, eightGoal),
    };
    rows[6].goalExtraMs = 1000;  // the crafted module
    rows[7].goalExtraMs = 1000;  // the crafted javaw
    notes.insert(notes.begin(),
                 Format("ratio = contender median / floor median (the verdict compares it with the goal); paired = "
                        "median of the %d per-round ratios.\nMedians of %d interleaved rounds after one warm-up round "
                        "(row 7: %d rounds). Range of the runs of each contender, ms:", options.runs, options.runs,
                        options.javaRuns));
    notes.insert(notes.begin(), Format("Goals of rows 2, 9 and 10 for a machine whose kernel %s.",
                                       options.emulated ? "runs no 32-bit code" : "runs 32-bit code"));
    for (std::size_t i = 0; i < every.size(); ++i) {
        const std::vector<double>& times = every[i]->milliseconds;
        auto range = std::minmax_element(times.begin(), times.end());
        if (range.first != times.end())
            notes.insert(notes.begin() + 2 + i, Format("  %-28s %9.1f .. %9.1f", every[i]->label.c_str(),
                                                         *range.first, *range.second));
    }
    std::string table = Table(rows, notes);
    std::fputs(table.c_str(), stdout);
    if (!options.table.empty()) {
        FILE* file = _wfopen(options.table.c_str(), L"wb");
        if (file != nullptr) {
            std::fputs(table.c_str(), file);
            std::fclose(file);
        }
    }
    // A missed goal is a result; a failed run or a check that did not hold
    // means the table cannot be trusted.
    return allChecked ? 0 : 2;
}
